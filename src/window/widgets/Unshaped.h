#pragma once

#include <QFont>
#include <QWidget>

namespace vx {

// For controls whose text is only digits, hex, points, colons and blanks and
// changes with every reply: such text needs no shaping, and shaping was most
// of what laying out and painting it cost.
inline void withoutShaping(QWidget *widget)
{
    QFont font = widget->font();
    font.setStyleStrategy(QFont::PreferNoShaping);
    widget->setFont(font);
}

} // namespace vx
