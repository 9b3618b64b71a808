#include "window/FirstStart.h"

#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>

namespace vx {

QSize roomyWindowSize(const QWidget &window, const QTabWidget &tabs)
{
    // The tab area's hint is what the window's hint was built from; what the
    // tab titles and the first page need beyond it is added to the window's.
    const QSize hint = window.sizeHint();
    const QSize tabsHint = tabs.sizeHint();
    const int titles = tabs.tabBar()->sizeHint().width(); // every tab, not the scrolling minimum
    const int frame = 2 * tabs.style()->pixelMetric(QStyle::PM_DefaultFrameWidth) + 8;
    int pageWidth = 0, pageHeight = 0;
    if (const auto *area = qobject_cast<const QScrollArea *>(tabs.widget(0)); area && area->widget()) {
        const QSize page = area->widget()->sizeHint();
        const int bar = area->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
        pageWidth = page.width() + bar + frame;
        pageHeight = page.height() + tabs.tabBar()->sizeHint().height() + frame;
    }
    const int width = hint.width() + qMax(0, qMax(titles + frame + 24, pageWidth) - tabsHint.width());
    const int height = hint.height() + qMax(0, pageHeight - tabsHint.height());
    return {width, height};
}

} // namespace vx
