#pragma once

#include "window/handlers/ChoiceList.h"

#include <QComboBox>

namespace vx {

// A combo box that also accepts typed text. listIndex() is the item chosen
// from the list, or -1 once the operator has typed into the box instead.
class ListCombo : public QComboBox, public ChoiceList {
    Q_OBJECT
public:
    explicit ListCombo(QWidget *parent = nullptr);

    int listIndex() const override { return m_chosen ? currentIndex() : -1; }
    // Selects item index as if the operator had chosen it (no signal).
    void choose(int index) override;
    int count() const override { return QComboBox::count(); }
    QString itemText(int index) const override { return QComboBox::itemText(index); }
    int currentIndex() const override { return QComboBox::currentIndex(); }
    int findItem(const QString &text) const override { return findText(text, Qt::MatchExactly); }
    void setItemToolTip(int index, const QString &text) override { setItemData(index, text, Qt::ToolTipRole); }
    void setListToolTip(const QString &text) override { setToolTip(text); }
    // Shows text with no item selected.
    void showUnselected(const QString &text);

signals:
    // The operator chose an item from the list.
    void chosen(int index);

private:
    bool m_chosen = false;
};

} // namespace vx
