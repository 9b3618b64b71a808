// The bin's figures and the alarm rules: pure, scenario by scenario.
#include "core/grain/AlarmBook.h"
#include "core/grain/AlarmRules.h"
#include "core/grain/AlarmSettingsFile.h"

#include <QtTest>

using namespace vx;

struct Scenario {
    GrainSnapshot snapshot;
    AlarmSettings settings;
    QMap<QPair<int, int>, PointReading> windowAgo, weekAgo;
};
Q_DECLARE_METATYPE(Scenario)

class tst_alarmrules : public QObject {
    Q_OBJECT
private slots:
    void statistics();
    void rules_data();
    void rules();
    void alarmLifecycle();
    void savingKeepsTheFilesOwnSections();
    void remindersWhileUnacknowledged();
    void settingsFileRefusesWhatIsNotANumberInRange_data();
    void settingsFileRefusesWhatIsNotANumberInRange();
};

namespace {
constexpr qint64 kNow = 1796601600000;
constexpr qint64 kMinute = 60000;

quint16 raw(double celsius)
{
    const int h = int(qRound(celsius * 100));
    return quint16(h < 0 ? h + 65536 : h);
}

// A frame of a cable: every layer at base + cable / 10; layers past `sensors` read nothing.
QList<quint16> frame(int cable, double base = 20, int sensors = kLayers)
{
    QList<quint16> values;
    for (int l = 1; l <= kLayers; ++l)
        values << (l <= sensors ? raw(base + cable / 10.0) : quint16(65535));
    return values;
}

// Cables 1..n answering, two frames a minute apart.
GrainSnapshot bin(int cables, int sensors = kLayers)
{
    GrainSnapshot s;
    for (int c = 1; c <= cables; ++c) {
        s.take(c, frame(c, 20, sensors), kNow - 2 * kMinute);
        s.take(c, frame(c, 20, sensors), kNow - kMinute);
    }
    return s;
}

// One more frame of a cable, with some of its layers changed.
void next(GrainSnapshot &s, int cable, const QMap<int, quint16> &changed, qint64 at = kNow - kMinute / 2,
          const ReadingJudgement &judgement = {})
{
    QList<quint16> values;
    for (int l = 1; l <= kLayers; ++l)
        values << changed.value(l, s.at(cable, l).latest.raw);
    s.take(cable, values, at, judgement);
}

// Changes no neighbour shares, judged as changes a test makes on purpose (not a sensor's jump).
constexpr ReadingJudgement kOnPurpose{50, 3};

QStringList keys(const QList<AlarmCondition> &conditions)
{
    QStringList out;
    for (const AlarmCondition &c : conditions)
        out << QStringLiteral("%1:%2:%3").arg(ruleKey(c.rule)).arg(c.cable).arg(c.layersText());
    return out;
}
} // namespace

// Layer, cable and bin figures over answering cables, temperatures only.
void tst_alarmrules::statistics()
{
    GrainSnapshot s = bin(3);
    next(s, 2, {{5, 65535}});                   // no reading: left out
    s.take(4, QList<quint16>(kLayers, raw(90)), kNow - 30 * kMinute); // silent: left out
    const GrainStatistics st = grainStatistics(s, kNow, 10 * kMinute);
    QCOMPARE(st.layers[0].count, 3);
    QVERIFY(qAbs(st.layers[0].mean - 20.2) < 1e-9);
    QCOMPARE(st.layers[4].count, 2);
    QVERIFY(qAbs(st.layers[4].mean - 20.2) < 1e-9); // (20.1 + 20.3) / 2
    QCOMPARE(st.cables[1].count, kLayers - 1);
    QCOMPARE(st.cables[3].count, 0);
    QCOMPARE(st.bin.count, 3 * kLayers - 1);
    QCOMPARE(st.bin.max, 20.3);
    QCOMPARE(st.maxCable, 3);
    QCOMPARE(st.maxLayer, 1);
}

void tst_alarmrules::rules_data()
{
    QTest::addColumn<Scenario>("scenario");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("a quiet bin") << Scenario{bin(5), {}, {}, {}} << QStringList{};
    QTest::newRow("points without a sensor say nothing") << Scenario{bin(5, 16), {}, {}, {}} << QStringList{};
    {
        Scenario s{bin(3), {}, {}, {}};
        next(s.snapshot, 2, {{5, 65535}});
        QTest::newRow("a sensor that stops reading") << s << QStringList{"sensor_fault:2:05"};
        Scenario named{bin(3, 16), {}, {}, {}};
        named.settings.installed[1] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18};
        named.settings.installed[2] = {1, 2, 3};
        next(named.snapshot, 2, {{4, 65535}}); // not named: says nothing
        QTest::newRow("installed points as the settings name them") << named << QStringList{"sensor_fault:1:17-18"};
    }
    {
        Scenario s{bin(5), {}, {}, {}};
        next(s.snapshot, 2, {{3, raw(30.5)}}, kNow - kMinute / 2, kOnPurpose);
        QTest::newRow("above the global limit") << s << QStringList{"high_temperature:2:03", "hot_point:2:03"};
    }
    {
        Scenario s{bin(5), {}, {}, {}};
        s.settings.cableHigh[2] = 35;
        s.settings.hotPointDelta = 20;
        next(s.snapshot, 2, {{3, raw(30.5)}}, kNow - kMinute / 2, kOnPurpose);
        next(s.snapshot, 4, {{3, raw(30.5)}}, kNow - kMinute / 2, kOnPurpose);
        QTest::newRow("a cable's own limit") << s << QStringList{"high_temperature:4:03"};
        s.settings.pointHigh[{2, 3}] = 25;
        QTest::newRow("a point's limit beats its cable's") << s << QStringList{"high_temperature:2:03", "high_temperature:4:03"};
    }
    {
        // Layer 7: four cables at 20.1..20.4 and one at x; the average includes x.
        // x - (sum + x) / 5 = 3  <=>  x = (81.0 + 15) / 4 = 24.0 (sum of the others 81.0)
        Scenario exactly{bin(5), {}, {}, {}};
        next(exactly.snapshot, 5, {{7, raw(24.0)}});
        QTest::newRow("hot point at exactly the delta") << exactly << QStringList{};
        Scenario above{bin(5), {}, {}, {}};
        next(above.snapshot, 5, {{7, raw(24.1)}});
        QTest::newRow("hot point just above") << above << QStringList{"hot_point:5:07"};
    }
    for (int times : {1, 2}) {
        // A sensor's power-on value, first thing or again and again: never a temperature.
        Scenario s{GrainSnapshot{}, {}, {}, {}};
        for (int c = 1; c <= 3; ++c)
            for (int k = 0; k < times; ++k) {
                QList<quint16> f = frame(c);
                if (c == 1)
                    f[1] = raw(85.0);
                s.snapshot.take(c, f, kNow - (3 - k) * kMinute);
            }
        QTest::newRow(times == 1 ? "85.00 at first" : "85.00 twice") << s << QStringList{"sensor_fault:1:02"};
    }
    {
        Scenario s{bin(3), {}, {}, {}};
        next(s.snapshot, 1, {{2, raw(85.0)}});
        s.settings.hotPointDelta = 100;
        QTest::newRow("85.00 after a plausible reading") << s << QStringList{"sensor_fault:1:02"};
    }
    {
        // The whole cable warms by 13 °C at once: the grain, not 18 sensors; two alarms, not 36.
        Scenario s{bin(3), {}, {}, {}};
        QMap<int, quint16> warmer;
        for (int l = 1; l <= kLayers; ++l)
            warmer[l] = raw(33.3);
        next(s.snapshot, 3, warmer);
        QTest::newRow("a whole cable's rise is real") << s << QStringList{"high_temperature:3:01-18", "hot_point:3:01-18"};
        Scenario two{bin(3), {}, {}, {}};
        next(two.snapshot, 3, {{8, raw(33.3)}, {9, raw(34.0)}});
        QTest::newRow("two neighbours rising together") << two
                                                        << QStringList{"high_temperature:3:08-09", "hot_point:3:08-09"};
    }
    {
        Scenario s{bin(3), {}, {}, {}};
        s.settings.hotPointDelta = 100;
        next(s.snapshot, 3, {{9, raw(26.0)}});
        QTest::newRow("one point's jump is its sensor's") << s << QStringList{"sensor_fault:3:09"};
        next(s.snapshot, 3, {{9, raw(20.3)}}, kNow - kMinute / 3); // back with its neighbours: plausible once
        next(s.snapshot, 3, {}, kNow - kMinute / 4);
        QTest::newRow("the fault stays until plausible again") << s << QStringList{"sensor_fault:3:09"};
        next(s.snapshot, 3, {}, kNow - kMinute / 5);
        QTest::newRow("the fault ends after three plausible readings") << s << QStringList{};
    }
    {
        Scenario s{bin(3), {}, {}, {}};
        s.snapshot.take(3, QList<quint16>(kLayers, raw(50)), kNow - 11 * kMinute);
        s.snapshot.lastSeen[2] = kNow - 11 * kMinute;
        QTest::newRow("a silent cable: its silence only") << s << QStringList{"cable_silent:3:"};
    }
    {
        // 1.5 °C more than 24 h ago: 1.5 °C/day; across a gap (36 h): 1 °C/day, not more.
        Scenario s{bin(2), {}, {}, {}};
        s.windowAgo[{1, 4}] = {kNow - kMinute - 86400000, raw(20.1 - 1.5)};
        s.windowAgo[{2, 4}] = {kNow - kMinute - 3 * 86400000 / 2, raw(20.2 - 1.5)};
        s.windowAgo[{2, 5}] = {kNow - kMinute - 3600000, raw(10.0)}; // an hour: too short to judge
        QTest::newRow("rate of rise, and across a gap") << s << QStringList{"rate_of_rise:1:04"};
        // 3 °C in a week is 0.43 °C a day: too slow for the daily rule, too much for the weekly one.
        Scenario week{bin(2), {}, {}, {}};
        week.weekAgo[{2, 6}] = {kNow - kMinute - 7 * 86400000, raw(20.2 - 3.0)};
        week.weekAgo[{2, 7}] = {kNow - kMinute - 7 * 86400000, raw(20.2 - 2.0)};
        QTest::newRow("a week's slow rise") << week << QStringList{"weekly_rise:2:06"};
    }
}

void tst_alarmrules::rules()
{
    QFETCH(Scenario, scenario);
    QFETCH(QStringList, expected);
    QStringList got = keys(evaluateAlarms(scenario.snapshot, kNow, scenario.settings, scenario.windowAgo, scenario.weekAgo));
    got.sort();
    expected.sort();
    QCOMPARE(got, expected);
}

void tst_alarmrules::alarmLifecycle()
{
    AlarmBook book;
    AlarmCondition hot;
    hot.rule = AlarmRule::HighTemperature;
    hot.cable = 2;
    hot.points = {{3, 31.0}};
    hot.layer = 3;
    hot.value = 31.0;
    hot.limit = 30;
    AlarmCondition silent;
    silent.rule = AlarmRule::CableSilent;
    silent.cable = 5;
    silent.value = 700;
    AlarmCondition fault;
    fault.rule = AlarmRule::SensorFault;
    fault.cable = 2;
    fault.points = {{5, 85.0, SensorFaultKind::PowerOn}, {17, 0, SensorFaultKind::NoReading}};
    auto whats = [](const QList<AlarmTransition> &t) {
        QStringList out;
        for (const AlarmTransition &x : t)
            out << x.what + QLatin1Char(':') + ruleKey(x.alarm.condition.rule);
        return out;
    };
    QCOMPARE(whats(book.update({hot}, 1000)), QStringList{"raised:high_temperature"});
    QCOMPARE(book.activeCount(), 1);
    AlarmCondition hotter = hot; // more layers: the same alarm
    hotter.points = {{3, 31.0}, {4, 32.5}};
    hotter.layer = 4;
    hotter.value = 32.5;
    QCOMPARE(whats(book.update({hotter, silent, fault}, 2000)), (QStringList{"raised:cable_silent", "raised:sensor_fault"}));
    QCOMPARE(book.alarms().size(), 3);
    QCOMPARE(book.alarms().last().condition.layersText(), QStringLiteral("03-04"));
    QCOMPARE(whats(book.acknowledge(2, 3000)), QStringList{"acknowledged:high_temperature"});
    QCOMPARE(book.activeCount(), 3); // acknowledged and still holding: open
    const AlarmCounts counts = book.counts();
    QCOMPARE(counts.open, (std::array<int, 3>{2, 0, 1}));
    QCOMPARE(counts.unacknowledged, (std::array<int, 3>{1, 0, 1}));
    QCOMPARE(book.acknowledge(2, 3500).size(), 0); // once
    QCOMPARE(whats(book.update({silent, fault}, 4000)), QStringList{"cleared:high_temperature"});
    QCOMPARE(whats(book.acknowledgeAll(5000)), (QStringList{"acknowledged:sensor_fault", "acknowledged:cable_silent"}));
    QCOMPARE(book.activeCount(), 2);
    QCOMPARE(whats(book.update({hot}, 6000)),
             (QStringList{"cleared:sensor_fault", "cleared:cable_silent", "raised:high_temperature"}));
    QCOMPARE(book.alarms().first().raisedMs, 6000); // a new alarm, the old one kept as history
    const AlarmTransition raised{book.alarms().first(), QStringLiteral("raised")};
    QCOMPARE(raised.text(), QStringLiteral("高温 电缆02 层03 31.00 °C，高于 30.0 °C"));
    QCOMPARE(raised.eventKind(), QStringLiteral("alarm_raised"));
    AlarmTransition grouped;
    grouped.alarm.condition = hotter;
    QCOMPARE(grouped.text(), QStringLiteral("高温 电缆02 层03-04 最高 32.50 °C（层04），高于 30.0 °C"));
    grouped.alarm.condition = fault;
    QCOMPARE(grouped.text(), QStringLiteral("传感器故障 电缆02 层05 上电值 85.00；层17 无读数"));
    // What is stored beside the text reads back as the same alarm.
    QCOMPARE(AlarmCondition::fromJson(hotter.json()).value_or(AlarmCondition{}), hotter);
    QCOMPARE(AlarmCondition::fromJson(fault.json()).value_or(AlarmCondition{}), fault);
}

void tst_alarmrules::settingsFileRefusesWhatIsNotANumberInRange_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("accepted");
    const QStringList keys{"high_limit", "hot_point_delta", "rise_per_day", "rise_window_hours", "jump_step", "silent_minutes"};
    for (const QString &key : keys) {
        for (const char *bad : {"nan", "NaN", "inf", "-inf", "1e999"})
            QTest::newRow(qPrintable(key + ' ' + bad)) << key << QString::fromLatin1(bad) << false;
        QTest::newRow(qPrintable(key + " 10")) << key << QStringLiteral("10") << true;
    }
}

void tst_alarmrules::settingsFileRefusesWhatIsNotANumberInRange()
{
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(bool, accepted);
    QTemporaryDir dir;
    const QString path = alarmSettingsPath(dir.path());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(QStringLiteral("[alarms]\n%1=%2\n").arg(key, value).toUtf8());
    f.close();
    const AlarmSettingsRead read = readAlarmSettings(path);
    QCOMPARE(read.errors.isEmpty(), accepted);
    const AlarmSettings defaults;
    const double got = key == "high_limit"        ? read.settings.highLimit
                       : key == "hot_point_delta" ? read.settings.hotPointDelta
                       : key == "rise_per_day"    ? read.settings.risePerDay
                       : key == "rise_window_hours" ? read.settings.riseWindowHours
                       : key == "jump_step"         ? read.settings.jumpStep
                                                    : read.silentMinutes;
    const double fallback = key == "high_limit"        ? defaults.highLimit
                            : key == "hot_point_delta" ? defaults.hotPointDelta
                            : key == "rise_per_day"    ? defaults.risePerDay
                            : key == "rise_window_hours" ? defaults.riseWindowHours
                            : key == "jump_step"         ? defaults.jumpStep
                                                         : 0;
    QCOMPARE(got, accepted ? 10.0 : fallback);
    if (!accepted)
        QVERIFY2(read.errors.first().contains(value, Qt::CaseInsensitive) || read.errors.first().contains("inf"),
                 qPrintable(read.errors.first()));
}

// An alarm nobody acknowledges is sent again every half hour; one that was
// acknowledged, or cleared, is not.
// Saving the dialog's settings keeps what the dialog does not edit: the
// storage rules, the inspection intervals and the ventilation section.
void tst_alarmrules::savingKeepsTheFilesOwnSections()
{
    QTemporaryDir dir;
    const QString path = alarmSettingsPath(dir.path());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("[alarms]\nhigh_limit=30\ngradient_per_metre=2\ninspection_safe_cool=20\n[cable_high]\n3=35\n"
            "[ventilation]\nautomatic=on\nstart_difference=9\n");
    f.close();
    AlarmSettings edited;
    edited.highLimit = 28;
    edited.pointHigh.insert({1, 3}, 25);
    QString why;
    QVERIFY(writeAlarmSettings(path, edited, 0, &why));
    const AlarmSettingsRead read = readAlarmSettings(path);
    QVERIFY2(read.errors.isEmpty(), qPrintable(read.errors.join('\n')));
    QCOMPARE(read.settings.highLimit, 28.0);
    QVERIFY(read.settings.cableHigh.isEmpty()); // the dialog's own: as it was saved
    QCOMPARE(read.settings.pointHigh.value({1, 3}), 25.0);
    QCOMPARE(read.storage.gradientPerMetre, 2.0);
    QCOMPARE(read.inspection.safeCool, 20);
    QVERIFY(read.fansAutomatic);
    QCOMPARE(read.ventilation.startDifference, 9.0);
}

void tst_alarmrules::remindersWhileUnacknowledged()
{
    AlarmBook book;
    AlarmCondition hot;
    hot.rule = AlarmRule::HighTemperature;
    hot.cable = 3;
    AlarmCondition silent = hot;
    silent.rule = AlarmRule::CableSilent;
    silent.cable = 4;
    book.update({hot, silent}, kNow);
    const qint64 half = 30 * kMinute;
    QList<int> reminded;
    for (const qint64 at : {kNow + 29 * kMinute, kNow + half, kNow + 45 * kMinute, kNow + 2 * half}) {
        const auto r = book.remind(at, half);
        reminded << int(r.size());
        for (const AlarmTransition &t : r) {
            QCOMPARE(t.what, QStringLiteral("reminder"));
            QCOMPARE(t.eventKind(), QStringLiteral("alarm_reminder"));
            QCOMPARE(t.alarm.changedMs, at);
        }
        if (at == kNow + half)
            book.acknowledge(int(std::find_if(book.alarms().begin(), book.alarms().end(), [](const Alarm &a) {
                                     return a.condition.cable == 4;
                                 }) - book.alarms().begin()),
                             at);
    }
    QCOMPARE(reminded, (QList<int>{0, 2, 0, 1})); // the acknowledged one no more
    QVERIFY(book.remind(kNow + 10 * half, 0).isEmpty()); // 0: never
}

QTEST_GUILESS_MAIN(tst_alarmrules)
#include "tst_alarmrules.moc"
