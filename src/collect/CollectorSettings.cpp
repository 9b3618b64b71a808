#include "collect/CollectorSettings.h"

#include "core/air/AirDevices.h"
#include "core/settings/ForwardingSettings.h"
#include "core/settings/SettingTexts.h"

#include "core/central/MqttMessages.h"
#include "core/records/ShownValue.h"
#include "core/platform/ProgramDir.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QDir>
#include <QRegularExpression>
#include <QSysInfo>
#include <QFileInfo>
#include <QHostAddress>
#include <QSettings>

#include <functional>

#include "core/notify/NotifySettings.h"

namespace vx {

namespace {

struct Option {
    const char *name;
    const char *help;
    const char *valueName;
    const char *fallback;
};

// Every option can also stand in the INI file's [collect] section, under the same name.
const Option kOptions[] = {
    {"port", "Serial device, or COMn mapped as the window maps it (ports.conf, VXMON_COMn).", "device", "COM1"},
    {"baud", "Baud rate (default 9600).", "n", "9600"},
    {"addresses", "Device addresses to poll, e.g. 1-36,40 (default 1-36).", "list", "1-36"},
    {"function", "Read function, 3 or 4 (default 3).", "n", "3"},
    {"start", "First register (default 0).", "n", "0"},
    {"count", "Registers per request, 1-125 (default 18).", "n", "18"},
    {"period", "Cycle period in ms; 0: cycles follow each other at the wire's rate (default 0).", "ms", "0"},
    {"timeout", "Response timeout in ms; 0: from the baud rate and the frame sizes (default 0).", "ms", "0"},
    {"retries", "Retries of a request without a good reply (default 1).", "n", "1"},
    {"backoff", "A silent device is asked at most every this many cycles (default 10).", "cycles", "10"},
    {"mode", "poll, upload or both (default poll).", "mode", "poll"},
    {"dir", "Program directory: dataGet.txt and data/ go there (default: as the window's).", "path", ""},
    {"store", "Readings store: a SQLite file (default vxmon.db in the program directory); for import and "
              "export also postgresql://user@host:port/dbname.", "file|url", ""},
    {"central", "Central PostgreSQL store the readings are shipped to: postgresql://user@host:port/dbname.", "url", ""},
    {"site", "This bus's name in the central store (default: the host name).", "name", ""},
    {"raw-log-max", "dataGet.txt is kept under this size (k, M or G: KiB, MiB, GiB): past it, it becomes "
                    "dataGet.txt.1 (the one before is deleted); 0: no limit (default 100M).", "size", "100M"},
    {"keep-days", "Delete readings older than this many days; 0 keeps them (default 0).", "days", "0"},
    {"mqtt", "MQTT broker readings are published to: host or host:port (default port 1883); none when empty.", "host[:port]", ""},
    {"mqtt-prefix", "First topic level(s) (default vxmon): topics are <prefix>/<site>/<address>/<point>.", "prefix", "vxmon"},
    {"mqtt-qos", "MQTT quality of service, 0, 1 or 2 (default 1).", "n", "1"},
    {"mqtt-user", "MQTT user name.", "name", ""},
    {"mqtt-password", "MQTT password (better in the INI file: a command line is visible to every user).", "password", ""},
    {"mqtt-ca", "CA certificate file: connect to the broker with TLS.", "file", ""},
    {"mqtt-client-id", "MQTT client id (default vxcollect-<site>).", "id", ""},
    {"mqtt-version", "MQTT protocol version, 5 or 3.1.1 (default 5).", "version", "5"},
    {"mqtt-keepalive", "MQTT keep-alive in seconds (default 30).", "s", "30"},
    {"metrics", "Prometheus metrics and /healthz on host:port (default 127.0.0.1:9464; port 0: any free one); "
                "\"off\": none.", "host:port", "127.0.0.1:9464"},
    {"web-base", "Path the web view is served under, for a reverse proxy that does not strip it, e.g. /vxmon "
                 "(default: the root).", "path", ""},
    {"control", "Control socket through which the window takes the bus and gives it back (default "
                "vxcollect.sock in the program directory; mode 0660); \"off\": none.", "path", ""},
    {"depot", "Depot file: bins, buses and where each cable hangs (default depot.ini in the program directory, "
              "when it is there); \"off\": none. Buses 2 and on are polled too, each on its own port.", "file", ""},
    {"air", "Without a depot file: temperature/humidity transmitters on the bus, ADDRESS:PROFILE:PLACE,... "
            "(PROFILE th or ht, PLACE outside or headspace), e.g. 50:th:outside,51:ht:headspace. With one: its [air.*].",
     "list", ""},
    {"fans", "Without a depot file: the bin's aeration fans on a relay module's coil, ADDRESS:COIL, e.g. 60:0.",
     "address:coil", ""},
    {"lease", "Seconds a window holds the bus without renewing before it is taken back (default 30).", "s", "30"},
    {"from", "export: first time, e.g. 2026-12-01 or 2026-12-01T08:00:00+08:00 (default: the oldest).", "time", ""},
    {"to", "export: end time, not included (default: now).", "time", ""},
    {"per", "export: reading (one row per reading) or frame (a column per point) (default reading).", "row", "reading"},
    {"out", "export: CSV file to write (default: standard output).", "file", "-"},
};

} // namespace

namespace {
// The depot file's buses: bus 1 is the collector's own (an option or the INI
// file wins over what the depot says of it); each further bus gets an engine.
// --air and --fans: a depot without a file gets its transmitters and fans from them.
void readAirOptions(CollectorSettings &s, const QString &air, const QString &fans, QStringList *errors)
{
    if (air.isEmpty() && fans.isEmpty())
        return;
    if (s.depot.fromFile) {
        *errors << QStringLiteral("--air, --fans: the depot file names its transmitters ([air.BUS.ADDRESS]) and fans ([fans.BIN])");
        return;
    }
    static const QRegularExpression item(QStringLiteral("^(\\d{1,3}):(th|ht):(outside|headspace)$"));
    for (const QString &part : air.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const auto m = item.match(part.trimmed().toLower());
        const int address = m.captured(1).toInt();
        if (!m.hasMatch() || address < 1 || address > 247 || s.depot.cable(address)) {
            *errors << QStringLiteral("--air: %1 is not ADDRESS:th|ht:outside|headspace of an address no cable has").arg(shownValue(part));
            return;
        }
        DepotAir a;
        a.address = address;
        a.profile = m.captured(2);
        a.bin = m.captured(3) == QLatin1String("outside") ? 0 : 1;
        a.section = QStringLiteral("air.%1").arg(address);
        s.depot.air.append(a);
        if (!s.bus.addresses.contains(address))
            s.bus.addresses.append(address);
    }
    if (!fans.isEmpty()) {
        static const QRegularExpression relay(QStringLiteral("^(\\d{1,3}):([0-7])$"));
        const auto m = relay.match(fans.trimmed());
        if (!m.hasMatch() || m.captured(1).toInt() < 1 || m.captured(1).toInt() > 247) {
            *errors << QStringLiteral("--fans: %1 is not ADDRESS:COIL such as 60:0").arg(shownValue(fans));
            return;
        }
        s.depot.fans.append(DepotFans{1, 1, m.captured(1).toInt(), m.captured(2).toInt(), 0});
    }
}

void askTransmittersTheirOwn(CollectorSettings &s)
{
    // Transmitters are asked for their own registers, not a collector's.
    for (const DepotAir &a : s.depot.air) {
        const auto profile = s.depot.airProfile(a.profile);
        if (!profile)
            continue;
        const BusSettings::Read read{profile->function, profile->first, profile->count};
        if (a.bus == 1)
            s.bus.reads.insert(a.address, read);
        for (CollectorSettings::OtherBus &other : s.otherBuses)
            if (other.number == a.bus)
                other.bus.reads.insert(a.address, read);
    }
}

void readDepot(CollectorSettings &s, const QString &option, const std::function<bool(const char *)> &given,
               QStringList *errors)
{
    if (option.compare(QLatin1String("off"), Qt::CaseInsensitive) == 0)
        return;
    const QString path = option.isEmpty() ? depotFilePath(s.programDir) : option;
    if (!option.isEmpty() && !QFileInfo(path).isFile()) {
        *errors << QStringLiteral("--depot: cannot read %1").arg(shownValue(path));
        return;
    }
    s.depot = readDepotFile(path, s.bus.addresses);
    if (!s.depot.fromFile)
        return;
    for (const DepotProblem &p : s.depot.errors)
        s.depotNotes << p.text() + QStringLiteral(" (left out)");
    for (const DepotProblem &p : s.depot.warnings)
        s.depotNotes << p.text();
    if (const DepotBus *first = s.depot.bus(1)) {
        if (!first->port.isEmpty() && !given("port"))
            s.port = first->port;
        if (!given("baud") && first->line > 0)
            s.bus.baud = first->baud;
        if (!given("addresses") && !s.depot.addressesOf(1).isEmpty())
            s.bus.addresses = s.depot.addressesOf(1);
    }
    for (const DepotBus &b : s.depot.buses) {
        if (b.number == 1)
            continue;
        CollectorSettings::OtherBus other{b.number, b.port, s.bus};
        other.bus.baud = b.baud;
        other.bus.addresses = s.depot.addressesOf(b.number);
        s.otherBuses.append(other);
    }
}
} // namespace

SettingsRead readCollectorSettings(const QStringList &arguments)
{
    SettingsRead result;
    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral("vxcollect: unattended collection from a bus of data collectors"));
    p.addHelpOption();
    p.addPositionalArgument(QStringLiteral("command"),
                            QStringLiteral("Nothing: collect. \"import DIR\": backfill data/<address>.txt logs from DIR "
                                           "into the store. \"export\": readings as CSV. \"notify-test [CHANNEL]\": "
                                           "one test message through each [notify.NAME] channel of --config. \"passwd NAME\": "
                                           "a password (read from standard input) as the line for [web-users]."),
                            QStringLiteral("[import DIR | export | notify-test | passwd NAME]"));
    p.addVersionOption();
    const QCommandLineOption config(QStringLiteral("config"), QStringLiteral("INI file with a [collect] section."),
                                    QStringLiteral("file"));
    const QCommandLineOption quiet(QStringLiteral("quiet"), QStringLiteral("Print nothing while collecting."));
    const QCommandLineOption json(QStringLiteral("json"),
                                  QStringLiteral("Print one JSON object per reading set and per device change."));
    p.addOption(config);
    p.addOption(quiet);
    p.addOption(json);
    for (const Option &o : kOptions)
        p.addOption(QCommandLineOption(QString::fromLatin1(o.name), QString::fromLatin1(o.help),
                                       QString::fromLatin1(o.valueName)));
    if (!p.parse(arguments)) {
        const QString error = p.errorText(); // names what was typed, which may be anything
        result.errors << (error.size() > 200 ? error.left(200) + QStringLiteral("...") : error);
        return result;
    }
    if (p.isSet(QStringLiteral("help")) || p.isSet(QStringLiteral("version"))) {
        result.information = p.isSet(QStringLiteral("help")) ? p.helpText()
                                                            : QStringLiteral("vxcollect %1\n").arg(QStringLiteral(VXMON_VERSION));
        return result;
    }
    std::optional<QSettings> ini;
    if (p.isSet(config)) {
        const QString file = p.value(config);
        if (!QFileInfo(file).isFile() || !QFileInfo(file).isReadable()) {
            result.errors << QStringLiteral("--config: cannot read %1").arg(shownValue(file));
            return result;
        }
        ini.emplace(file, QSettings::IniFormat);
        ini->beginGroup(QStringLiteral("collect"));
    }
    auto value = [&](const Option &o) {
        const QString name = QString::fromLatin1(o.name);
        if (p.isSet(name))
            return p.value(name);
        if (ini && ini->contains(name)) {
            // An INI value with commas ("1-4,9") comes back as a list.
            const QVariant v = ini->value(name);
            return v.typeId() == QMetaType::QStringList ? v.toStringList().join(QLatin1Char(',')) : v.toString();
        }
        return QString::fromLatin1(o.fallback);
    };
    auto number = [&](const Option &o, int lo, int hi) {
        bool ok = false;
        const QString text = value(o).trimmed();
        const int v = text.toInt(&ok);
        if (!ok || v < lo || v > hi)
            result.errors << QStringLiteral("--%1: %2 is not a whole number from %3 to %4")
                                 .arg(QString::fromLatin1(o.name), shownValue(text))
                                 .arg(lo)
                                 .arg(hi);
        return v;
    };
    const auto opt = [](const char *name) {
        for (const Option &o : kOptions)
            if (qstrcmp(o.name, name) == 0)
                return o;
        return kOptions[0];
    };

    CollectorSettings &s = result.settings;
    s.port = value(opt("port")).trimmed();
    if (s.port.isEmpty())
        result.errors << QStringLiteral("--port: no device named");
    else if (s.port.size() > 4096 || s.port.contains(QChar(0)))
        result.errors << QStringLiteral("--port: %1 is not a device path").arg(shownValue(s.port));
    BusSettings &b = s.bus;
    b.baud = number(opt("baud"), 50, 4000000);
    const QString addresses = value(opt("addresses"));
    if (const auto list = parseAddressRanges(addresses))
        b.addresses = *list;
    else
        result.errors << QStringLiteral("--addresses: %1 is not a list of addresses 1-247 like 1-36,40").arg(shownValue(addresses));
    const int function = number(opt("function"), 3, 4);
    b.function = quint8(function);
    b.start = quint16(number(opt("start"), 0, 65535));
    b.count = quint16(number(opt("count"), 1, 125));
    b.cyclePeriodMs = number(opt("period"), 0, 86400000);
    b.timeoutMs = number(opt("timeout"), 0, 60000);
    b.retries = number(opt("retries"), 0, 10);
    b.backoffCeiling = number(opt("backoff"), 1, 1000);
    const QString mode = value(opt("mode")).trimmed().toLower();
    if (mode == QLatin1String("poll"))
        b.mode = BusSettings::Mode::Poll;
    else if (mode == QLatin1String("upload"))
        b.mode = BusSettings::Mode::Upload;
    else if (mode == QLatin1String("both"))
        b.mode = BusSettings::Mode::Both;
    else
        result.errors << QStringLiteral("--mode: %1 is not poll, upload or both").arg(shownValue(mode));
    s.programDir = value(opt("dir"));
    if (s.programDir.isEmpty())
        s.programDir = programDirectory();
    if (!QFileInfo(s.programDir).isDir())
        result.errors << QStringLiteral("--dir: %1 is not a directory").arg(shownValue(s.programDir));
    s.quiet = p.isSet(quiet);
    s.json = p.isSet(json);

    // The store, central and MQTT keys: read as the window reads them from its own file.
    const ForwardingRead forwarding = readForwardingSettings(
        [&](const char *key) { return value(opt(key)); }, s.programDir, QStringLiteral("--"));
    s.store = forwarding.store;
    s.mqtt = forwarding.mqtt;
    result.errors << forwarding.errors;
    // Notification channels: [notify] and [notify.NAME] sections of the INI file;
    // the web view's users: [web] open and [web-users] NAME = HASH [ack].
    if (ini) {
        ini->endGroup();
        s.notify = readNotifySettings(*ini, &result.errors);
        const QString open = ini->value(QStringLiteral("web/open"), QStringLiteral("false")).toString().trimmed().toLower();
        if (open == QLatin1String("true") || open == QLatin1String("yes") || open == QLatin1String("1"))
            s.webAccess.open = true;
        else if (open != QLatin1String("false") && open != QLatin1String("no") && open != QLatin1String("0"))
            result.errors << QStringLiteral("[web] open: %1 is not true or false").arg(shownValue(open));
        ini->beginGroup(QStringLiteral("web-users"));
        for (const QString &name : ini->childKeys()) {
            QString why;
            if (const auto user = web::parseWebUser(name, ini->value(name).toString(), &why))
                s.webAccess.users.append(*user);
            else
                result.errors << why;
        }
        ini->endGroup();
        ini->beginGroup(QStringLiteral("collect"));
    }
    const QString rawLogMax = value(opt("raw-log-max")).trimmed();
    if (const auto bytes = parseByteSize(rawLogMax))
        s.rawLogMaxBytes = *bytes;
    else
        result.errors << QStringLiteral("--raw-log-max: %1 is not a size like 100M, 512k or 0").arg(shownValue(rawLogMax));

    const QString metrics = value(opt("metrics")).trimmed();
    if (metrics.compare(QLatin1String("off"), Qt::CaseInsensitive) == 0) {
        s.metricsHost.clear();
    } else if (const auto hp = parseHostPort(metrics, 9464, true);
               hp && (hp->host == QLatin1String("localhost") || !QHostAddress(hp->host).isNull())) {
        s.metricsHost = hp->host;
        s.metricsPort = hp->port;
    } else {
        result.errors << QStringLiteral("--metrics: %1 is not host:port or off").arg(shownValue(metrics));
    }

    const QString webBase = value(opt("web-base")).trimmed();
    static const QRegularExpression basePath(QStringLiteral("^(/[A-Za-z0-9._~-]+)+$"));
    if (webBase.isEmpty() || webBase == QLatin1String("/"))
        s.webBase.clear();
    else if (basePath.match(webBase).hasMatch())
        s.webBase = webBase.toUtf8();
    else
        result.errors << QStringLiteral("--web-base: %1 is not a path like /vxmon").arg(shownValue(webBase));
    const QString control = value(opt("control")).trimmed();
    if (control.compare(QLatin1String("off"), Qt::CaseInsensitive) == 0)
        s.controlSocket.clear();
    else if (control.toUtf8().size() > 100) // sun_path holds 108 bytes
        result.errors << QStringLiteral("--control: %1 is too long for a socket path (100 bytes at most)").arg(shownValue(control));
    else
        s.controlSocket = QFileInfo(control.isEmpty() ? QDir(s.programDir).filePath(QStringLiteral("vxcollect.sock")) : control)
                              .absoluteFilePath(); // a relative name would be put in /tmp
    s.leaseMs = qint64(number(opt("lease"), 2, 3600)) * 1000;
    readDepot(s, value(opt("depot")).trimmed(), [&](const char *name) {
        return p.isSet(QString::fromLatin1(name)) || (ini && ini->contains(QString::fromLatin1(name)));
    }, &result.errors);
    readAirOptions(s, value(opt("air")).trimmed(), value(opt("fans")).trimmed(), &result.errors);
    askTransmittersTheirOwn(s);

    const QStringList positional = p.positionalArguments();
    const QString command = positional.value(0);
    if (command == QLatin1String("import")) {
        s.command = CollectorSettings::Command::Import;
        s.importDir = positional.value(1);
        if (positional.size() != 2 || !QFileInfo(s.importDir).isDir())
            result.errors << QStringLiteral("import: name one directory that holds the logs, e.g. vxcollect import data");
    } else if (command == QLatin1String("export")) {
        s.command = CollectorSettings::Command::Export;
        if (positional.size() != 1)
            result.errors << QStringLiteral("export: takes no further words; use --from, --to, --addresses, --per, --out");
        ExportRequest &r = s.exportRequest;
        const QString from = value(opt("from")).trimmed(), to = value(opt("to")).trimmed();
        const auto fromMs = from.isEmpty() ? std::optional<qint64>(0) : parseTimeArgument(from);
        const auto toMs = to.isEmpty() ? std::optional<qint64>(QDateTime::currentMSecsSinceEpoch() + 1)
                                       : parseTimeArgument(to);
        if (!fromMs)
            result.errors << QStringLiteral("--from: %1 is not a date or time like 2026-12-01 08:00").arg(shownValue(from));
        if (!toMs)
            result.errors << QStringLiteral("--to: %1 is not a date or time like 2026-12-01 08:00").arg(shownValue(to));
        r.fromMs = fromMs.value_or(0);
        r.toMs = toMs.value_or(0);
        // Addresses only when asked: the collecting default (1-36) would hide the rest.
        const QString chosen = p.isSet(QStringLiteral("addresses")) || (ini && ini->contains(QStringLiteral("addresses")))
                                   ? addresses
                                   : QString();
        if (!chosen.isEmpty())
            r.addresses = b.addresses;
        const QString per = value(opt("per")).trimmed().toLower();
        if (per != QLatin1String("reading") && per != QLatin1String("frame"))
            result.errors << QStringLiteral("--per: %1 is not reading or frame").arg(shownValue(per));
        r.perFrame = per == QLatin1String("frame");
        s.exportFile = value(opt("out"));
    } else if (command == QLatin1String("notify-test")) {
        s.command = CollectorSettings::Command::NotifyTest;
        s.notifyChannel = positional.value(1);
        if (positional.size() > 2)
            result.errors << QStringLiteral("notify-test: name at most one channel");
        else if (s.notify.channels.isEmpty())
            result.errors << QStringLiteral("notify-test: no [notify.NAME] channel in --config");
    } else if (command == QLatin1String("passwd")) {
        s.command = CollectorSettings::Command::Passwd;
        s.passwdUser = positional.value(1);
        QString why;
        if (positional.size() != 2 || !web::parseWebUser(s.passwdUser, QStringLiteral("pbkdf2-sha256$1$a$b"), &why))
            result.errors << QStringLiteral("passwd: name one web user (1-64 letters, digits, '_', '.' or '-')");
    } else if (!command.isEmpty()) {
        result.errors << QStringLiteral("%1 is not a command: import DIR, export, notify-test or passwd NAME").arg(shownValue(command));
    }
    return result;
}

} // namespace vx
