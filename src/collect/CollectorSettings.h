#pragma once

#include "bus/BusEngine.h"

#include <QString>
#include <QStringList>

#include <optional>

class QCommandLineParser;

namespace vx {

// Everything vxcollect is told, from its INI file and its options (options win).
struct CollectorSettings {
    QString port;          // a device path, or COMn through the program directory's mapping
    QString programDir;    // where dataGet.txt and data/ go
    BusSettings bus;
    bool quiet = false;
    bool json = false;
};

// "1-36,40": addresses 1..247, in order, without repeats; nothing when the text is not such a list.
std::optional<QList<int>> parseAddressRanges(const QString &text);

// Reads the options (and the INI file --config names) into settings; each
// bad value gives one line naming the option and the value.
struct SettingsRead {
    CollectorSettings settings;
    QStringList errors;
    QString information; // --help or --version: print it and end
};
SettingsRead readCollectorSettings(const QStringList &arguments);

} // namespace vx
