#pragma once

#include "core/depot/Depot.h"

#include <QList>
#include <QString>

#include <optional>

namespace vxsim {

// One line of the control channel: how the world of the simulated bus
// changes while it runs (for tests and demonstrations).
struct ControlCommand {
    enum class Kind { Heat, Rise, Hold, Release, Silence, Revive, Reset, Weather, AirFault };
    Kind kind = Kind::Reset;
    QList<int> addresses;
    int point = 0;      // 1..18; 0: every point of the cable
    double amount = 0;  // heat: degrees added; rise: degrees per hour
    quint16 raw = 0;    // hold: the register a point reads
    std::optional<double> humidity; // weather: %RH (with amount: °C); none: the daily cycle again
    int fault = 0;      // airfault: none, exception, short, range
};

// The commands and their grammar, for --help.
QString controlHelp();

// Parses one line; on a mistake returns nothing and says why in error. With a
// depot, a cable may also be named by its place: bin2:3,4 (bin 2, row 3, column
// 4; or ring 3 at 4 degrees in a silo), when it hangs on this bus.
std::optional<ControlCommand> parseControlCommand(const QString &line, QString *error, const vx::Depot *depot = nullptr,
                                                  int bus = 1);

} // namespace vxsim
