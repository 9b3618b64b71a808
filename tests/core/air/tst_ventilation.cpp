// The ventilation advisor and the fans' automatic control, rule by rule at their limits.
#include "core/air/VentilationControl.h"

#include <QtTest>

using namespace vx;

Q_DECLARE_METATYPE(VentilationInputs)
Q_DECLARE_METATYPE(FanState)

class tst_ventilation : public QObject {
    Q_OBJECT
private slots:
    void advice_data();
    void advice();
    void fans_data();
    void fans();
    void fanLog_data();
    void fanLog();
    void fansOnTheBus();
};

namespace {
// A wheat bin at 13 % moisture, its grain at 20 °C, even; outside 10 °C at 50 %.
VentilationInputs wheatBin()
{
    VentilationInputs in;
    in.grainMeanC = 20;
    in.gradientPerMetre = 0.5;
    in.topBottomC = 1;
    in.outsideC = 10;
    in.outsideRh = 50;
    in.grainMoistureWet = 13;
    in.sorption = sorptionFor(QStringLiteral("wheat"));
    return in;
}
// The outside RH at which the air's equilibrium moisture is exactly the grain's plus the margin.
double wettingRh(const VentilationInputs &in, double margin)
{
    return *equilibriumRelativeHumidity(*in.sorption, *in.grainMoistureWet + margin, *in.outsideC);
}
} // namespace

void tst_ventilation::advice_data()
{
    QTest::addColumn<VentilationInputs>("in");
    QTest::addColumn<int>("rule");
    QTest::addColumn<bool>("go");
    const VentilationSettings s;
    const auto with = [](std::function<void(VentilationInputs &)> change) {
        VentilationInputs in = wheatBin();
        change(in);
        return in;
    };
    using R = VentilationRule;
    QTest::newRow("start: 10 °C colder") << wheatBin() << int(R::Start) << true;
    QTest::newRow("start at exactly 8") << with([](auto &in) { in.outsideC = 12; }) << int(R::Start) << true;
    QTest::newRow("7.9 does not start") << with([](auto &in) { in.outsideC = 12.1; }) << int(R::TooWarm) << false;
    QTest::newRow("no outside RH") << with([](auto &in) { in.outsideRh.reset(); }) << int(R::NotMeasured) << false;
    QTest::newRow("no grain moisture") << with([](auto &in) { in.grainMoistureWet.reset(); }) << int(R::NotMeasured) << false;
    QTest::newRow("no grain temperature") << with([](auto &in) { in.grainMeanC.reset(); }) << int(R::NotMeasured) << false;
    QTest::newRow("RH 95: fog") << with([](auto &in) { in.outsideRh = 95; in.grainMoistureWet = 30; }) << int(R::Saturated) << false;
    QTest::newRow("RH 94.9 with wet grain") << with([](auto &in) { in.outsideRh = 94.9; in.grainMoistureWet = 30; })
                                           << int(R::Start) << true;
    QTest::newRow("air just wetter than the margin")
        << with([&](auto &in) { in.outsideRh = wettingRh(in, s.wettingMargin) + 0.1; }) << int(R::WouldWet) << false;
    QTest::newRow("air just within the margin")
        << with([&](auto &in) { in.outsideRh = wettingRh(in, s.wettingMargin) - 0.1; }) << int(R::Start) << true;
    // The headspace against the dew point of the air among the grain (20 °C, 13 % wheat: about 13.6 °C).
    const double dew = *adviseVentilation(wheatBin(), s).grainDewPoint;
    QTest::newRow("headspace 3 °C above the grain's dew point")
        << with([&](auto &in) { in.headspaceC = dew + 3; }) << int(R::Condensation) << false;
    QTest::newRow("headspace 3.1 °C above")
        << with([&](auto &in) { in.headspaceC = dew + 3.1; }) << int(R::Start) << true;
    QTest::newRow("cooling: 4.1 goes on") << with([](auto &in) { in.cooling = true; in.outsideC = 15.9; })
                                          << int(R::Continue) << true;
    QTest::newRow("cooling: 4 and even stops") << with([](auto &in) { in.cooling = true; in.outsideC = 16; in.gradientPerMetre = 1; in.topBottomC = 3; })
                                               << int(R::CoolingDone) << false;
    QTest::newRow("cooling: 4, gradient 1.1") << with([](auto &in) { in.cooling = true; in.outsideC = 16; in.gradientPerMetre = 1.1; })
                                              << int(R::Evening) << true;
    QTest::newRow("cooling: 4, top-bottom 3.1") << with([](auto &in) { in.cooling = true; in.outsideC = 16; in.topBottomC = 3.1; })
                                                << int(R::Evening) << true;
    QTest::newRow("cooling: uneven but the air is as warm") << with([](auto &in) { in.cooling = true; in.outsideC = 20; in.topBottomC = 5; })
                                                            << int(R::TooWarm) << false;
    QTest::newRow("cooling: fog stops it too") << with([](auto &in) { in.cooling = true; in.outsideRh = 97; })
                                               << int(R::Saturated) << false;
}

void tst_ventilation::advice()
{
    QFETCH(VentilationInputs, in);
    QFETCH(int, rule);
    QFETCH(bool, go);
    const VentilationSettings s;
    const VentilationAdvice a = adviseVentilation(in, s);
    QCOMPARE(int(a.rule), rule);
    QCOMPARE(a.go, go);
    QCOMPARE(a.verdict(), go ? QStringLiteral("可以通风") : QStringLiteral("不宜通风"));
    static const QRegularExpression placeholder(QStringLiteral("%\\d"));
    QVERIFY(!a.reason(s).isEmpty() && !a.reason(s).contains(placeholder) && !a.reasonEnglish(s).contains(placeholder));
    QVERIFY(a.json(s).contains(a.ruleKey().toUtf8()));
}

void tst_ventilation::fans_data()
{
    QTest::addColumn<FanState>("state");
    QTest::addColumn<bool>("adviceGo");
    QTest::addColumn<qint64>("nowMs");
    QTest::addColumn<int>("reason"); // None: stays as it is
    QTest::addColumn<bool>("switchTo");
    const qint64 h = 3600 * 1000LL, t0 = 1000 * h;
    using F = FanReason;
    QTest::newRow("never run, go") << FanState{} << true << t0 << int(F::Advice) << true;
    QTest::newRow("never run, no") << FanState{} << false << t0 << int(F::None) << false;
    QTest::newRow("on, advice turns no: interlock") << FanState{true, F::Advice, t0} << false << t0 + 1 << int(F::Interlock) << false;
    QTest::newRow("on 5:59") << FanState{true, F::Advice, t0} << true << t0 + 6 * h - 60000 << int(F::None) << false;
    QTest::newRow("on 6 h: rest") << FanState{true, F::Advice, t0} << true << t0 + 6 * h << int(F::MaxRun) << false;
    QTest::newRow("rested 9:59") << FanState{false, F::MaxRun, t0} << true << t0 + 10 * h - 60000 << int(F::None) << false;
    QTest::newRow("rested 10 h") << FanState{false, F::MaxRun, t0} << true << t0 + 10 * h << int(F::Advice) << true;
    QTest::newRow("29 min after an interlock") << FanState{false, F::Interlock, t0} << true << t0 + 29 * 60000 << int(F::None) << false;
    QTest::newRow("30 min after an interlock") << FanState{false, F::Interlock, t0} << true << t0 + 30 * 60000 << int(F::Advice) << true;
    QTest::newRow("manual on stands against no") << FanState{true, F::Manual, t0, true} << false << t0 + 1 << int(F::None) << false;
    QTest::newRow("manual off stands against go") << FanState{false, F::Manual, t0, true} << true << t0 + 20 * h << int(F::None) << false;
}

void tst_ventilation::fans()
{
    QFETCH(FanState, state);
    QFETCH(bool, adviceGo);
    QFETCH(qint64, nowMs);
    QFETCH(int, reason);
    QFETCH(bool, switchTo);
    const FanDecision d = decideFan(state, adviceGo, nowMs);
    QCOMPARE(int(d.reason), reason);
    if (d.reason != FanReason::None)
        QCOMPARE(d.switchTo, switchTo);
}

void tst_ventilation::fanLog_data()
{
    // Switches as (hour of the day before or of the day, bin, on, ok); the day is [24, 48).
    QTest::addColumn<QList<QList<double>>>("switches");
    QTest::addColumn<double>("nowHour");
    QTest::addColumn<double>("bin1");
    QTest::addColumn<double>("bin2");
    QTest::newRow("over midnight: 22:00 to 04:00") << QList<QList<double>>{{22, 1, 1, 1}, {28, 1, 0, 1}} << 60.0 << 4.0 << -1.0;
    QTest::newRow("still on at noon") << QList<QList<double>>{{34, 1, 1, 1}} << 37.0 << 3.0 << -1.0;
    QTest::newRow("two runs, two bins") << QList<QList<double>>{{25, 1, 1, 1}, {26, 2, 1, 1}, {27, 1, 0, 1}, {40, 1, 1, 1}, {42.5, 1, 0, 1}, {44, 2, 0, 1}}
                                        << 60.0 << 4.5 << 18.0;
    QTest::newRow("a failed switch changes nothing") << QList<QList<double>>{{25, 1, 1, 1}, {26, 1, 0, 0}, {30, 1, 0, 1}} << 60.0 << 5.0 << -1.0;
    QTest::newRow("a run of the day before") << QList<QList<double>>{{10, 1, 1, 1}, {14, 1, 0, 1}} << 60.0 << 0.0 << -1.0;
}

void tst_ventilation::fanLog()
{
    QFETCH(QList<QList<double>>, switches);
    QFETCH(double, nowHour);
    QFETCH(double, bin1);
    QFETCH(double, bin2);
    const qint64 h = 3600000;
    QList<StoreEvent> events;
    for (const QList<double> &s : switches)
        events << StoreEvent{qint64(s[0] * h), 0, QString::fromLatin1(kFanEvent), {},
                             QStringLiteral("{\"bin\":%1,\"on\":%2,\"ok\":%3}").arg(int(s[1])).arg(s[2] ? "true" : "false").arg(s[3] ? "true" : "false").toUtf8()};
    const QMap<int, double> hours = fanHours(events, 24 * h, 48 * h, qint64(nowHour * h));
    QCOMPARE(hours.value(1, -1), bin1);
    QCOMPARE(hours.value(2, -1), bin2);
}

// The control's own bookkeeping: one write at a time, a write the relay did
// not echo changes nothing and is tried again, stale air is no air.
void tst_ventilation::fansOnTheBus()
{
    const Depot depot = parseDepot("[bin.1]\nsize=10x10\ngrid=1x1\ngrain=wheat\nmoisture=13\nmoisture_date=2026-11-01\n"
                                   "[cable.1]\nbin=1\nposition=1,1\ndepths=1,2\n[air.50]\nplace=outside\n[fans.1]\nrelay=60\ncoil=1\n");
    VentilationControl control;
    control.setDepot(depot);
    control.setSettings({}, {}, true);
    const BinProfile warm{1, QStringLiteral("wheat"), {{1, {{1, 1, 20}, {2, 2, 20.5}}}}};
    const qint64 t0 = 1796601600000, minute = 60000;
    QCOMPARE(control.accept(50, AirReading{8.0, 50.0, {}}, t0).size(), 1); // stored: the first of its minute
    QCOMPARE(control.accept(50, AirReading{8.0, 50.0, {}}, t0 + 1000).size(), 0);
    auto step = control.evaluate({warm}, t0 + 2000);
    QCOMPARE(step.switches.size(), 1);
    QCOMPARE(step.switches[0].request, writeCoilRequest(60, 1, true));
    QCOMPARE(control.evaluate({warm}, t0 + 3000).switches.size(), 0); // the write is on its way
    QCOMPARE(control.switched(step.switches[0], false, t0 + 4000).detail, QStringLiteral("1号仓 风机开（通风建议）失败：继电器未确认"));
    QVERIFY(!control.fans().value(1).on);
    step = control.evaluate({warm}, t0 + 5000); // not echoed: asked again
    QCOMPARE(step.switches.size(), 1);
    control.switched(step.switches[0], true, t0 + 6000);
    QVERIFY(control.fans().value(1).on);
    // A control that starts under an advice of no switches the coil off: it may be on from before.
    VentilationControl restarted;
    restarted.setDepot(depot);
    restarted.setSettings({}, {}, true);
    restarted.accept(50, AirReading{8.0, 99.0, {}}, t0);
    const auto first = restarted.evaluate({warm}, t0 + 1000).switches;
    QCOMPARE(first.size(), 1);
    QCOMPARE(first[0].request, writeCoilRequest(60, 1, false));
    // Ten minutes without a reading: no air, no advice to cool, the interlock stops the fans.
    step = control.evaluate({warm}, t0 + 11 * minute);
    QCOMPARE(control.advice().value(1).rule, VentilationRule::NotMeasured);
    QCOMPARE(step.switches.size(), 1);
    QCOMPARE(step.switches[0].reason, FanReason::Interlock);
    QCOMPARE(step.events.size(), 1); // the advice changed
    // A transmitter's fault is said once, its return once.
    QCOMPARE(control.accept(50, airException(4), t0 + 12 * minute).size(), 1);
    QCOMPARE(control.accept(50, airException(4), t0 + 13 * minute).size(), 0);
    QCOMPARE(control.accept(50, AirReading{8.0, 50.0, {}}, t0 + 14 * minute).first().kind, QStringLiteral("air_back"));
    // The advice is stored when it changes, and once an hour while it holds.
    QStringList stored;
    for (int m : {15, 16, 46, 76, 77}) {
        control.accept(50, AirReading{8.0, 50.0, {}}, t0 + m * minute);
        for (const StoreEvent &e : control.evaluate({warm}, t0 + m * minute).events)
            stored << QStringLiteral("%1 %2").arg(m).arg(QString::fromUtf8(e.data).contains("\"repeat\":true") ? "repeat" : "change");
    }
    QCOMPARE(stored, (QStringList{"15 change", "16 change", "76 repeat"}));
}

QTEST_GUILESS_MAIN(tst_ventilation)
#include "tst_ventilation.moc"
