// The depot file: what a good file gives, and every mistake named by its line and field.
#include "core/depot/Depot.h"

#include <QtTest>

using namespace vx;

class tst_depot : public QObject {
    Q_OBJECT
private slots:
    void goodDepot();
    void problems_data();
    void problems();
};

namespace {
// Two bins on two buses: a 36 m flat warehouse with a 6 x 8 grid and a squat silo.
const QByteArray kDepot = R"(# depot
[bin.1]
name = 1号仓
kind = flat
size = 36x24
grid = 6x8
grain = wheat
class = semi_safe
intake = 2026-07-01

[bin.2]
name = 2号仓
kind = squat_silo
diameter = 25
rings = 4.5, 9
grain = maize
moisture = 14.2
moisture_date = 2026-11-20

[bus.1]
baud = 9600

[bus.2]
port = tcp://10.0.0.5:502
addresses = 1-3

[cable.1.7]
bin = 1
position = 2, 3
depths = 0.5, 2.5, 4.5

[cable.2.1]
bin = 2
position = 0, 0
points = 1,2,4
depths = 0.3, 2, 4

[cable.2.2]
bin = 2
position = 1, 90
depths = 1

[air.50]
profile = ht
place = outside

[air.2.51]
place = bin 2
profile = input3

[profile.input3]
function = 4
first = 100
count = 3
temperature = 102, 0.01, signed
humidity = 100, 0.1

[fans.2]
relay = 2.60
coil = 3
)";

Depot parse(QByteArray text)
{
    return parseDepot(text, QStringLiteral("depot.ini"));
}
} // namespace

void tst_depot::goodDepot()
{
    const Depot d = parse(kDepot);
    QVERIFY2(d.errors.isEmpty(), qPrintable(d.errors.value(0).text()));
    QCOMPARE(d.bins.size(), 2);
    QCOMPARE(d.bins[0].name, QStringLiteral("1号仓"));
    QCOMPARE(d.bins[0].storageClass, StorageClass::SemiSafe);
    QCOMPARE(d.bins[0].intake, QDate(2026, 7, 1));
    QCOMPARE(d.bins[1].ringRadiiM, (QList<double>{4.5, 9}));
    QCOMPARE(d.buses.size(), 2);
    QCOMPARE(d.addressesOf(1), (QList<int>{7, 50})); // bus 1 lists none: its cables' and transmitters'
    QCOMPARE(d.bins[1].moistureWet, 14.2);
    QCOMPARE(d.bins[1].moistureDate, QDate(2026, 11, 20));
    // The outside air on bus 1 read humidity first; bin 2's headspace on bus 2; its fans on coil 3 of bus 2's relay 60.
    QCOMPARE(d.air.size(), 2);
    QCOMPARE(d.airDevice(50)->profile, QStringLiteral("ht"));
    QCOMPARE(d.airDevice(50)->bin, 0);
    QCOMPARE(d.airDevice(deviceKey(2, 51))->profile, QStringLiteral("input3"));
    // The file's own layout: input registers 100-102, RH x10 at 100, temperature x100 signed at 102.
    const auto input3 = d.airProfile(QStringLiteral("input3"));
    QVERIFY(input3 && input3->function == 4 && input3->first == 100 && input3->count == 3);
    const AirReading r = decodeAir(*input3, {655, 0, quint16(qint16(-1234))});
    QVERIFY2(r.ok(), qPrintable(r.fault));
    QCOMPARE(*r.celsius, -12.34);
    QCOMPARE(*r.relativeHumidity, 65.5);
    QCOMPARE(d.airDevice(deviceKey(2, 51))->bin, 2);
    QVERIFY(d.fansOf(2) && !d.fansOf(1));
    QCOMPARE(std::make_tuple(d.fansOf(2)->bus, d.fansOf(2)->address, d.fansOf(2)->coil), std::make_tuple(2, 60, 3));
    QCOMPARE(d.addressesOf(2), (QList<int>{1, 2, 3}));

    // Bus 1 keeps its addresses as stored keys; bus 2's are past 1000.
    const DepotCable *c = d.cable(7);
    QVERIFY(c);
    QCOMPARE(c->depthOf(3), 4.5);
    QCOMPARE(d.floorPosition(*c), QPointF(2.5 * 36 / 8, 1.5 * 24 / 6));
    const DepotCable *silo = d.cable(deviceKey(2, 1));
    QVERIFY(silo);
    QCOMPARE(silo->key(), 1001);
    QCOMPARE(busAndAddress(1001), std::make_pair(2, 1));
    QCOMPARE(silo->depthOf(4), 4.0);
    QCOMPARE(silo->depthOf(3), -1.0);
    const QPointF east = d.floorPosition(*d.cable(1002));
    QVERIFY(qAbs(east.x() - 4.5) < 1e-9 && qAbs(east.y()) < 1e-9);
    // Ring 1 has one cable: 28 m of ring without a neighbour.
    QCOMPARE(d.warnings.size(), 1);
    QVERIFY2(d.warnings[0].text().contains(QStringLiteral("[bin.2] ring 1")), qPrintable(d.warnings[0].text()));

    // No file: one bin of the polled addresses, as before there were depots.
    const Depot none = readDepotFile(QStringLiteral("/nonexistent/depot.ini"), {1, 2, 5});
    QVERIFY(!none.fromFile && none.errors.isEmpty());
    QCOMPARE(none.cablesOf(1).size(), 3);
    QCOMPARE(none.cable(5)->points.size(), 18);
}

void tst_depot::problems_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("error");   // the one error expected, as text; empty: none
    QTest::addColumn<QString>("warning"); // likewise
    QTest::addColumn<int>("cables");      // cables still usable

    const QByteArray bin = "[bin.1]\nsize = 36x24\ngrid = 6x8\n";
    QTest::newRow("a number that is not one") << bin + "[cable.3]\nbin = 1\nposition = 1,1\ndepths = 0.5, x\n"
                                              << "depot.ini:7: [cable.3] depths: 0.5, x: each point's depth" << "" << 0;
    QTest::newRow("depths going up") << bin + "[cable.3]\nbin = 1\nposition = 1,1\ndepths = 2, 1\n"
                                     << "depot.ini:7: [cable.3] depths" << "" << 0;
    QTest::newRow("depths and points differ") << bin + "[cable.3]\nbin = 1\nposition = 1,1\npoints = 1-3\ndepths = 1, 2\n"
                                              << "depot.ini:8: [cable.3] depths: 2 depths for 3 points" << "" << 0;
    QTest::newRow("a missing bin") << bin + "[cable.3]\nbin = 4\nposition = 1,1\ndepths = 1\n"
                                   << "depot.ini:4: [cable.3] bin: there is no [bin.4]" << "" << 0;
    QTest::newRow("bin key missing") << bin + "[cable.3]\nposition = 1,1\ndepths = 1\n"
                                     << "depot.ini:4: [cable.3] bin: missing" << "" << 0;
    QTest::newRow("an unknown key") << bin + "colour = red\n[cable.3]\nbin = 1\nposition = 1,1\ndepths = 1\n"
                                    << "depot.ini:4: [bin.1] colour: unknown key" << "" << 1;
    QTest::newRow("an unknown section") << bin + "[silo.2]\n" << "depot.ini:4: [silo.2]: unknown section" << "" << 0;
    QTest::newRow("a bad kind keeps the bin") << QByteArray("[bin.1]\nkind = barn\n[cable.3]\nbin = 1\nposition = 1,1\ndepths = 1\n")
                                              << "depot.ini:2: [bin.1] kind: barn is not flat" << "outside" << 1;
    QTest::newRow("address out of range") << bin + "[cable.250]\nbin = 1\nposition = 1,1\ndepths = 1\n"
                                          << "depot.ini:4: [cable.250]: address 250 is not 1-245" << "" << 0;
    QTest::newRow("a bus that is not there") << bin + "[cable.3.5]\nbin = 1\nposition = 1,1\ndepths = 1\n"
                                             << "depot.ini:4: [cable.3.5]: there is no [bus.3]" << "" << 0;
    QTest::newRow("a second bus without a port") << bin + "[bus.2]\nbaud = 9600\n"
                                                 << "depot.ini:4: [bus.2] port: missing" << "" << 0;
    QTest::newRow("a bad address list") << bin + "[bus.1]\naddresses = 5-2\n"
                                        << "depot.ini:5: [bus.1] addresses" << "" << 0;
    QTest::newRow("a key given twice") << QByteArray("[bin.1]\nsize = 36x24\nsize = 30x20\n")
                                       << "depot.ini:3: [bin.1] size: given twice (line 2 is used)" << "" << 0;
    QTest::newRow("a key before any section") << QByteArray("size = 1x1\n") << "depot.ini:1: size: a key before any" << "" << 0;
    QTest::newRow("an address on two cables") << bin + "[cable.3]\nbin = 1\nposition = 1,1\ndepths = 1\n"
                                                       "[cable.1.3]\nbin = 1\nposition = 1,2\ndepths = 1\n"
                                              << "" << "depot.ini:8: [cable.1.3]: this address is on two cables (line 4 is used)" << 1;
    QTest::newRow("a cable outside its bin") << bin + "[cable.3]\nbin = 1\nposition = 7,1\ndepths = 1\n"
                                             << "" << "depot.ini:6: [cable.3] position: row 7, column 1 is outside 1号仓's 6x8 grid" << 1;
    QTest::newRow("points 2.5 m apart") << bin + "[cable.3]\nbin = 1\nposition = 1,1\ndepths = 0.5, 3\n"
                                        << "" << "depot.ini:7: [cable.3] depths: points 1 and 2 are 2.5 m apart, more than 2 m" << 1;
    QTest::newRow("cables 6 m apart") << QByteArray("[bin.1]\nsize = 48x24\ngrid = 6x8\n")
                                      << "" << "depot.ini:1: [bin.1] grid: cables 6 m apart, more than 5 m" << 0;
    QTest::newRow("an address not polled") << bin + "[bus.1]\naddresses = 1-2\n[cable.3]\nbin = 1\nposition = 1,1\ndepths = 1\n"
                                           << "" << "depot.ini:6: [cable.3]: address 3 is not among bus 1's addresses" << 1;
    QTest::newRow("a transmitter without a place") << bin + "[air.40]\nprofile = th\n"
                                                   << "depot.ini:4: [air.40] place: missing" << "" << 0;
    QTest::newRow("an unknown profile") << bin + "[air.40]\nprofile = xyz\nplace = outside\n"
                                        << "depot.ini:5: [air.40] profile: xyz is not th" << "" << 0;
    QTest::newRow("a headspace of no bin") << bin + "[air.40]\nplace = bin 9\n"
                                           << "depot.ini:5: [air.40] place: bin 9 is not outside or bin N" << "" << 0;
    QTest::newRow("a transmitter on a cable's address") << bin + "[cable.3]\nbin = 1\nposition = 1,1\ndepths = 1\n[air.3]\nplace = outside\n"
                                                        << "depot.ini:8: [air.3]: address 3 of bus 1 is a cable's" << "" << 1;
    QTest::newRow("fans of no bin") << bin + "[fans.4]\nrelay = 60\n" << "depot.ini:4: [fans.4]: there is no [bin.4]" << "" << 0;
    QTest::newRow("a coil past 7") << bin + "[fans.1]\nrelay = 60\ncoil = 8\n" << "depot.ini:6: [fans.1] coil: 8 is not a number from 0 to 7" << "" << 0;
    QTest::newRow("a profile's register not read") << bin + "[profile.x]\nfirst = 10\ncount = 2\ntemperature = 12, 0.1, signed\nhumidity = 11, 0.1\n"
                                                   << "depot.ini:7: [profile.x] temperature: register 12 is not among the 2 read from 10" << "" << 0;
    QTest::newRow("a profile without humidity") << bin + "[profile.x]\ntemperature = 0, 0.1, signed\n"
                                                << "depot.ini:4: [profile.x] humidity: missing" << "" << 0;
    QTest::newRow("a profile named as a built-in") << bin + "[profile.th]\ntemperature = 0, 0.1\nhumidity = 1, 0.1\n"
                                                   << "depot.ini:4: [profile.th]: th is a built-in profile's name" << "" << 0;
    QTest::newRow("moisture without its date") << bin + "moisture = 13.5\n" << "" << "[bin.1] moisture_date: missing" << 0;
    QTest::newRow("a silo ring past its wall") << QByteArray("[bin.1]\nkind = vertical_silo\ndiameter = 8\nrings = 3, 5\n"
                                                            "[cable.3]\nbin = 1\nposition = 2, 0\ndepths = 1\n"
                                                            "[cable.4]\nbin = 1\nposition = 3, 0\ndepths = 1\n")
                                               << "" << "depot.ini:7: [cable.3] position: ring 2 is outside" << 2;
}

void tst_depot::problems()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, error);
    QFETCH(QString, warning);
    QFETCH(int, cables);
    const Depot d = parse(text);
    QStringList errors, warnings;
    for (const DepotProblem &p : d.errors)
        errors << p.text();
    for (const DepotProblem &p : d.warnings)
        warnings << p.text();
    QCOMPARE(errors.size(), error.isEmpty() ? 0 : 1);
    if (!error.isEmpty())
        QVERIFY2(errors[0].startsWith(error), qPrintable(errors[0]));
    if (warning.isEmpty())
        QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join('\n')));
    else
        QVERIFY2(warnings.size() >= 1 && warnings.join('\n').contains(warning), qPrintable(warnings.join('\n')));
    QCOMPARE(d.cables.size(), cables);
}

QTEST_GUILESS_MAIN(tst_depot)
#include "tst_depot.moc"
