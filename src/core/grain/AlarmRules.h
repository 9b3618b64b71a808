#pragma once

#include "core/grain/GrainState.h"

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
    double jumpStep = 5;                     // °C between consecutive readings
    qint64 silentAfterMs = 600000;           // a cable without an accepted reply this long is silent

    double highFor(int cable, int layer) const;
};

enum class AlarmRule { HighTemperature, HotPoint, RateOfRise, SensorFault, CableSilent };
// "高温", "热点", "温升过快", "传感器故障", "电缆无响应" (as stored), and as shown in the window's language
QString ruleName(AlarmRule rule);
QString ruleNameShown(AlarmRule rule);
// "high_temperature", ... as stored and printed
QString ruleKey(AlarmRule rule);

// A condition that holds now; layer 0 for a whole cable.
struct AlarmCondition {
    AlarmRule rule;
    int cable = 0;
    int layer = 0;
    double value = 0;
    QString detail;                      // as stored: "高于 30.0 °C"
    const char *detailSource = nullptr;  // "高于 %1 °C", translated when shown
    QString detailArgument;              // "30.0"
    bool operator==(const AlarmCondition &o) const
    {
        return rule == o.rule && cable == o.cable && layer == o.layer && qFuzzyCompare(value + 1000, o.value + 1000)
            && detail == o.detail;
    }
};

// windowAgo: for a point, its reading nearest to riseWindowHours before its
// latest (from the store), when there is one; a span shorter than half the
// window is not judged.
// The detail in the window's language (the stored text when its source is not known).
QString alarmDetailShown(const AlarmCondition &condition);

QList<AlarmCondition> evaluateAlarms(const GrainSnapshot &snapshot, qint64 nowMs, const AlarmSettings &settings,
                                     const QMap<QPair<int, int>, PointReading> &windowAgo = {});

} // namespace vx
