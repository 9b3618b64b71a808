// The storage rules of whole bins and the inspection book's intervals, as scenario tables.
#include "core/grain/AlarmBook.h"
#include "core/depot/DepotPicture.h"
#include "core/grain/StorageRules.h"

#include <QtTest>

using namespace vx;

class tst_storagerules : public QObject {
    Q_OBJECT
private slots:
    void rules_data();
    void rules();
    void intervals_data();
    void intervals();
    void binFigures();
};

namespace {
// A cable with points every `spacing` metres from 0.5 m down, at these temperatures.
CableProfile cable(int number, const QList<double> &celsius, double spacing = 1)
{
    CableProfile c{number, {}};
    for (int i = 0; i < celsius.size(); ++i)
        c.points.append({i + 1, 0.5 + i * spacing, celsius[i]});
    return c;
}
BinProfile bin(int number, const QString &grain, const QList<CableProfile> &cables)
{
    return {number, grain, cables};
}
} // namespace

void tst_storagerules::rules_data()
{
    QTest::addColumn<QList<BinProfile>>("bins");
    QTest::addColumn<QStringList>("expected"); // each condition as its stored alarm text, in order

    QTest::newRow("even bin: nothing") << QList<BinProfile>{bin(1, "wheat", {cable(1, {20, 20.5, 21})})} << QStringList{};
    QTest::newRow("1.0 °C/m is at the limit") << QList<BinProfile>{bin(1, "", {cable(1, {20, 21, 22})})} << QStringList{};
    QTest::newRow("a steep step, told at its upper point")
        << QList<BinProfile>{bin(1, "", {cable(4, {20, 20.5, 22.5})})}
        << QStringList{"温度梯度过大 电缆04 层02 最大 2.00 °C/m（层02），高于 1.0 °C/m"};
    QTest::newRow("steps over 2 m are judged per metre")
        << QList<BinProfile>{bin(1, "", {cable(4, {20, 20.2, 23}, 2)})}
        << QStringList{"温度梯度过大 电缆04 层02 最大 1.40 °C/m（层02），高于 1.0 °C/m"};
    QTest::newRow("two steep steps, cooler below too")
        << QList<BinProfile>{bin(1, "", {cable(4, {22, 19, 19, 21.5})})}
        << QStringList{"温度梯度过大 电缆04 层01,03 最大 3.00 °C/m（层01），高于 1.0 °C/m"};
    QTest::newRow("top 3.0 from the bottom: at the limit")
        << QList<BinProfile>{bin(1, "", {cable(1, {23, 22.5, 22, 21.5, 21, 20.5, 20}, 0.5)})} << QStringList{};
    QTest::newRow("top and bottom 3.25 apart over two cables")
        << QList<BinProfile>{bin(2, "", {cable(1, {24, 23.5, 23, 22.5, 22, 21.5, 21, 20.5}, 0.5),
                                          cable(2, {23, 22.5, 22, 21.5, 21, 20.5, 20}, 0.5)})}
        << QStringList{"上下层温差过大 仓02 上下层相差 3.25 °C，高于 3.0 °C"};
    QTest::newRow("a bin warmer than its grain's others")
        << QList<BinProfile>{bin(1, "wheat", {cable(1, {20})}), bin(2, "Wheat", {cable(1, {16.5})}),
                             bin(3, "wheat", {cable(1, {16.5})}), bin(4, "maize", {cable(1, {10})})}
        << QStringList{"高于同品种仓 仓01 平均高于同品种仓 3.50 °C，高于 3.0 °C"};
    QTest::newRow("3.0 above is at the margin; another grain is no comparison")
        << QList<BinProfile>{bin(1, "wheat", {cable(1, {20})}), bin(2, "wheat", {cable(1, {17})}),
                             bin(3, "maize", {cable(1, {10})})}
        << QStringList{};
    QTest::newRow("a bin alone of its grain") << QList<BinProfile>{bin(1, "paddy", {cable(1, {30})})} << QStringList{};
}

void tst_storagerules::rules()
{
    QFETCH(QList<BinProfile>, bins);
    QFETCH(QStringList, expected);
    QStringList texts;
    for (const AlarmCondition &c : evaluateStorageRules(bins, StorageSettings{})) {
        Alarm a;
        a.condition = c;
        texts << AlarmTransition{a, QStringLiteral("raised")}.text();
        // What is stored reads back the same, bin included.
        QCOMPARE(AlarmCondition::fromJson(c.json()).value(), c);
    }
    QCOMPARE(texts, expected);
}

void tst_storagerules::intervals_data()
{
    QTest::addColumn<int>("storageClass");
    QTest::addColumn<double>("warmest");
    QTest::addColumn<int>("days");
    QTest::newRow("safe at 15.0") << int(StorageClass::Safe) << 15.0 << 15;
    QTest::newRow("safe at 15.1") << int(StorageClass::Safe) << 15.1 << 10;
    QTest::newRow("semi-safe at 15.0") << int(StorageClass::SemiSafe) << 15.0 << 10;
    QTest::newRow("semi-safe at 25") << int(StorageClass::SemiSafe) << 25.0 << 5;
    QTest::newRow("dangerous at -5") << int(StorageClass::Dangerous) << -5.0 << 5;
    QTest::newRow("dangerous at 15.01") << int(StorageClass::Dangerous) << 15.01 << 1;
}

void tst_storagerules::intervals()
{
    QFETCH(int, storageClass);
    QFETCH(double, warmest);
    QFETCH(int, days);
    const QDate last(2026, 12, 28);
    const QDate due = nextInspection(last, StorageClass(storageClass), warmest);
    QCOMPARE(last.daysTo(due), qint64(days));
    // Due that day is not overdue; the day after is, by one day, as a low alarm of the bin.
    QVERIFY(!inspectionOverdue(3, due, due));
    const auto overdue = inspectionOverdue(3, due, due.addDays(1));
    QVERIFY(overdue);
    QCOMPARE(overdue->priority(), AlarmPriority::Low);
    QCOMPARE(overdue->detail(), QStringLiteral("已逾期 1 天"));
}

// A bin's figures from its cables' latest frames: only trustworthy points of
// answering cables count, and the hottest is found where the depot hangs it.
void tst_storagerules::binFigures()
{
    const Depot depot = parseDepot("[bin.1]\nsize=10x10\ngrid=2x2\n[bin.2]\nsize=10x10\ngrid=2x2\n"
                                   "[cable.1]\nbin=1\nposition=1,1\ndepths=0.5,1.5,2.5\n"
                                   "[cable.2]\nbin=1\nposition=2,2\npoints=1,3\ndepths=0.5,2.5\n"
                                   "[cable.3]\nbin=1\nposition=1,2\ndepths=0.5\n"
                                   "[bus.2]\nport=tcp://127.0.0.1:1\n[cable.2.1]\nbin=2\nposition=1,1\ndepths=0.5\n");
    QVERIFY2(depot.errors.isEmpty(), qPrintable(depot.errors.value(0).text()));
    DepotPicture picture(depot);
    const qint64 now = 1796601600000, silentAfter = 600000;
    picture.take(1, {2000, 2100, 2200}, now - 1000);
    picture.take(2, {2500, 9999, 8500}, now - 2000);       // point 2 not installed; 85.00 is no temperature
    picture.take(3, {4000}, now - silentAfter - 1);        // silent: not counted
    picture.take(deviceKey(2, 1), {3000}, now - 500);      // bus 2, bin 2
    const BinSummary s = picture.summary(*depot.bin(1), now, silentAfter);
    QCOMPARE(s.cables, 3);
    QCOMPARE(s.silentCables, 1);
    QCOMPARE(s.all.count, 4);
    QCOMPARE(s.all.max, 25.0);
    QCOMPARE(s.all.min, 20.0);
    QCOMPARE(std::make_pair(s.maxCable, s.maxPoint), std::make_pair(2, 1));
    QCOMPARE(s.layers[0].mean, 22.5);
    QCOMPARE(s.layers[2].count, 1);
    QCOMPARE(s.lastReadingMs, now - 1000);
    QCOMPARE(s.topBottom.value(), -2.0); // cable 1 alone: cable 2's bottom reads 85.00, so it has one point
    QCOMPARE(picture.summary(*depot.bin(2), now, silentAfter).all.mean, 30.0);

    // Bus 2's cable above 28 °C is a high alarm of its own; cable 3 (silent, device 1..40) is the picture's to judge.
    AlarmSettings settings;
    settings.highLimit = 28;
    settings.silentAfterMs = silentAfter;
    QList<AlarmCondition> further = evaluateFurtherCables(picture, settings, now);
    QCOMPARE(further.size(), 1);
    QCOMPARE(std::make_tuple(further[0].rule, further[0].cable, further[0].bin, further[0].value),
             std::make_tuple(AlarmRule::HighTemperature, 1001, 2, 30.0));
    further = evaluateFurtherCables(picture, settings, now + silentAfter); // then it falls silent
    QCOMPARE(further.size(), 1);
    QCOMPARE(std::make_pair(further[0].rule, further[0].value), std::make_pair(AlarmRule::CableSilent, 600.0));
}

QTEST_GUILESS_MAIN(tst_storagerules)
#include "tst_storagerules.moc"
