#pragma once

#include "core/grain/AlarmRules.h"

#include <QList>

namespace vx {

struct Alarm {
    enum class State { Active, Acknowledged, Cleared };
    AlarmCondition condition;
    qint64 raisedMs = 0;
    qint64 changedMs = 0;
    State state = State::Active;
};

// A change of an alarm: "raised", "acknowledged" or "cleared" (stored as events).
struct AlarmTransition {
    Alarm alarm;
    QString what;
    QString eventKind() const { return QStringLiteral("alarm_") + what; }
    // "高温 电缆03 层05 31.20 °C（高于 30.0 °C）"
    QString text() const;
};

// The alarms and their states: conditions that start holding raise an alarm,
// ones that stop holding clear it (acknowledged or not); the operator
// acknowledges one or all. An alarm is one rule at one cable and layer.
class AlarmBook {
public:
    QList<AlarmTransition> update(const QList<AlarmCondition> &holding, qint64 nowMs);
    QList<AlarmTransition> acknowledge(int index, qint64 nowMs);
    QList<AlarmTransition> acknowledgeAll(qint64 nowMs);

    // Newest first; cleared ones stay as history (the last kHistory of them).
    const QList<Alarm> &alarms() const { return m_alarms; }
    int activeCount() const;
    static constexpr int kHistory = 500;

private:
    QList<Alarm> m_alarms;
};

} // namespace vx
