#include "Options.h"

#include "Control.h"

#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>

#include <limits>

namespace vxsim {

std::optional<QList<int>> parseAddressList(const QString &text)
{
    QList<int> addresses;
    for (const QString &part : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QStringList ends = part.trimmed().split(QLatin1Char('-'));
        bool ok1 = false, ok2 = true;
        const int from = ends[0].toInt(&ok1);
        const int to = ends.size() == 2 ? ends[1].toInt(&ok2) : from;
        if (ends.size() > 2 || !ok1 || !ok2 || from < 0 || to > 255 || from > to)
            return std::nullopt;
        for (int a = from; a <= to; ++a)
            addresses << a;
    }
    if (addresses.isEmpty())
        return std::nullopt;
    return addresses;
}

std::optional<Options> parseOptions(const QStringList &arguments, QString *error)
{
    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral("vxsim: a bus of simulated data collectors"));
    p.addHelpOption();
    const QCommandLineOption port(QStringLiteral("port"), "Serve on this serial device instead of a pseudo-terminal.", "path");
    const QCommandLineOption baud(QStringLiteral("baud"), "Baud rate of --port and of --pace (default 9600).", "n", "9600");
    const QCommandLineOption link(QStringLiteral("link"), "Also make a symlink to the pseudo-terminal here.", "path");
    const QCommandLineOption addresses(QStringLiteral("addresses"), "Device addresses (default 1-36).", "list", "1-36");
    const QCommandLineOption base(QStringLiteral("base"), "Base temperature in degrees (default 20).", "celsius", "20");
    const QCommandLineOption points(QStringLiteral("points"), "Measuring points with a reading, of 18 (default 16).", "n", "16");
    const QCommandLineOption channels(QStringLiteral("channels"), "Channels per device (default 4).", "n", "4");
    const QCommandLineOption sensors(QStringLiteral("sensors"), "Sensors per channel (default 3).", "n", "3");
    const QCommandLineOption upload(QStringLiteral("upload"), "Start every device in run mode 1 (active upload).");
    const QCommandLineOption interval(QStringLiteral("upload-interval"), "Active-upload period in ms (default 2000).", "ms", "2000");
    const QCommandLineOption rounds(QStringLiteral("upload-rounds"), "Stop uploading after this many rounds (default 0: never).", "n", "0");
    const QCommandLineOption after(QStringLiteral("upload-after"), "Wait this long before uploading (default 0 ms).", "ms", "0");
    const QCommandLineOption latency(QStringLiteral("latency"), "Delay before each reply in ms.", "ms", "0");
    const QCommandLineOption pace(QStringLiteral("pace"), "Send at the line rate (baud / 10 bytes a second).");
    const QCommandLineOption drop(QStringLiteral("drop"), "Probability that a reply is dropped.", "p", "0");
    const QCommandLineOption corrupt(QStringLiteral("corrupt"), "Probability that a reply has one bit flipped.", "p", "0");
    const QCommandLineOption noise(QStringLiteral("noise"), "Probability of 1-4 noise bytes before a frame.", "p", "0");
    const QCommandLineOption split(QStringLiteral("split"), "Send replies in pieces of this many bytes.", "n", "0");
    const QCommandLineOption gap(QStringLiteral("gap"), "Pause between the pieces of a split reply in ms.", "ms", "0");
    const QCommandLineOption badCodes(QStringLiteral("bad-codes"), "Share of sensor codes with a wrong CRC-8 (0 to 1).", "p", "0");
    const QCommandLineOption silentUntil(QStringLiteral("silent-until"),
                                         "A device that answers only after this long, e.g. 3:1500 (repeatable).", "address:ms");
    const QCommandLineOption depot(QStringLiteral("depot"),
                                   "A depot file: serve the cables of one of its buses (--bus), at its port (a tcp:// port "
                                   "is served over TCP, a path as the pseudo-terminal's link), and name them by bin and "
                                   "place on the control channel. Run one vxsim per bus for a whole depot.",
                                   "file");
    const QCommandLineOption depotBus(QStringLiteral("bus"), "With --depot: which of its buses (default 1).", "n", "1");
    const QCommandLineOption seed(QStringLiteral("seed"), "Seed of sensor codes and faults (default 1).", "n", "1");
    const QCommandLineOption verbose(QStringLiteral("verbose"), "Print every request and reply on stderr.");
    const QCommandLineOption tcp(QStringLiteral("tcp"),
                                 "Serve the bus over TCP as a serial device server would, on [HOST:]PORT (default host "
                                 "127.0.0.1; port 0: any free one, printed). One client at a time: a second is refused "
                                 "(its connection closed at once).",
                                 "[host:]port");
    const QCommandLineOption control(QStringLiteral("control"),
                                     "Take commands from this FIFO (made if missing): heat, rise, hold, silence "
                                     "(see below).",
                                     "path");
    const QCommandLineOption air(QStringLiteral("air"),
                                 "A temperature/humidity transmitter at address A answering in PROFILE's layout (th: "
                                 "temperature then RH, ht: RH then temperature, x10 from register 0), measuring the "
                                 "outside air or with :headspace a bin's headspace. Repeatable.",
                                 "A:PROFILE[:headspace]");
    const QCommandLineOption relay(QStringLiteral("relay"), "A relay module of 8 coils at address A (function 5 writes, 1 reads). Repeatable.", "A");
    const QCommandLineOption weather(QStringLiteral("weather"),
                                     "The outside air's daily cycle: mean °C, half its range, mean %RH, half its "
                                     "range, noise (default 15,6,65,20,0).",
                                     "mean,swing,rh,rhswing[,noise]");
    p.addOptions({air, relay, weather, depot, depotBus, port, baud, link, addresses, base, points, channels, sensors, upload, interval, rounds, after, latency,
                  pace, drop, corrupt, noise, split, gap, badCodes, silentUntil, seed, verbose, tcp, control});
    if (!p.parse(arguments)) {
        *error = p.errorText();
        return std::nullopt;
    }
    if (p.isSet(QStringLiteral("help"))) {
        *error = p.helpText() + QLatin1Char('\n') + controlHelp();
        return std::nullopt;
    }

    Options o;
    bool ok = true;
    auto integer = [&](const QCommandLineOption &opt, int lo, int hi) {
        bool good = false;
        const int v = p.value(opt).toInt(&good);
        if (!good || v < lo || v > hi) {
            ok = false;
            *error = QStringLiteral("--%1: expected a whole number from %2 to %3").arg(opt.names().first()).arg(lo).arg(hi);
        }
        return v;
    };
    auto probability = [&](const QCommandLineOption &opt) {
        bool good = false;
        const double v = p.value(opt).toDouble(&good);
        if (!good || v < 0 || v > 1) {
            ok = false;
            *error = QStringLiteral("--%1: expected a probability from 0 to 1").arg(opt.names().first());
        }
        return v;
    };
    const auto list = parseAddressList(p.value(addresses));
    if (!list) {
        *error = QStringLiteral("--addresses: expected a list like 1-36 or 1-5,7");
        return std::nullopt;
    }
    BusConfig &bus = o.server.bus;
    bus.addresses = *list;
    bus.baseTemperature = p.value(base).toDouble(&ok);
    if (!ok || bus.baseTemperature < -400 || bus.baseTemperature > 190) {
        *error = QStringLiteral("--base: expected degrees from -400 to 190");
        return std::nullopt;
    }
    bus.pointsPresent = integer(points, 0, 18);
    bus.channels = integer(channels, 0, 255);
    bus.sensorsPerChannel = integer(sensors, 0, 64);
    bus.runMode = p.isSet(upload) ? 1 : 0;
    bus.badCodes = probability(badCodes);
    for (const QString &item : p.values(silentUntil)) {
        const QStringList parts = item.split(QLatin1Char(':'));
        bool okA = false, okT = false;
        const int address = parts.value(0).toInt(&okA);
        const qint64 ms = parts.value(1).toLongLong(&okT);
        if (parts.size() != 2 || !okA || !okT || address < 0 || address > 255 || ms < 0) {
            *error = QStringLiteral("--silent-until: expected address:ms, e.g. 3:1500");
            return std::nullopt;
        }
        bus.silentUntilMs.insert(address, ms);
    }
    for (const QString &item : p.values(air)) {
        const QStringList parts = item.split(QLatin1Char(':'));
        bool okA = false;
        const int address = parts.value(0).toInt(&okA);
        const QString profile = parts.value(1).toLower();
        if (parts.size() < 2 || parts.size() > 3 || !okA || address < 1 || address > 247
            || (profile != QLatin1String("th") && profile != QLatin1String("ht"))
            || (parts.size() == 3 && parts[2] != QLatin1String("headspace"))) {
            *error = QStringLiteral("--air: expected A:th or A:ht, with :headspace for a bin's headspace");
            return std::nullopt;
        }
        AirDeviceSim d;
        d.profile = profile;
        d.headspace = parts.size() == 3;
        bus.air.insert(address, d);
    }
    for (const QString &item : p.values(relay)) {
        bool okA = false;
        const int address = item.toInt(&okA);
        if (!okA || address < 1 || address > 247) {
            *error = QStringLiteral("--relay: expected an address 1-247");
            return std::nullopt;
        }
        bus.relays << address;
    }
    if (p.isSet(weather)) {
        const QStringList parts = p.value(weather).split(QLatin1Char(','));
        QList<double> v;
        for (const QString &part : parts) {
            bool good = false;
            v << part.toDouble(&good);
            if (!good)
                v.clear();
        }
        if ((v.size() != 4 && v.size() != 5) || parts.size() != v.size()) {
            *error = QStringLiteral("--weather: expected mean,swing,rh,rhswing[,noise], e.g. 12,6,70,20,0.5");
            return std::nullopt;
        }
        bus.weather.meanC = v[0];
        bus.weather.swingC = v[1];
        bus.weather.rhMean = v[2];
        bus.weather.rhSwing = v[3];
        bus.weather.noise = v.value(4, 0);
    }
    bus.seed = quint32(integer(seed, 0, std::numeric_limits<int>::max()));
    o.server.uploadIntervalMs = integer(interval, 1, 3600000);
    o.server.uploadRounds = integer(rounds, 0, std::numeric_limits<int>::max());
    o.server.uploadAfterMs = integer(after, 0, 3600000);
    Faults &f = o.server.faults;
    f.baud = integer(baud, 50, 4000000);
    f.latencyMs = integer(latency, 0, 60000);
    f.pace = p.isSet(pace);
    f.drop = probability(drop);
    f.corrupt = probability(corrupt);
    f.noise = probability(noise);
    f.splitBytes = integer(split, 0, 4096);
    f.gapMs = integer(gap, 0, 60000);
    o.server.verbose = p.isSet(verbose);
    o.port = p.value(port);
    o.link = p.value(link);
    o.control = p.value(control);
    if (p.isSet(tcp)) {
        const QString text = p.value(tcp);
        const int colon = int(text.lastIndexOf(QLatin1Char(':')));
        o.tcpHost = colon >= 0 ? text.left(colon) : QStringLiteral("127.0.0.1");
        if (o.tcpHost.startsWith(QLatin1Char('[')) && o.tcpHost.endsWith(QLatin1Char(']')))
            o.tcpHost = o.tcpHost.mid(1, o.tcpHost.size() - 2);
        bool good = false;
        o.tcpPort = text.mid(colon + 1).toInt(&good);
        if (!good || o.tcpPort < 0 || o.tcpPort > 65535 || o.tcpHost.isEmpty() || !o.port.isEmpty()) {
            *error = o.port.isEmpty() ? QStringLiteral("--tcp: expected [host:]port, e.g. 4001 or 127.0.0.1:4001")
                                      : QStringLiteral("--tcp and --port exclude each other");
            return std::nullopt;
        }
    }
    if (p.isSet(depot)) {
        QFile file(p.value(depot));
        if (!file.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("--depot: cannot read %1").arg(p.value(depot));
            return std::nullopt;
        }
        o.server.depot = vx::parseDepot(file.readAll(), QFileInfo(file).fileName());
        o.server.depotBus = integer(depotBus, 1, vx::kMostBuses);
        const vx::DepotBus *served = o.server.depot.bus(o.server.depotBus);
        if (!served) {
            *error = QStringLiteral("--bus: the depot has no bus %1").arg(o.server.depotBus);
            return std::nullopt;
        }
        if (!p.isSet(addresses))
            bus.addresses = o.server.depot.addressesOf(o.server.depotBus);
        // The depot's transmitters on this bus answer as transmitters, not as collectors.
        for (const vx::DepotAir &a : o.server.depot.air)
            if (a.bus == o.server.depotBus && !bus.air.contains(a.address)) {
                AirDeviceSim d;
                d.profile = a.profile;
                d.headspace = a.bin != 0;
                bus.air.insert(a.address, d);
            }
        for (int a : bus.air.keys())
            bus.addresses.removeAll(a);
        for (const vx::DepotFans &f : o.server.depot.fans)
            if (f.bus == o.server.depotBus && !bus.relays.contains(f.address))
                bus.relays << f.address;
        // Served where the depot's collector looks for it, unless told otherwise.
        if (o.port.isEmpty() && o.link.isEmpty() && o.tcpPort < 0 && !served->port.isEmpty()) {
            if (served->port.startsWith(QLatin1String("tcp://"))) {
                const QString hostPort = served->port.mid(6);
                const int colon = int(hostPort.lastIndexOf(QLatin1Char(':')));
                o.tcpHost = hostPort.left(colon);
                o.tcpPort = hostPort.mid(colon + 1).toInt();
            } else {
                o.link = served->port;
            }
        }
    }
    if (!ok)
        return std::nullopt;
    return o;
}

} // namespace vxsim
