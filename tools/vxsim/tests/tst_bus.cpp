#include "Bus.h"
#include "Control.h"
#include "Dallas.h"
#include "core/frames/Crc16.h"
#include "core/frames/HexText.h"
#include "core/sensors/ListFile.h"

#include <QTest>

using namespace vxsim;
using vx::withCrc;

namespace {
BusConfig config(QList<int> addresses = {1, 2, 3})
{
    BusConfig c;
    c.addresses = addresses;
    c.pointsPresent = 16;
    c.channels = 2;
    c.sensorsPerChannel = 3;
    return c;
}

QByteArray request(const char *hex)
{
    return withCrc(QByteArray::fromHex(hex));
}
} // namespace

class tst_bus : public QObject {
    Q_OBJECT
private slots:
    void dallasCrc();
    void codesPassTheListRule();
    void badCodeShare_data();
    void badCodeShare();
    void deviceSwitchedOnLate();
    void readMeasurements();
    void readParameters();
    void writeParameter();
    void addressChangeMovesEveryDeviceWithTheOldAddress();
    void readAddress();
    void readStoredSerials();
    void writeSerial();
    void readIn();
    void search();
    void noReply_data();
    void noReply();
    void negativeValuesAndUpload();
    void controlChangesTheWorld_data();
    void controlChangesTheWorld();
    void controlMistakes_data();
    void controlMistakes();
    void controlByPlace_data();
    void controlByPlace();
    void transmitters_data();
    void transmitters();
};

void tst_bus::dallasCrc()
{
    // The example ROM code of the 1-Wire application notes.
    QCOMPARE(dallasCrc8(QByteArray::fromHex("021CB8010000")  + QByteArray(1, '\0')), quint8(0xA2));
    for (quint64 seed : {0ull, 1ull, 99999ull}) {
        const QByteArray code = sensorCode(seed);
        QVERIFY(isValidSensorCode(code));
        QCOMPARE(quint8(code[0]), quint8(0x28));
    }
    QVERIFY(!isValidSensorCode(QByteArray::fromHex("28FF4A3B0500009C")));
}

void tst_bus::codesPassTheListRule()
{
    // Every simulated code is one an imported list file accepts as valid.
    for (quint64 seed = 0; seed < 5000; ++seed) {
        const QByteArray code = sensorCode(seed * 7919);
        QVERIFY(isValidSensorCode(code));
        QVERIFY2(vx::isValidEntry(vx::entryFields(vx::HexText(code).trimmed())), code.toHex(' ').constData());
    }
}

void tst_bus::badCodeShare_data()
{
    QTest::addColumn<double>("share");
    QTest::addColumn<int>("lowest");
    QTest::addColumn<int>("highest");
    // 36 devices x 4 channels x 3 sensors = 432 codes.
    QTest::newRow("none") << 0.0 << 0 << 0;
    QTest::newRow("a quarter") << 0.25 << 70 << 150;
    QTest::newRow("all") << 1.0 << 432 << 432;
}

void tst_bus::badCodeShare()
{
    QFETCH(double, share);
    QFETCH(int, lowest);
    QFETCH(int, highest);
    BusConfig c;
    c.badCodes = share;
    Bus bus(c);
    int bad = 0;
    for (const SimDevice &d : bus.devices())
        for (const auto &chain : d.sensorsOnBus)
            for (const QByteArray &code : chain) {
                QCOMPARE(quint8(code[0]), quint8(0x28));
                bad += isValidSensorCode(code) ? 0 : 1;
            }
    QVERIFY2(bad >= lowest && bad <= highest, qPrintable(QString::number(bad)));
    QCOMPARE(Bus(c).devices()[5].sensorsOnBus[2], bus.devices()[5].sensorsOnBus[2]); // the same for the same seed
}

void tst_bus::deviceSwitchedOnLate()
{
    BusConfig c = config();
    c.silentUntilMs.insert(2, 1000);
    Bus bus(c);
    QVERIFY(bus.handle(request("020300000012"), 999).isEmpty());
    QCOMPARE(bus.handle(request("020300000012"), 1000).size(), 41);
    QCOMPARE(bus.handle(request("010300000012"), 0).size(), 41); // the others answer from the start
}

void tst_bus::readMeasurements()
{
    Bus bus(config());
    const QByteArray reply = bus.handle(request("010300000012"), 0);
    QCOMPARE(reply.size(), 41);
    QVERIFY(vx::hasValidCrc(reply));
    QCOMPARE(reply.left(3), QByteArray::fromHex("010324"));
    const quint16 p1 = quint16(quint8(reply[3]) << 8 | quint8(reply[4]));
    QVERIFY(p1 > 1700 && p1 < 2300); // about 20 degrees
    QCOMPARE(reply.mid(3 + 2 * 16, 4), QByteArray::fromHex("FFFFFFFF")); // points 17, 18 absent
    // A start register shifts the points; past point 18 there is no reading.
    const QByteArray shifted = bus.handle(request("010300100004"), 0);
    QCOMPARE(shifted.mid(3, 8), QByteArray::fromHex("FFFFFFFFFFFFFFFF"));
}

void tst_bus::readParameters()
{
    Bus bus(config());
    const quint16 defaults[6] = {0, 22, 10, 200, 50, 18};
    for (int row = 0; row < 6; ++row) {
        QByteArray req = QByteArray::fromHex("020400000001");
        req[2] = char(row + 1);
        QByteArray expected = QByteArray::fromHex("020402");
        expected.append(char(defaults[row] >> 8)).append(char(defaults[row] & 0xFF));
        QCOMPARE(bus.handle(withCrc(req), 0), withCrc(expected));
    }
    QCOMPARE(bus.handle(request("02040B000001"), 0), withCrc(QByteArray::fromHex("0204020002")));
    QCOMPARE(bus.handle(request("020407000001"), 0), withCrc(QByteArray::fromHex("028402")));
}

void tst_bus::writeParameter()
{
    Bus bus(config());
    const QByteArray req = request("020602000016");
    QCOMPARE(bus.handle(req, 0), req); // echoed
    QCOMPARE(bus.find(2)->params[1], quint16(22));
    QCOMPARE(bus.handle(request("02060200001E"), 0).size(), 8);
    QCOMPARE(bus.find(2)->params[1], quint16(30));
    QCOMPARE(bus.find(1)->params[1], quint16(22));
}

void tst_bus::addressChangeMovesEveryDeviceWithTheOldAddress()
{
    Bus bus(config({5, 5, 7}));
    QCOMPARE(bus.handle(request("05060B000009"), 0), request("05060B000009"));
    QCOMPARE(bus.devices()[0].address, quint8(9));
    QCOMPARE(bus.devices()[1].address, quint8(9));
    QCOMPARE(bus.devices()[2].address, quint8(7));
    QVERIFY(bus.handle(request("050300000001"), 0).isEmpty());
    QCOMPARE(bus.handle(request("090300000001"), 0).size(), 7);
}

void tst_bus::readAddress()
{
    Bus bus(config({45}));
    QCOMPARE(bus.handle(QByteArray::fromHex("FA250200000199FE"), 0),
             withCrc(QByteArray::fromHex("2D25022D00")));
}

void tst_bus::readStoredSerials()
{
    Bus bus(config());
    const QByteArray reply = bus.handle(request("022202010004"), 0);
    QCOMPARE(reply.size(), 8 * 4 + 5);
    QCOMPARE(reply.left(3), QByteArray::fromHex("022202"));
    QCOMPARE(reply.mid(3, 8), bus.find(2)->sensorsOnBus[0][0]);
    QCOMPARE(reply.mid(3 + 8 * 3, 8), QByteArray(8, '\xFF')); // position 4 is empty
}

void tst_bus::writeSerial()
{
    Bus bus(config());
    const QByteArray code = sensorCode(4242);
    QByteArray req = QByteArray::fromHex("02220C0105") + code;
    const QByteArray reply = bus.handle(withCrc(req), 0);
    QCOMPARE(reply.size(), 13);
    QCOMPARE(quint8(reply[3]), quint8(0x28));
    QCOMPARE(reply.mid(3, 8), code);
    QCOMPARE(bus.find(2)->stored[0].value(5), code);
    // A code whose CRC-8 is wrong is not stored.
    QByteArray bad = code;
    bad[7] = char(bad[7] ^ 0xFF);
    const QByteArray refused = bus.handle(withCrc(QByteArray::fromHex("02220C0106") + bad), 0);
    QCOMPARE(quint8(refused[3]), quint8(0x00));
    QVERIFY(!bus.find(2)->stored[0].contains(6));
}

void tst_bus::readIn()
{
    Bus bus(config());
    const QByteArray reply = bus.handle(request("022201020904"), 0);
    QCOMPARE(reply.size(), 13);
    QCOMPARE(reply.mid(3, 8), bus.find(2)->sensorsOnBus[1][0]);
    QCOMPARE(bus.find(2)->stored[1].value(9), reply.mid(3, 8));
}

void tst_bus::search()
{
    Bus bus(config());
    const QByteArray req = request("02060C010104") + QByteArray(1, '\0');
    QCOMPARE(bus.handle(req, 0), withCrc(QByteArray::fromHex("02060C03030000")));
}

void tst_bus::noReply_data()
{
    QTest::addColumn<QByteArray>("req");
    QByteArray badCrc = request("010300000012");
    badCrc[7] = char(badCrc[7] ^ 1);
    QTest::newRow("bad CRC") << badCrc;
    QTest::newRow("absent address") << request("090300000012");
    QTest::newRow("too short") << QByteArray::fromHex("0103");
}

void tst_bus::noReply()
{
    QFETCH(QByteArray, req);
    Bus bus(config());
    QVERIFY(bus.handle(req, 0).isEmpty());
}

void tst_bus::negativeValuesAndUpload()
{
    QCOMPARE(Bus::encode(25.34), quint16(2534));
    QCOMPARE(Bus::encode(-5.36), quint16(65000));
    QCOMPARE(Bus::encode(-0.02), quint16(65534));
    QCOMPARE(Bus::encode(300.0), quint16(20000)); // clamped to what the devices can say
    BusConfig c = config({4});
    c.baseTemperature = -10;
    Bus bus(c);
    const QByteArray frame = bus.uploadFrame(bus.devices().first(), 1000);
    QCOMPARE(frame.size(), 31);
    QVERIFY(vx::hasValidCrc(frame));
    QCOMPARE(frame.left(3), QByteArray::fromHex("04031A"));
    QVERIFY(quint16(quint8(frame[3]) << 8 | quint8(frame[4])) > 20000); // negative
}

// Commands run one after another, an hour apart on the bus's clock; an hour
// after the last, point 1 and 5 of device 2 are read. heat/rise add to the untouched value,
// hold replaces it, silence leaves the device without a reply.
void tst_bus::controlChangesTheWorld_data()
{
    QTest::addColumn<QStringList>("commands");
    QTest::addColumn<double>("point1Added"); // degrees over the untouched reading
    QTest::addColumn<int>("point5Raw");      // -1: 0.0 added, like point 1 without the cable heat
    QTest::addColumn<bool>("answers");
    QTest::newRow("heat a cable") << QStringList{"heat 2 12"} << 12.0 << -2 << true;
    QTest::newRow("heat one point") << QStringList{"heat 2.5 12"} << 0.0 << -3 << true;
    QTest::newRow("heat undone") << QStringList{"heat 1-3 12", "heat 2 0"} << 0.0 << -1 << true;
    QTest::newRow("rise an hour") << QStringList{"rise 2 1.5"} << 1.5 << -2 << true;
    QTest::newRow("rise stopped keeps it") << QStringList{"rise 2 1.5", "rise 2 0"} << 1.5 << -2 << true;
    QTest::newRow("hold power-on") << QStringList{"hold 2.5 8500"} << 0.0 << 8500 << true;
    QTest::newRow("hold absent point") << QStringList{"hold 2.18 3000", "hold 2.5 65535"} << 0.0 << 65535 << true;
    QTest::newRow("hold released") << QStringList{"hold 2.5 8500", "release 2.5"} << 0.0 << -1 << true;
    QTest::newRow("silence") << QStringList{"silence 2"} << 0.0 << -1 << false;
    QTest::newRow("revive") << QStringList{"silence 2,3", "revive 2"} << 0.0 << -1 << true;
    QTest::newRow("reset") << QStringList{"heat 2 9", "hold 2.5 8500", "silence 2", "reset"} << 0.0 << -1 << true;
}

void tst_bus::controlChangesTheWorld()
{
    QFETCH(QStringList, commands);
    QFETCH(double, point1Added);
    QFETCH(int, point5Raw);
    QFETCH(bool, answers);
    Bus bus(config()), untouched(config());
    qint64 now = 0;
    for (const QString &line : commands) {
        QString error;
        const auto c = parseControlCommand(line, &error);
        QVERIFY2(c, qPrintable(error));
        QVERIFY(!bus.apply(*c, now).isEmpty());
        now += 3600000;
    }
    const SimDevice &d = *bus.find(2), &u = *untouched.find(2);
    const auto celsius = [](quint16 raw) { return raw / 100.0; };
    QCOMPARE(celsius(bus.pointRegister(d, 1, now)) - celsius(untouched.pointRegister(u, 1, now)), point1Added);
    const double added5 = celsius(bus.pointRegister(d, 5, now)) - celsius(untouched.pointRegister(u, 5, now));
    if (point5Raw == -1)
        QCOMPARE(added5, 0.0);
    else if (point5Raw == -2)
        QCOMPARE(added5, point1Added);
    else if (point5Raw == -3)
        QCOMPARE(added5, 12.0);
    else
        QCOMPARE(int(bus.pointRegister(d, 5, now)), point5Raw);
    QCOMPARE(!bus.handle(request("020300000012"), now).isEmpty(), answers);
    QVERIFY(!bus.handle(request("010300000012"), now).isEmpty()); // the others answer as before
}

void tst_bus::controlMistakes_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("said");
    QTest::newRow("unknown") << "cool 2 3" << "unknown command";
    QTest::newRow("no amount") << "heat 2" << "takes 2 argument";
    QTest::newRow("not a number") << "heat 2 warm" << "not a number";
    QTest::newRow("not finite") << "rise 2 nan" << "not a number";
    QTest::newRow("bad address") << "silence x" << "not an address list";
    QTest::newRow("point 19") << "hold 2.19 8500" << "not 1-18";
    QTest::newRow("hold a cable") << "hold 2 8500" << "needs a point";
    QTest::newRow("silence a point") << "silence 2.3" << "not a point";
    QTest::newRow("raw too big") << "hold 2.3 65536" << "not 0-65535";
    QTest::newRow("weather without RH") << "weather 5" << "weather takes DEG";
    QTest::newRow("weather RH 101") << "weather 5 101" << "weather takes DEG";
    QTest::newRow("an unknown air fault") << "airfault 50 smoke" << "airfault takes";
}

void tst_bus::controlByPlace_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("bus");
    QTest::addColumn<int>("address"); // 0: refused
    QTest::addColumn<QString>("said");
    QTest::newRow("bus 2's cable at row 1, column 2") << "heat bin2:1,2 5" << 2 << 7 << "";
    QTest::newRow("bus 1's cable at the same place") << "hold bin2:1,2.3 8500" << 1 << 5 << "";
    QTest::newRow("a silo's ring and angle") << "silence bin3:1,90" << 1 << 9 << "";
    QTest::newRow("nothing hangs there") << "heat bin2:2,2 5" << 2 << 0 << "no cable of bus 2";
    QTest::newRow("not a place") << "heat bin2:x 5" << 2 << 0 << "not a place";
}

void tst_bus::controlByPlace()
{
    QFETCH(QString, line);
    QFETCH(int, bus);
    QFETCH(int, address);
    QFETCH(QString, said);
    const vx::Depot depot = vx::parseDepot("[bin.2]\nsize=10x10\ngrid=2x2\n[bin.3]\nkind=squat_silo\ndiameter=20\nrings=5\n"
                                           "[bus.2]\nport=tcp://127.0.0.1:1\n"
                                           "[cable.2.7]\nbin=2\nposition=1,2\ndepths=1\n"
                                           "[cable.5]\nbin=2\nposition=1,2\ndepths=1\n"
                                           "[cable.9]\nbin=3\nposition=1,90\ndepths=1\n");
    QString error;
    const auto c = parseControlCommand(line, &error, &depot, bus);
    QCOMPARE(c ? c->addresses.value(0) : 0, address);
    QVERIFY2(error.contains(said), qPrintable(error));
    QVERIFY(!parseControlCommand(line, &error)); // without a depot, a place means nothing
}

void tst_bus::controlMistakes()
{
    QFETCH(QString, line);
    QFETCH(QString, said);
    QString error;
    QVERIFY(!parseControlCommand(line, &error));
    QVERIFY2(error.contains(said), qPrintable(error));
}

// A transmitter's reply after control commands: the weather set, a fault made.
void tst_bus::transmitters_data()
{
    QTest::addColumn<QStringList>("commands");
    QTest::addColumn<QByteArray>("reply"); // from the address on, without the CRC
    QTest::newRow("3 °C at 85 %, temperature first") << QStringList{"weather 3 85"} << QByteArray::fromHex("320304001e0352");
    QTest::newRow("frost") << QStringList{"weather -4.5 70"} << QByteArray::fromHex("320304ffd302bc");
    QTest::newRow("an exception") << QStringList{"airfault 50 exception"} << QByteArray::fromHex("328304");
    QTest::newRow("a register short") << QStringList{"weather 3 85", "airfault 50 short"} << QByteArray::fromHex("320302001e");
    QTest::newRow("150 °C") << QStringList{"weather 3 85", "airfault 50 range"} << QByteArray::fromHex("32030405dc0352");
    QTest::newRow("mended") << QStringList{"weather 3 85", "airfault 50 range", "airfault 50 none"} << QByteArray::fromHex("320304001e0352");
}

void tst_bus::transmitters()
{
    QFETCH(QStringList, commands);
    QFETCH(QByteArray, reply);
    BusConfig c = config();
    c.air.insert(50, AirDeviceSim{});
    Bus bus(c);
    for (const QString &line : commands) {
        QString error;
        const auto command = parseControlCommand(line, &error);
        QVERIFY2(command, qPrintable(error));
        QVERIFY(!bus.apply(*command, 0).isEmpty());
    }
    QCOMPARE(bus.handle(request("320300000002"), 0).toHex(), withCrc(reply).toHex());
}

QTEST_APPLESS_MAIN(tst_bus)
#include "tst_bus.moc"
