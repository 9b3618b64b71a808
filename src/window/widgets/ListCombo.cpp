#include "window/widgets/ListCombo.h"

#include <QLineEdit>

namespace vx {

ListCombo::ListCombo(QWidget *parent) : QComboBox(parent)
{
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert); // typed text never becomes an item
    connect(lineEdit(), &QLineEdit::textEdited, this, [this] { m_chosen = false; });
    connect(this, &QComboBox::activated, this, [this](int index) {
        m_chosen = index >= 0;
        if (m_chosen)
            emit chosen(index);
    });
}

void ListCombo::choose(int index)
{
    setCurrentIndex(index);
    m_chosen = index >= 0 && index < count();
}

void ListCombo::showUnselected(const QString &text)
{
    setCurrentIndex(-1);
    setEditText(text);
    m_chosen = false;
}

} // namespace vx
