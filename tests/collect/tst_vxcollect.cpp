#include "ProcessSignal.h"
#include "collect/CollectorSettings.h"
#include "core/depot/Depot.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using namespace vx;

// vxcollect as a site runs it: options and INI file, the logs it writes,
// and how it ends.
class tst_vxcollect : public QObject {
    Q_OBJECT
private slots:
    void addressRanges_data();
    void addressRanges();
    void iniAndOptions();
    void badConfiguration_data();
    void badConfiguration();
    void portThatCannotOpen();
    void sigtermLeavesWholeRecords();
    void overTcpThroughAnOutage();
    void refusedGatewayIsNamed();
    void silentListenerTimesOut();
    void simulatorRefusesASecondClient();
    void alarmsAsTheWindowRaisesThem();
    void rawLogStaysUnderItsCap();
    void depotOfTwoBuses();
};

void tst_vxcollect::addressRanges_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QList<int>>("addresses"); // empty: refused
    QTest::newRow("range") << "1-3" << QList<int>{1, 2, 3};
    QTest::newRow("ranges and one") << "1-2, 5 ,40" << QList<int>{1, 2, 5, 40};
    QTest::newRow("repeats once") << "2,1-3" << QList<int>{2, 1, 3};
    QTest::newRow("highest") << "247" << QList<int>{247};
    QTest::newRow("zero") << "0-3" << QList<int>{};
    QTest::newRow("past 247") << "240-248" << QList<int>{};
    QTest::newRow("backwards") << "5-1" << QList<int>{};
    QTest::newRow("words") << "all" << QList<int>{};
    QTest::newRow("empty") << "" << QList<int>{};
}

void tst_vxcollect::addressRanges()
{
    QFETCH(QString, text);
    QFETCH(QList<int>, addresses);
    const auto parsed = parseAddressRanges(text);
    QCOMPARE(parsed.value_or(QList<int>{}), addresses);
}

void tst_vxcollect::iniAndOptions()
{
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("vxcollect.conf"));
    QFile f(ini);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("[collect]\nport=/dev/ttyUSB0\nbaud=19200\naddresses=1-4,9\ncount=13\nmode=both\nperiod=60000\n");
    f.close();
    const SettingsRead read = readCollectorSettings(
        {"vxcollect", "--config", ini, "--count", "18", "--dir", dir.path()});
    QVERIFY2(read.errors.isEmpty(), qPrintable(read.errors.join('\n')));
    QCOMPARE(read.settings.port, QStringLiteral("/dev/ttyUSB0"));
    QCOMPARE(read.settings.bus.baud, 19200);
    QCOMPARE(read.settings.bus.addresses, QList<int>({1, 2, 3, 4, 9}));
    QCOMPARE(read.settings.bus.count, quint16(18)); // the option wins over the file
    QCOMPARE(read.settings.bus.mode, BusSettings::Mode::Both);
    QCOMPARE(read.settings.bus.cyclePeriodMs, 60000);
    QCOMPARE(read.settings.programDir, dir.path());
    // The timeout follows the baud rate: 8 + 41 + 3.5 bytes at 19200, plus the device's margin.
    QCOMPARE(read.settings.bus.effectiveTimeoutMs(), 28 + 50);
    QCOMPARE(read.settings.bus.silenceMs(), 2);

    // Without a depot file, transmitters and fans from the options: polled after the cables, by their own read.
    const SettingsRead air = readCollectorSettings({"vxcollect", "--config", ini, "--dir", dir.path(), "--air",
                                                    "50:th:outside, 51:ht:headspace", "--fans", "60:3"});
    QVERIFY2(air.errors.isEmpty(), qPrintable(air.errors.join('\n')));
    QCOMPARE(air.settings.bus.addresses, QList<int>({1, 2, 3, 4, 9, 50, 51}));
    QCOMPARE(air.settings.bus.reads.value(51).count, quint16(2));
    QCOMPARE(air.settings.depot.airDevice(51)->bin, 1);
    QCOMPARE(air.settings.depot.fansOf(1)->coil, 3);
}

void tst_vxcollect::badConfiguration_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    QTest::newRow("baud") << QStringList{"--baud", "fast"} << "--baud: \"fast\" is not a whole number from 50 to 4000000";
    QTest::newRow("addresses") << QStringList{"--addresses", "0-3"} << "--addresses: \"0-3\" is not a list of addresses";
    QTest::newRow("count") << QStringList{"--count", "126"} << "--count: \"126\" is not a whole number from 1 to 125";
    QTest::newRow("function") << QStringList{"--function", "6"} << "--function: \"6\" is not a whole number from 3 to 4";
    QTest::newRow("mode") << QStringList{"--mode", "fast"} << "--mode: \"fast\" is not poll, upload or both";
    QTest::newRow("retries") << QStringList{"--retries", "-1"} << "--retries: \"-1\" is not a whole number from 0 to 10";
    QTest::newRow("directory") << QStringList{"--dir", "/nonexistent/vx"} << "--dir: \"/nonexistent/vx\" is not a directory";
    QTest::newRow("config") << QStringList{"--config", "/nonexistent.conf"} << "--config: cannot read \"/nonexistent.conf\"";
    // What a broker, a database or a topic can never take is refused at start, not at every reconnection.
    QTest::newRow("site with a TAB") << QStringList{"--site", "a\tb"} << "--site: the site \"a\\x09b\" holds U+0009";
    QTest::newRow("site with U+FFFF") << QStringList{"--site", QString(QChar(0xFFFF))} << "--site: the site \"\uFFFF\" holds U+ffff, which MQTT does not allow";
    QTest::newRow("site too long") << QStringList{"--site", QString(3000, 'a')} << "--site: the site is longer than 200 bytes";
    QTest::newRow("client id") << QStringList{"--mqtt", "localhost", "--mqtt-client-id", QString("a") + QChar(1)}
                               << "--mqtt-client-id: the MQTT client id \"a\\x01\" holds U+0001";
    QTest::newRow("site on a topic") << QStringList{"--mqtt", "localhost", "--site", "a/b"} << "--site: the site \"a/b\" holds '/'";
    QTest::newRow("prefix with a TAB") << QStringList{"--mqtt", "localhost", "--mqtt-prefix", "vx\tmon"} << "--mqtt-prefix: the MQTT prefix";
    // Values too long for a command line come from the file: "@" names the [collect] line to write.
    QTest::newRow("password of 10 MB") << QStringList{"--mqtt", "localhost", "@mqtt-password=" + QString(10 << 20, 'p')}
                                       << "--mqtt-password: longer than MQTT's 65,535 bytes";
    QTest::newRow("port of 10 MB") << QStringList{"@port=" + QString(10 << 20, 'x')} << "--port: \"xxxxxxxx";
    QTest::newRow("web base") << QStringList{"--web-base", "vxmon/../x"} << "--web-base: \"vxmon/../x\" is not a path like /vxmon";
    QTest::newRow("lease") << QStringList{"--lease", "1"} << "--lease: \"1\" is not a whole number from 2 to 3600";
    QTest::newRow("raw log size") << QStringList{"--raw-log-max", "10X"} << "--raw-log-max: \"10X\" is not a size";
    QTest::newRow("air place") << QStringList{"--air", "50:th:roof"} << "--air: \"50:th:roof\" is not ADDRESS:th|ht:outside|headspace";
    QTest::newRow("air on a cable") << QStringList{"--addresses", "1-3", "--air", "2:th:outside"} << "--air: \"2:th:outside\" is not";
    QTest::newRow("fans coil 8") << QStringList{"--fans", "60:8"} << "--fans: \"60:8\" is not ADDRESS:COIL";
    QTest::newRow("unknown option") << QStringList{"--colour"} << "Unknown option 'colour'.";
}

void tst_vxcollect::badConfiguration()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    QTemporaryDir dir;
    QStringList options{"--dir", dir.path()};
    QByteArray ini = "[collect]\n";
    for (const QString &a : arguments) {
        if (a.startsWith('@'))
            ini += a.mid(1).toUtf8() + '\n';
        else
            options << a;
    }
    if (!options.contains("--port") && !ini.contains("\nport="))
        options << "--port" << "/dev/null";
    QFile conf(dir.filePath(QStringLiteral("vxcollect.conf")));
    QVERIFY(conf.open(QIODevice::WriteOnly));
    conf.write(ini);
    conf.close();
    if (ini.size() > 10)
        options << "--config" << conf.fileName();
    QProcess p;
    p.start(QStringLiteral(VXCOLLECT_PATH), options);
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitCode(), 2);
    const QString err = QString::fromUtf8(p.readAllStandardError());
    QVERIFY2(err.contains(QStringLiteral("vxcollect: ") + message), qPrintable(err));
    QCOMPARE(err.count(QLatin1Char('\n')), 1); // one line
    QVERIFY2(err.size() < 400, "a value is echoed cut short");
}

void tst_vxcollect::portThatCannotOpen()
{
    QTemporaryDir dir;
    QProcess p;
    p.start(QStringLiteral(VXCOLLECT_PATH), {"--dir", dir.path(), "--port", "/dev/vx-no-such-port"});
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitCode(), 3);
    QCOMPARE(QString::fromUtf8(p.readAllStandardError()),
             QStringLiteral("vxcollect: cannot open the port /dev/vx-no-such-port (/dev/vx-no-such-port)\n"));
}

// Stopped in the middle of a cycle: exit 0, and every log holds whole records only.
void tst_vxcollect::sigtermLeavesWholeRecords()
{
    QTemporaryDir dir;
    QProcess sim;
    const QString bus = dir.filePath(QStringLiteral("bus"));
    sim.start(QStringLiteral(VXSIM_PATH), {"--link", bus, "--pace", "--baud", "19200", "--addresses", "1-5"});
    QVERIFY(sim.waitForReadyRead(5000) && QFileInfo::exists(bus));
    QProcess collect;
    collect.start(QStringLiteral(VXCOLLECT_PATH),
                  {"--port", bus, "--baud", "19200", "--addresses", "1-5", "--dir", dir.path()});
    QVERIFY(collect.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(dir.filePath(QStringLiteral("data/5.txt"))).size() > 0, 10000);
    QTest::qWait(37); // somewhere in an exchange
    signalProcess(collect, SIGTERM);
    QVERIFY(collect.waitForFinished(5000));
    QCOMPARE(collect.exitStatus(), QProcess::NormalExit);
    QCOMPARE(collect.exitCode(), 0);
    QVERIFY(QString::fromUtf8(collect.readAllStandardOutput()).contains(QStringLiteral("5 answering, 0 silent")));
    static const QRegularExpression dataRecord(QString::fromLatin1(
        R"(^"\d{4}/\d{1,2}/\d{1,2} \d\d:\d\d:\d\d :  (-?\d+\.\d\d ){18}"$)"));
    for (int a = 1; a <= 5; ++a) {
        QFile log(dir.filePath(QStringLiteral("data/%1.txt").arg(a)));
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QByteArray text = log.readAll();
        QVERIFY(text.endsWith("\"\r\n"));
        for (const QByteArray &line : text.split('\n')) {
            if (line.isEmpty())
                continue;
            QVERIFY(line.endsWith('\r'));
            QVERIFY2(dataRecord.match(QString::fromLatin1(line.chopped(1))).hasMatch(), line.constData());
        }
    }
    QFile raw(dir.filePath(QStringLiteral("dataGet.txt")));
    QVERIFY(raw.open(QIODevice::ReadOnly));
    QVERIFY(raw.readAll().endsWith("   \"\r\n"));
    sim.terminate();
    sim.waitForFinished(3000);
}

namespace {
QString startTcpSimulator(QProcess &sim, const QStringList &options, const QString &listen = QStringLiteral("0"))
{
    sim.start(QStringLiteral(VXSIM_PATH), QStringList{"--tcp", listen} + options);
    if (!sim.waitForReadyRead(5000))
        return QString();
    const auto m = QRegularExpression(QStringLiteral("on (tcp://\\S+)")).match(QString::fromUtf8(sim.readAllStandardOutput()));
    return m.hasMatch() ? m.captured(1) : QString();
}
} // namespace

// The gateway goes away and comes back on the same address: vxcollect says
// so once, reconnects by itself, counts the outage and goes on collecting;
// no device is counted silent for the link's fault.
void tst_vxcollect::overTcpThroughAnOutage()
{
    QTemporaryDir dir;
    QProcess sim;
    const QString url = startTcpSimulator(sim, {"--addresses", "1-3"});
    QVERIFY(!url.isEmpty());
    QProcess collect;
    collect.setProcessChannelMode(QProcess::MergedChannels);
    collect.start(QStringLiteral(VXCOLLECT_PATH), {"--port", url, "--addresses", "1-3", "--dir", dir.path(), "--baud", "115200"});
    QVERIFY(collect.waitForStarted());
    const QString log = dir.filePath(QStringLiteral("data/3.txt"));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(log).size() > 0, 10000);
    sim.terminate();
    QVERIFY(sim.waitForFinished(3000));
    QByteArray output;
    QTRY_VERIFY_WITH_TIMEOUT((output += collect.readAll()).contains("vxcollect: lost " + url.toUtf8()), 5000);
    const qint64 sizeDuringOutage = QFileInfo(log).size();
    QTest::qWait(1500);
    QProcess again;
    QCOMPARE(startTcpSimulator(again, {"--addresses", "1-3"}, url.section(QLatin1Char(':'), -1)), url);
    QTRY_VERIFY_WITH_TIMEOUT((output += collect.readAll()).contains(" back after "), 20000);
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(log).size() > sizeDuringOutage, 5000);
    // The first whole status line after the reconnection: only it can tell how the outage was counted.
    const qsizetype back = output.indexOf(" back after ");
    const auto statusAfterBack = [&] {
        const qsizetype at = output.indexOf("cycle ", back);
        const qsizetype end = at < 0 ? -1 : output.indexOf('\n', at);
        return end < 0 ? QByteArray() : output.mid(at, end - at);
    };
    QTRY_VERIFY_WITH_TIMEOUT(!(output += collect.readAll(), statusAfterBack()).isEmpty(), 5000);
    QVERIFY2(statusAfterBack().contains("3 answering, 0 silent, "), statusAfterBack().constData());
    QVERIFY2(statusAfterBack().contains(", 1 link outages"), statusAfterBack().constData());
    QVERIFY(!output.contains("2 answering")); // nobody was counted silent for the link
    signalProcess(collect, SIGTERM);
    QVERIFY(collect.waitForFinished(5000));
    QCOMPARE(collect.exitCode(), 0);
    again.terminate();
    again.waitForFinished(3000);
}

void tst_vxcollect::refusedGatewayIsNamed()
{
    QTemporaryDir dir;
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
    const quint16 port = probe.serverPort();
    probe.close();
    QProcess p;
    p.start(QStringLiteral(VXCOLLECT_PATH), {"--dir", dir.path(), "--port", QStringLiteral("tcp://127.0.0.1:%1").arg(port)});
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitCode(), 3);
    const QString err = QString::fromUtf8(p.readAllStandardError());
    QVERIFY2(err.startsWith(QStringLiteral("vxcollect: cannot connect to 127.0.0.1:%1: ").arg(port)), qPrintable(err));
    QCOMPARE(err.count(QLatin1Char('\n')), 1);
}

// A gateway that accepts and never answers: timeouts, as for silent devices on a serial line.
void tst_vxcollect::silentListenerTimesOut()
{
    QTemporaryDir dir;
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
    QProcess collect;
    collect.start(QStringLiteral(VXCOLLECT_PATH), {"--dir", dir.path(), "--addresses", "1-2", "--timeout", "40",
                                                   "--port", QStringLiteral("tcp://127.0.0.1:%1").arg(silent.serverPort())});
    QVERIFY(collect.waitForStarted());
    QByteArray output;
    QTRY_VERIFY_WITH_TIMEOUT((output += collect.readAllStandardOutput()).contains("0 answering, 2 silent"), 5000);
    signalProcess(collect, SIGTERM);
    QVERIFY(collect.waitForFinished(5000));
    QCOMPARE(collect.exitCode(), 0);
}

// One client at a time, as a gateway in exclusive mode: the second is closed at once.
void tst_vxcollect::simulatorRefusesASecondClient()
{
    QProcess sim;
    const QString url = startTcpSimulator(sim, {"--addresses", "1"});
    QVERIFY(!url.isEmpty());
    const QUrl address(url);
    QTcpSocket first, second;
    first.connectToHost(address.host(), quint16(address.port()));
    QVERIFY(first.waitForConnected(3000));
    QTest::qWait(100);
    second.connectToHost(address.host(), quint16(address.port()));
    QVERIFY(second.waitForConnected(3000) || second.state() == QAbstractSocket::UnconnectedState);
    QTRY_COMPARE(second.state(), QAbstractSocket::UnconnectedState);
    QByteArray said;
    QTRY_VERIFY((said += sim.readAllStandardError()).contains("a second client refused"));
    // The first is still served.
    first.write(QByteArray::fromHex("010300000012c5c7"));
    QTRY_VERIFY(first.bytesAvailable() >= 41);
    sim.terminate();
    sim.waitForFinished(3000);
}

// A warm bin (35 °C everywhere): with the default limit every cable is high,
// one line per cable naming its points, printed with --json; with the limit
// in alarms.ini at 40, none is.
void tst_vxcollect::alarmsAsTheWindowRaisesThem()
{
    for (const bool raised : {true, false}) {
        QTemporaryDir dir;
        if (!raised) {
            QFile ini(dir.filePath(QStringLiteral("alarms.ini")));
            QVERIFY(ini.open(QIODevice::WriteOnly));
            ini.write("[alarms]\nhigh_limit=40\n");
        }
        QProcess sim;
        const QString bus = dir.filePath(QStringLiteral("bus"));
        sim.start(QStringLiteral(VXSIM_PATH), {"--link", bus, "--addresses", "1-2", "--base", "35"});
        QVERIFY(sim.waitForReadyRead(5000) && QFileInfo::exists(bus));
        QProcess collect;
        collect.start(QStringLiteral(VXCOLLECT_PATH), {"--port", bus, "--baud", "115200", "--addresses", "1-2", "--dir",
                                                       dir.path(), "--json"});
        QVERIFY(collect.waitForStarted());
        QByteArray out;
        QTRY_VERIFY_WITH_TIMEOUT((out += collect.readAllStandardOutput()).count("\"raw\"") >= 6, 10000);
        QTest::qWait(1500); // an evaluation or two
        signalProcess(collect, SIGTERM);
        QVERIFY(collect.waitForFinished(5000));
        out += collect.readAllStandardOutput();
        int highs = 0, points = 0;
        for (const QByteArray &line : out.split('\n')) {
            const QJsonObject o = QJsonDocument::fromJson(line).object();
            if (o.value(QStringLiteral("alarm")).toString() == QLatin1String("high_temperature")
                && o.value(QStringLiteral("state")).toString() == QLatin1String("raised")) {
                ++highs;
                QVERIFY(o.value(QStringLiteral("value")).toDouble() > 30);
                QVERIFY(o.contains(QStringLiteral("layer")));
                points += o.value(QStringLiteral("points")).toArray().size();
            }
        }
        // vxsim gives 16 of 18 points a reading: 2 cables of 16 points.
        QCOMPARE(highs, raised ? 2 : 0);
        QCOMPARE(points, raised ? 32 : 0);
        sim.terminate();
        sim.waitForFinished(3000);
    }
}

// A gateway that sends noise with every reply: dataGet.txt never passes its
// cap; the one before it is kept, nothing older.
void tst_vxcollect::rawLogStaysUnderItsCap()
{
    QTemporaryDir dir;
    QProcess sim;
    const QString bus = dir.filePath(QStringLiteral("bus"));
    sim.start(QStringLiteral(VXSIM_PATH), {"--link", bus, "--addresses", "1-8", "--noise", "1"});
    QVERIFY(sim.waitForReadyRead(5000));
    QProcess collect;
    collect.start(QStringLiteral(VXCOLLECT_PATH), {"--port", bus, "--baud", "115200", "--addresses", "1-8", "--dir",
                                                   dir.path(), "--quiet", "--raw-log-max", "64k"});
    QVERIFY(collect.waitForStarted());
    const QString log = dir.filePath(QStringLiteral("dataGet.txt"));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(log + ".1").exists() && QFileInfo(log).size() > 32 * 1024, 30000);
    signalProcess(collect, SIGTERM);
    QVERIFY(collect.waitForFinished(5000));
    QVERIFY(QFileInfo(log).size() <= 64 * 1024);
    QVERIFY(QFileInfo(log + ".1").size() <= 64 * 1024);
    QVERIFY(QFileInfo(log + ".1").size() > 60 * 1024);
    QVERIFY(!QFileInfo::exists(log + ".2"));
    sim.terminate();
    sim.waitForFinished(3000);
}

// A depot of four bins on two simulated buses, the same addresses on each:
// every cable's frames come under its own key (bus 2's past 1000) with its
// own bus's temperatures; the second bus going away leaves the first collecting.
void tst_vxcollect::depotOfTwoBuses()
{
    QTemporaryDir dir;
    const QString busA = dir.filePath(QStringLiteral("busA")), busB = dir.filePath(QStringLiteral("busB"));
    QFile depot(dir.filePath(QStringLiteral("depot.ini")));
    QVERIFY(depot.open(QIODevice::WriteOnly));
    QByteArray text;
    for (int bin = 1; bin <= 4; ++bin)
        text += QStringLiteral("[bin.%1]\nsize = 36x24\ngrid = 6x8\n").arg(bin).toUtf8();
    text += QStringLiteral("[bus.1]\nport = %1\nbaud = 115200\n[bus.2]\nport = %2\nbaud = 115200\n").arg(busA, busB).toUtf8();
    // (bus, address) -> bin, row, column
    const QList<QList<int>> cables{{1, 1, 1, 1, 1}, {1, 2, 2, 2, 3}, {2, 1, 3, 4, 5}, {2, 2, 4, 6, 8}};
    for (const QList<int> &c : cables)
        text += QStringLiteral("[cable.%1.%2]\nbin = %3\nposition = %4, %5\ndepths = 0.5, 1.5, 2.5\n")
                    .arg(c[0]).arg(c[1]).arg(c[2]).arg(c[3]).arg(c[4]).toUtf8();
    depot.write(text);
    depot.close();

    QProcess simA, simB;
    simA.start(QStringLiteral(VXSIM_PATH), {"--link", busA, "--addresses", "1-2", "--base", "20"});
    // Bus 2's simulator serves what the depot file says of it: its port and its cables' addresses.
    simB.start(QStringLiteral(VXSIM_PATH), {"--depot", depot.fileName(), "--bus", "2", "--base", "30"});
    QVERIFY(simA.waitForReadyRead(5000) && simB.waitForReadyRead(5000));
    QProcess collect;
    collect.start(QStringLiteral(VXCOLLECT_PATH), {"--dir", dir.path(), "--json", "--metrics", "off"});
    QVERIFY(collect.waitForStarted());

    // Each frame's key, and its first point's temperature.
    QByteArray out, err;
    QMap<int, double> first;
    auto take = [&] {
        err += collect.readAllStandardError(); // first: a frame printed before what it says is read with it
        out += collect.readAllStandardOutput();
        while (out.contains('\n')) {
            const int nl = int(out.indexOf('\n'));
            const QJsonObject o = QJsonDocument::fromJson(out.left(nl)).object();
            out.remove(0, nl + 1);
            if (o.contains(QStringLiteral("raw")))
                first.insert(o.value(QStringLiteral("device")).toInt(), o.value(QStringLiteral("celsius")).toArray().at(0).toDouble());
        }
        return first.size();
    };
    QTRY_VERIFY_WITH_TIMEOUT(take() >= 4, 10000);
    const Depot parsed = parseDepot(text);
    for (const QList<int> &c : cables) {
        const int key = deviceKey(c[0], c[1]);
        QVERIFY2(first.contains(key), qPrintable(QStringLiteral("no frame of %1").arg(key)));
        QVERIFY2(qAbs(first.value(key) - (c[0] == 1 ? 20 : 30)) < 5, qPrintable(QString::number(first.value(key))));
        const DepotCable *cable = parsed.cable(key);
        QVERIFY(cable && cable->bin == c[2] && cable->row == c[3] && cable->column == c[4]);
    }
    QCOMPARE(first.size(), 4);

    // Bus 2's simulator dies: said once, and bus 1 goes on.
    simB.kill();
    simB.waitForFinished(3000);
    QTRY_VERIFY_WITH_TIMEOUT((take(), err.contains("bus 2: cannot use")), 10000);
    first.remove(1);
    QTRY_VERIFY_WITH_TIMEOUT((take(), first.contains(1)), 10000);
    signalProcess(collect, SIGTERM);
    QVERIFY(collect.waitForFinished(5000));
    QCOMPARE(collect.exitCode(), 0);
    QCOMPARE(err.count("bus 2: cannot use"), 1);
    simA.terminate();
    simA.waitForFinished(3000);
}

QTEST_GUILESS_MAIN(tst_vxcollect)
#include "tst_vxcollect.moc"
