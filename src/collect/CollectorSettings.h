#pragma once

#include "bus/BusEngine.h"
#include "central/MqttSettings.h"
#include "http/HttpServer.h"
#include "store/ReadingStore.h"
#include "store/StoreService.h"

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
    qint64 rawLogMaxBytes = 100LL * 1024 * 1024; // dataGet.txt rotates past it; 0: no limit
    bool quiet = false;
    bool json = false;
    StoreSettings store;       // local file (default vxmon.db in programDir), central URL, site, age limit
    MqttSettings mqtt;         // the broker readings are published to; host empty: none
    QString metricsHost = QStringLiteral("127.0.0.1"); // empty: no metrics endpoint
    int metricsPort = 9464;    // 0: any free port (it is printed)
    HttpLimits httpLimits;

    enum class Command { Collect, Import, Export };
    Command command = Command::Collect;
    QString importDir;         // import: where the <address>.txt logs are
    ExportRequest exportRequest;
    QString exportFile;        // export: "-" or empty for standard output
};

// "2026-12-07", "2026-12-07 08:30[:15]" (local time) or RFC 3339 with an offset,
// as UTC milliseconds; nothing for anything else.
std::optional<qint64> parseTimeArgument(const QString &text);

// "100M", "512k", "2G" (binary units), "1000" (bytes); nothing for anything else.
std::optional<qint64> parseByteSize(const QString &text);

// "1-36,40": addresses 1..247, in order, without repeats; nothing when the text is not such a list.
std::optional<QList<int>> parseAddressRanges(const QString &text);

// "host", "host:port", "[v6 address]:port"; nothing for anything else, or
// for a port outside 1..65535 (0 too when allowZero).
struct HostPort {
    QString host;
    int port = 0;
};
std::optional<HostPort> parseHostPort(const QString &text, int defaultPort, bool allowZero = false);

// Reads the options (and the INI file --config names) into settings; each
// bad value gives one line naming the option and the value.
struct SettingsRead {
    CollectorSettings settings;
    QStringList errors;
    QString information; // --help or --version: print it and end
};
SettingsRead readCollectorSettings(const QStringList &arguments);

} // namespace vx
