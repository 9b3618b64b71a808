#include "collect/CollectorSettings.h"

#include "platform/ProgramDir.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QSettings>

namespace vx {

std::optional<QList<int>> parseAddressRanges(const QString &text)
{
    QList<int> addresses;
    for (const QString &part : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QStringList ends = part.trimmed().split(QLatin1Char('-'));
        bool ok1 = false, ok2 = true;
        const int from = ends[0].trimmed().toInt(&ok1);
        const int to = ends.size() == 2 ? ends[1].trimmed().toInt(&ok2) : from;
        if (ends.size() > 2 || !ok1 || !ok2 || from < 1 || to > 247 || from > to)
            return std::nullopt;
        for (int a = from; a <= to; ++a)
            if (!addresses.contains(a))
                addresses << a;
    }
    if (addresses.isEmpty())
        return std::nullopt;
    return addresses;
}

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
};

} // namespace

SettingsRead readCollectorSettings(const QStringList &arguments)
{
    SettingsRead result;
    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral("vxcollect: unattended collection from a bus of data collectors"));
    p.addHelpOption();
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
        result.errors << p.errorText();
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
            result.errors << QStringLiteral("--config: cannot read %1").arg(file);
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
            result.errors << QStringLiteral("--%1: \"%2\" is not a whole number from %3 to %4")
                                 .arg(QString::fromLatin1(o.name), text)
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
    BusSettings &b = s.bus;
    b.baud = number(opt("baud"), 50, 4000000);
    const QString addresses = value(opt("addresses"));
    if (const auto list = parseAddressRanges(addresses))
        b.addresses = *list;
    else
        result.errors << QStringLiteral("--addresses: \"%1\" is not a list of addresses 1-247 like 1-36,40").arg(addresses);
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
        result.errors << QStringLiteral("--mode: \"%1\" is not poll, upload or both").arg(mode);
    s.programDir = value(opt("dir"));
    if (s.programDir.isEmpty())
        s.programDir = programDirectory();
    if (!QFileInfo(s.programDir).isDir())
        result.errors << QStringLiteral("--dir: \"%1\" is not a directory").arg(s.programDir);
    s.quiet = p.isSet(quiet);
    s.json = p.isSet(json);
    return result;
}

} // namespace vx
