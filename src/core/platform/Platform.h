#pragma once

#include "core/platform/Dialogs.h"
#include "core/link/SerialPort.h"

#include <QDateTime>
#include <QString>

#include <functional>
#include <memory>

namespace vx {

// Everything the window takes from the machine, so tests can hand in a fake
// port, answer dialogs, fix the clock and use a directory of their own.
struct Platform {
    std::unique_ptr<SerialPort> port;
    std::unique_ptr<Dialogs> dialogs;
    std::function<QDateTime()> clock;
    QString programDir;
    // Viewer mode: no port is opened and nothing sent; the window shows what
    // this store (a SQLite file or a postgresql:// URL) holds. Empty: the usual window.
    QString viewerStore;
};

} // namespace vx
