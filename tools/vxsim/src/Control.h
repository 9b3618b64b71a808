#pragma once

#include <QList>
#include <QString>

#include <optional>

namespace vxsim {

// One line of the control channel: how the world of the simulated bus
// changes while it runs (for tests and demonstrations).
struct ControlCommand {
    enum class Kind { Heat, Rise, Hold, Release, Silence, Revive, Reset };
    Kind kind = Kind::Reset;
    QList<int> addresses;
    int point = 0;      // 1..18; 0: every point of the cable
    double amount = 0;  // heat: degrees added; rise: degrees per hour
    quint16 raw = 0;    // hold: the register a point reads
};

// The commands and their grammar, for --help.
QString controlHelp();

// Parses one line; on a mistake returns nothing and says why in error.
std::optional<ControlCommand> parseControlCommand(const QString &line, QString *error);

} // namespace vxsim
