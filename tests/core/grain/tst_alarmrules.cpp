// The bin's figures and the alarm rules: pure, scenario by scenario.
#include "core/grain/AlarmBook.h"
#include "core/grain/AlarmRules.h"
#include "core/grain/AlarmSettingsFile.h"

#include <QtTest>

using namespace vx;

struct Scenario {
    GrainSnapshot snapshot;
    AlarmSettings settings;
    QMap<QPair<int, int>, PointReading> windowAgo;
};
Q_DECLARE_METATYPE(Scenario)

class tst_alarmrules : public QObject {
    Q_OBJECT
private slots:
    void statistics();
    void rules_data();
    void rules();
    void alarmLifecycle();
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

// Cables 1..n answering a minute ago, every layer at base + cable / 10.
GrainSnapshot bin(int cables, double base = 20)
{
    GrainSnapshot s;
    for (int c = 1; c <= cables; ++c) {
        QList<quint16> values;
        for (int l = 1; l <= kLayers; ++l)
            values << raw(base + c / 10.0);
        s.take(c, values, kNow - 2 * kMinute);
        s.take(c, values, kNow - kMinute);
    }
    return s;
}

void setPoint(GrainSnapshot &s, int cable, int layer, double previous, quint16 latestRaw)
{
    PointHistory &p = s.points[std::size_t(cable - 1)][std::size_t(layer - 1)];
    p.previous = {kNow - 2 * kMinute, raw(previous)};
    p.latest = {kNow - kMinute, latestRaw};
}

QStringList keys(const QList<AlarmCondition> &conditions)
{
    QStringList out;
    for (const AlarmCondition &c : conditions)
        out << QStringLiteral("%1:%2:%3").arg(ruleKey(c.rule)).arg(c.cable).arg(c.layer);
    return out;
}
} // namespace

// Layer, cable and bin figures over answering cables, temperatures only.
void tst_alarmrules::statistics()
{
    GrainSnapshot s = bin(3);
    setPoint(s, 2, 5, 20.2, 65535);            // no reading: left out
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

    QTest::newRow("a quiet bin") << Scenario{bin(5), {}, {}} << QStringList{};
    {
        Scenario s{bin(5), {}, {}};
        setPoint(s.snapshot, 2, 3, 30.0, raw(30.5));
        QTest::newRow("above the global limit") << s << QStringList{"high_temperature:2:3", "hot_point:2:3"};
    }
    {
        Scenario s{bin(5), {}, {}};
        s.settings.cableHigh[2] = 35;
        setPoint(s.snapshot, 2, 3, 30.0, raw(30.5));
        setPoint(s.snapshot, 4, 3, 30.0, raw(30.5));
        s.settings.hotPointDelta = 20;
        QTest::newRow("a cable's own limit") << s << QStringList{"high_temperature:4:3"};
    }
    {
        Scenario s{bin(5), {}, {}};
        s.settings.cableHigh[2] = 35;
        s.settings.pointHigh[{2, 3}] = 25;
        s.settings.hotPointDelta = 20;
        setPoint(s.snapshot, 2, 3, 26.0, raw(26.0));
        QTest::newRow("a point's limit beats its cable's") << s << QStringList{"high_temperature:2:3"};
    }
    {
        // Layer 7: four cables at 20.1..20.4 and one at x; the average includes x.
        // x - (sum + x) / 5 = 3  <=>  x = (81.0 + 15) / 4 = 24.0 (sum of the others 81.0)
        Scenario exactly{bin(5), {}, {}};
        setPoint(exactly.snapshot, 5, 7, 24.0, raw(24.0));
        QTest::newRow("hot point at exactly the delta") << exactly << QStringList{};
        Scenario above{bin(5), {}, {}};
        setPoint(above.snapshot, 5, 7, 24.1, raw(24.1));
        QTest::newRow("hot point just above") << above << QStringList{"hot_point:5:7"};
    }
    {
        Scenario s{bin(3), {}, {}};
        setPoint(s.snapshot, 1, 2, 20.0, 65535);
        QTest::newRow("no reading") << s << QStringList{"sensor_fault:1:2"};
    }
    {
        Scenario s{bin(3), {}, {}};
        setPoint(s.snapshot, 1, 2, 20.0, raw(85.0));
        QTest::newRow("85.00 out of nowhere") << s << QStringList{"sensor_fault:1:2"};
        Scenario hot{bin(3), {}, {}};
        hot.settings.hotPointDelta = 100;
        setPoint(hot.snapshot, 1, 2, 80.0, raw(85.0));
        QTest::newRow("85.00 after 80: a temperature") << hot << QStringList{"high_temperature:1:2"};
    }
    {
        Scenario s{bin(3), {}, {}};
        setPoint(s.snapshot, 3, 9, 20.3, raw(26.0));
        s.settings.hotPointDelta = 100;
        QTest::newRow("a jump") << s << QStringList{"sensor_fault:3:9"};
    }
    {
        Scenario s{bin(3), {}, {}};
        s.snapshot.take(3, QList<quint16>(kLayers, raw(50)), kNow - 11 * kMinute);
        s.snapshot.lastSeen[2] = kNow - 11 * kMinute;
        QTest::newRow("a silent cable: its silence only") << s << QStringList{"cable_silent:3:0"};
    }
    {
        // 1.5 °C more than 24 h ago: 1.5 °C/day; across a gap (36 h): 1 °C/day, not more.
        Scenario s{bin(2), {}, {}};
        s.windowAgo[{1, 4}] = {kNow - kMinute - 86400000, raw(20.1 - 1.5)};
        s.windowAgo[{2, 4}] = {kNow - kMinute - 3 * 86400000 / 2, raw(20.2 - 1.5)};
        s.windowAgo[{2, 5}] = {kNow - kMinute - 3600000, raw(10.0)}; // an hour: too short to judge
        QTest::newRow("rate of rise, and across a gap") << s << QStringList{"rate_of_rise:1:4"};
    }
}

void tst_alarmrules::rules()
{
    QFETCH(Scenario, scenario);
    QFETCH(QStringList, expected);
    QStringList got = keys(evaluateAlarms(scenario.snapshot, kNow, scenario.settings, scenario.windowAgo));
    got.sort();
    expected.sort();
    QCOMPARE(got, expected);
}

void tst_alarmrules::alarmLifecycle()
{
    AlarmBook book;
    const AlarmCondition hot{AlarmRule::HighTemperature, 2, 3, 31.0, QStringLiteral("高于 30.0 °C"), nullptr, {}};
    const AlarmCondition silent{AlarmRule::CableSilent, 5, 0, 700, QStringLiteral("700 s 无应答"), nullptr, {}};
    auto whats = [](const QList<AlarmTransition> &t) {
        QStringList out;
        for (const AlarmTransition &x : t)
            out << x.what + QLatin1Char(':') + ruleKey(x.alarm.condition.rule);
        return out;
    };
    QCOMPARE(whats(book.update({hot}, 1000)), QStringList{"raised:high_temperature"});
    QCOMPARE(book.activeCount(), 1);
    QCOMPARE(whats(book.update({hot, silent}, 2000)), QStringList{"raised:cable_silent"}); // hot is still the same alarm
    QCOMPARE(book.alarms().size(), 2);
    QCOMPARE(whats(book.acknowledge(1, 3000)), QStringList{"acknowledged:high_temperature"});
    QCOMPARE(book.activeCount(), 1);
    QCOMPARE(book.acknowledge(1, 3500).size(), 0); // once
    QCOMPARE(whats(book.update({silent}, 4000)), QStringList{"cleared:high_temperature"});
    QCOMPARE(whats(book.acknowledgeAll(5000)), QStringList{"acknowledged:cable_silent"});
    QCOMPARE(book.activeCount(), 0);
    QCOMPARE(whats(book.update({hot}, 6000)), (QStringList{"cleared:cable_silent", "raised:high_temperature"}));
    QCOMPARE(book.alarms().first().raisedMs, 6000); // a new alarm, the old one kept as history
    QCOMPARE(book.alarms().size(), 3);
    const AlarmTransition raised{book.alarms().first(), QStringLiteral("raised")};
    QCOMPARE(raised.text(), QStringLiteral("高温 电缆02 层03（高于 30.0 °C）"));
    QCOMPARE(raised.eventKind(), QStringLiteral("alarm_raised"));
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

QTEST_GUILESS_MAIN(tst_alarmrules)
#include "tst_alarmrules.moc"
