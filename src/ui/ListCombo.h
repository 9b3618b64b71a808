#pragma once

#include <QComboBox>

namespace vx {

// A combo box that also accepts typed text. listIndex() is the item chosen
// from the list, or -1 once the operator has typed into the box instead.
class ListCombo : public QComboBox {
    Q_OBJECT
public:
    explicit ListCombo(QWidget *parent = nullptr);

    int listIndex() const { return m_chosen ? currentIndex() : -1; }
    // Selects item index as if the operator had chosen it (no signal).
    void choose(int index);
    // Shows text with no item selected.
    void showUnselected(const QString &text);

signals:
    // The operator chose an item from the list.
    void chosen(int index);

private:
    bool m_chosen = false;
};

} // namespace vx
