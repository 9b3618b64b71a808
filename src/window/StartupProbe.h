#pragma once

#include <QObject>

namespace vx {

// With VXMON_STARTUP_PROBE set, the first paint of the window prints the
// monotonic clock and resident memory, and the program ends: bench/startup
// measures from process start to a window on the screen.
class StartupProbe : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool m_done = false;
};

} // namespace vx
