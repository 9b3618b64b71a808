#pragma once

#include "core/grain/GrainState.h"

#include <QList>
#include <QMap>
#include <QPair>
#include <QString>

namespace vx {

struct AlarmSettings {
    double highLimit = 30;                   // °C
    QMap<int, double> cableHigh;             // cable -> limit
    QMap<QPair<int, int>, double> pointHigh; // (cable, layer) -> limit
    double hotPointDelta = 3;                // °C above the layer's average
    double risePerDay = 1;                   // °C per day ...
    int riseWindowHours = 24;                // ... over this window
    double risePerWeek = 2.8;                // °C per week, over seven days (grain-storage practice)
    double jumpStep = 5;                     // °C between consecutive readings that neighbours do not share
    int faultClearReadings = 3;              // plausible readings in a row that end a sensor fault
    // A cable's points with a sensor; a cable not named here has the points that have given readings.
    QMap<int, QList<int>> installed;
    qint64 silentAfterMs = 600000;           // a cable without an accepted reply this long is silent

    double highFor(int cable, int layer) const;
    ReadingJudgement judgement() const { return {jumpStep, faultClearReadings}; }
};

// Every alarm needs an action, and the most urgent comes first (EEMUA 191):
// grain too hot and a cable gone quiet are high, a hot spot, a rise and the
// storage rules (a steep gradient, top and bottom far apart, a bin warmer than
// its grain's others) medium, a sensor's own fault and an inspection overdue low.
enum class AlarmRule {
    HighTemperature, HotPoint, RateOfRise, WeeklyRise, SensorFault, CableSilent,
    Gradient, TopBottom, WarmerThanSameGrain, InspectionOverdue
};
const QList<AlarmRule> &allAlarmRules();
enum class AlarmPriority { High = 0, Medium = 1, Low = 2 };
AlarmPriority priorityOf(AlarmRule rule);
// "高" "中" "低" in the window's language; "high", "medium", "low" as stored and printed.
QString priorityNameShown(AlarmPriority priority);
QString priorityKey(AlarmPriority priority);

// "高温", "热点", "温升过快", "周温升过快", "传感器故障", "电缆无响应", "温度梯度过大",
// "上下层温差过大", "高于同品种仓", "粮情检查逾期" (as stored), and as shown in the window's language
QString ruleName(AlarmRule rule);
QString ruleNameShown(AlarmRule rule);
// "high_temperature", ... as stored and printed
QString ruleKey(AlarmRule rule);
std::optional<AlarmRule> ruleFromKey(const QString &key);

// One point of an alarm: its layer and value (°C; °C per day or week for a
// rise; the jump for a sensor's jump), and for a sensor fault what kind.
enum class SensorFaultKind { None, NoReading, PowerOn, Jump, OutOfRange };
struct AlarmPoint {
    int layer = 0;
    double value = 0;
    SensorFaultKind fault = SensorFaultKind::None;
    bool operator==(const AlarmPoint &o) const
    {
        return layer == o.layer && fault == o.fault && qFuzzyCompare(value + 1000, o.value + 1000);
    }
};

// A rule that holds now at a cable: one alarm for all the layers involved,
// with its extreme (the hottest, the fastest rise) and where it is. A rule
// of a whole bin (top to bottom, against its grain's other bins, the
// inspection book) holds at its bin, cable 0.
struct AlarmCondition {
    AlarmRule rule = AlarmRule::HighTemperature;
    int cable = 0;
    int bin = 0;              // the depot's bin; 0: the one bin of a depot without a depot file
    QList<AlarmPoint> points; // top layer first; empty for the whole cable (silent)
    double value = 0;         // the extreme, or the seconds a cable has been silent
    int layer = 0;            // where the extreme is; 0: the whole cable
    double limit = 0;         // what was crossed (°C, °C above the layer average, °C a day or week)

    AlarmPriority priority() const { return priorityOf(rule); }
    // "03-05,07": the layers involved.
    QString layersText() const;
    // What it says, as stored (Chinese) and in the window's language:
    // "层03-05 最高 41.20 °C（层04），高于 30.0 °C", "层17 无读数；层05 上电值 85.00".
    QString detail() const;
    QString detailShown() const;
    // Everything, to store beside the text and to read back (a report in another language).
    QByteArray json() const;
    static std::optional<AlarmCondition> fromJson(const QByteArray &json);
    bool operator==(const AlarmCondition &o) const
    {
        return rule == o.rule && cable == o.cable && bin == o.bin && points == o.points && layer == o.layer
            && qFuzzyCompare(value + 1000, o.value + 1000);
    }
};

// windowAgo / weekAgo: for a point, its stored reading nearest to the rise
// window (or seven days) before its latest, when there is one; a span shorter
// than half the window is not judged.
QList<AlarmCondition> evaluateAlarms(const GrainSnapshot &snapshot, qint64 nowMs, const AlarmSettings &settings,
                                     const QMap<QPair<int, int>, PointReading> &windowAgo = {},
                                     const QMap<QPair<int, int>, PointReading> &weekAgo = {});

// Whether a point counts: it has a sensor (named in the settings, or it has given a reading).
bool pointInstalled(const GrainSnapshot &snapshot, const AlarmSettings &settings, int cable, int layer);

} // namespace vx
