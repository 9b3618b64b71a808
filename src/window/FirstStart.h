#pragma once

#include <QSize>

class QTabWidget;
class QWidget;

namespace vx {

// The size at which the window shows every tab title and the whole of its
// first tab page (all ten grid columns), from the size hints of the window
// and its tab area; the caller bounds it by the screen.
QSize roomyWindowSize(const QWidget &window, const QTabWidget &tabs);

} // namespace vx
