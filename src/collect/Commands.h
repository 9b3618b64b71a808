#pragma once

#include "collect/CollectorSettings.h"
#include "core/link/SerialPort.h"

#include <QObject>

#include <functional>
#include <memory>

namespace vx {

// vxcollect's commands besides collecting. Each returns the program's exit
// code: 0 done, 1 failed (the reason printed), 4 the store cannot be used.
// import DIR: data/<address>.txt logs into the store, with progress.
int importLogs(const CollectorSettings &settings);
// export: readings as CSV, to --out or standard output.
int exportCsv(const CollectorSettings &settings);
// notify-test [CHANNEL]: one test message through each channel (or the one
// named), saying what each receiver answered; 0 when every one accepted.
int notifyTest(const CollectorSettings &settings);
// passwd NAME: a password from standard input (not echoed on a terminal),
// printed as the [web-users] line that lets NAME into the web view.
int makeWebPassword(const CollectorSettings &settings);

// The port settings name: COMn through the window's mapping (ports.conf,
// VXMON_COMn), anything else a device path or tcp://HOST:PORT.
std::unique_ptr<SerialPort> collectorPort(const CollectorSettings &settings);
// A device path, tcp://host:port, or COMn through the program directory's mapping.
std::unique_ptr<SerialPort> portNamed(const QString &programDir, const QString &name);

// Calls stop() in the event loop when SIGTERM or SIGINT comes (once).
void onStopSignals(QObject *context, std::function<void()> stop);

} // namespace vx
