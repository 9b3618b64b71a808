// The web view's API texts: the query checks and what a point's reading says.
#include "core/web/WebTexts.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

using namespace vx;

class tst_webtexts : public QObject {
    Q_OBJECT
private slots:
    void curveQueries_data();
    void curveQueries();
    void pointStatuses_data();
    void pointStatuses();
    void depotAsTheTabShowsIt();
};

void tst_webtexts::curveQueries_data()
{
    QTest::addColumn<QString>("cable");
    QTest::addColumn<QString>("layer");
    QTest::addColumn<QString>("span");
    QTest::addColumn<qint64>("spanMs"); // 0: refused
    QTest::newRow("defaults to a day") << "3" << "" << "" << 86400000LL;
    QTest::newRow("a point, an hour") << "40" << "18" << "1h" << 3600000LL;
    QTest::newRow("a month") << "1" << "1" << "30d" << 30 * 86400000LL;
    QTest::newRow("no cable") << "" << "" << "24h" << 0LL;
    QTest::newRow("cable 0") << "0" << "" << "24h" << 0LL;
    QTest::newRow("cable 41") << "41" << "" << "24h" << 0LL;
    QTest::newRow("cable text") << "3a" << "" << "24h" << 0LL;
    QTest::newRow("layer 19") << "3" << "19" << "24h" << 0LL;
    QTest::newRow("a year") << "3" << "" << "365d" << 0LL;
    QTest::newRow("span in seconds") << "3" << "" << "86400" << 0LL;
}

void tst_webtexts::curveQueries()
{
    QFETCH(QString, cable);
    QFETCH(QString, layer);
    QFETCH(QString, span);
    QFETCH(qint64, spanMs);
    QString why;
    const auto q = web::curveQuery(cable, layer, span, 1765180800000, &why);
    QCOMPARE(q.has_value(), spanMs > 0);
    QCOMPARE(why.isEmpty(), spanMs > 0); // a refusal always says what to send
    if (q) {
        QCOMPARE(q->toMs - q->fromMs, spanMs);
        QCOMPARE(q->toMs, 1765180800000);
        QCOMPARE(q->buckets, web::kCurveBuckets);
    }
}

void tst_webtexts::pointStatuses_data()
{
    // Two frames of cable 2, layer 1: what the API says of the second.
    QTest::addColumn<quint16>("first");
    QTest::addColumn<quint16>("second");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QJsonValue>("celsius");
    QTest::newRow("a temperature") << quint16(2000) << quint16(2012) << "ok" << QJsonValue(20.12);
    QTest::newRow("below zero") << quint16(0xFF38) << quint16(0xFF38) << "ok" << QJsonValue(-2.0);
    QTest::newRow("no reading") << quint16(2000) << quint16(65535) << "no_reading" << QJsonValue();
    QTest::newRow("power-on value") << quint16(2000) << quint16(8500) << "power_on" << QJsonValue();
    QTest::newRow("a jump its neighbours do not share") << quint16(2000) << quint16(4500) << "suspect" << QJsonValue(45.0);
}

void tst_webtexts::pointStatuses()
{
    QFETCH(quint16, first);
    QFETCH(quint16, second);
    QFETCH(QString, status);
    QFETCH(QJsonValue, celsius);
    GrainSnapshot snapshot;
    const QList<quint16> steady(18, 2000);
    QList<quint16> frame = steady;
    frame[0] = first;
    snapshot.take(2, frame, 1000);
    frame[0] = second;
    snapshot.take(2, frame, 2000);
    const QJsonObject o = QJsonDocument::fromJson(web::readingsJson(snapshot, 3000, 60000)).object();
    QCOMPARE(o.value(QStringLiteral("time")).toString(), QStringLiteral("1970-01-01T00:00:03.000Z"));
    const QJsonArray cables = o.value(QStringLiteral("cables")).toArray();
    QCOMPARE(cables.size(), 1); // cables never seen are left out
    const QJsonObject cable = cables.first().toObject();
    QCOMPARE(cable.value(QStringLiteral("cable")).toInt(), 2);
    QCOMPARE(cable.value(QStringLiteral("state")).toString(), QStringLiteral("answering"));
    const QJsonObject point = cable.value(QStringLiteral("layers")).toArray().first().toObject();
    QCOMPARE(point.value(QStringLiteral("status")).toString(), status);
    QCOMPARE(point.value(QStringLiteral("celsius")), celsius);
    // Silent a minute later, by the same rule the window uses.
    const QJsonObject later = QJsonDocument::fromJson(web::readingsJson(snapshot, 2000 + 60001, 60000)).object();
    QCOMPARE(later.value(QStringLiteral("cables")).toArray().first().toObject().value(QStringLiteral("state")).toString(),
             QStringLiteral("silent"));
}

QTEST_GUILESS_MAIN(tst_webtexts)
// /api/depot: a bin's figures and alarms, each cable's place and trusted temperatures.
void tst_webtexts::depotAsTheTabShowsIt()
{
    const qint64 now = 1796601600000;
    DepotPicture picture(parseDepot("[bin.1]\nname=1号仓\nsize=10x10\ngrid=2x2\ngrain=wheat\n"
                                    "[bin.2]\nkind=vertical_silo\ndiameter=8\nrings=3\n"
                                    "[cable.4]\nbin=1\nposition=2,1\ndepths=0.5,1.5\n"
                                    "[cable.5]\nbin=2\nposition=1,180\ndepths=1\n"));
    picture.take(4, {2450, 8500}, now - 1000); // point 2 reads the power-on 85.00: no temperature
    AlarmCondition hot;
    hot.rule = AlarmRule::HighTemperature;
    hot.cable = 4;
    hot.points = {{1, 24.5, SensorFaultKind::None}};
    Alarm alarm;
    alarm.condition = hot;
    const QJsonObject o = QJsonDocument::fromJson(web::depotJson(picture, {alarm}, now, 600000)).object();
    const QJsonArray bins = o.value(QStringLiteral("bins")).toArray();
    QCOMPARE(bins.size(), 2);
    const QJsonObject first = bins[0].toObject();
    QCOMPARE(first.value(QStringLiteral("name")).toString(), QStringLiteral("1号仓"));
    QCOMPARE(first.value(QStringLiteral("max")).toDouble(), 24.5);
    QCOMPARE(first.value(QStringLiteral("alarms")).toObject().value(QStringLiteral("high")).toInt(), 1);
    const QJsonObject cable = first.value(QStringLiteral("cables")).toArray()[0].toObject();
    QCOMPARE(cable.value(QStringLiteral("row")).toInt(), 2);
    QCOMPARE(cable.value(QStringLiteral("celsius")).toArray(), (QJsonArray{24.5, QJsonValue()}));
    QCOMPARE(cable.value(QStringLiteral("depths")).toArray(), (QJsonArray{0.5, 1.5}));
    const QJsonObject silo = bins[1].toObject();
    QVERIFY(!silo.contains(QStringLiteral("max")));
    QCOMPARE(silo.value(QStringLiteral("alarms")).toObject().value(QStringLiteral("high")).toInt(), 0);
    const QJsonObject silent = silo.value(QStringLiteral("cables")).toArray()[0].toObject();
    QCOMPARE(silent.value(QStringLiteral("angle")).toDouble(), 180.0);
    QCOMPARE(silent.value(QStringLiteral("state")).toString(), QStringLiteral("never_seen"));

    // With the air: outside 5 °C at 50 %, bin 1's headspace, its advice and fans; bin 2 has no moisture entered.
    const Depot aired = parseDepot("[bin.1]\nsize=10x10\ngrid=2x2\ngrain=wheat\nmoisture=13\nmoisture_date=2026-11-01\n"
                                   "[bin.2]\nsize=10x10\ngrid=2x2\n[cable.4]\nbin=1\nposition=2,1\ndepths=0.5,1.5\n"
                                   "[air.50]\nplace=outside\n[air.51]\nplace=bin 1\n[fans.1]\nrelay=60\n");
    DepotPicture withAir(aired);
    withAir.take(4, {2450, 2400}, now - 1000);
    VentilationControl air;
    air.setDepot(aired);
    air.accept(50, AirReading{5.0, 50.0, {}}, now - 2000);
    air.accept(51, AirReading{20.0, 60.0, {}}, now - 2000);
    air.evaluate(withAir.profiles(now, 600000), now);
    const QJsonObject a = QJsonDocument::fromJson(web::depotJson(withAir, {}, now, 600000, &air)).object();
    QCOMPARE(a.value(QStringLiteral("outside")).toObject().value(QStringLiteral("celsius")).toDouble(), 5.0);
    QCOMPARE(a.value(QStringLiteral("outside")).toObject().value(QStringLiteral("dew_point")).toDouble(), -4.57); // tables: -4.6
    const QJsonObject one = a.value(QStringLiteral("bins")).toArray()[0].toObject();
    QCOMPARE(one.value(QStringLiteral("headspace")).toObject().value(QStringLiteral("rh")).toDouble(), 60.0);
    QCOMPARE(one.value(QStringLiteral("ventilation")).toObject().value(QStringLiteral("verdict")).toString(), QStringLiteral("可以通风"));
    QCOMPARE(one.value(QStringLiteral("fans")).toObject().value(QStringLiteral("on")).toBool(), false);
    const QJsonObject two = a.value(QStringLiteral("bins")).toArray()[1].toObject();
    QCOMPARE(two.value(QStringLiteral("ventilation")).toObject().value(QStringLiteral("rule")).toString(), QStringLiteral("not_measured"));
    QVERIFY(!two.contains(QStringLiteral("fans")));
}

#include "tst_webtexts.moc"
