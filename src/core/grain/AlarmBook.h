#pragma once

#include "core/grain/AlarmRules.h"

#include <QList>

#include <array>

namespace vx {

struct Alarm {
    enum class State { Active, Acknowledged, Cleared };
    AlarmCondition condition;
    qint64 raisedMs = 0;
    qint64 changedMs = 0;
    State state = State::Active;
    qint64 remindedMs = 0; // when a reminder of it was last sent (still unacknowledged)
};

// A change of an alarm: "raised", "acknowledged" or "cleared" (stored as events).
struct AlarmTransition {
    Alarm alarm;
    QString what;
    QString eventKind() const { return QStringLiteral("alarm_") + what; }
    // "高温 电缆03 层04-05 最高 41.20 °C（层04），高于 30.0 °C": stored as written, and in the window's language.
    QString text() const;
    QString textShown() const;
};

// Open alarms by priority: all of them (acknowledged or not) and the unacknowledged.
struct AlarmCounts {
    std::array<int, 3> open{};
    std::array<int, 3> unacknowledged{};
    int openTotal() const { return open[0] + open[1] + open[2]; }
    int unacknowledgedTotal() const { return unacknowledged[0] + unacknowledged[1] + unacknowledged[2]; }
};

// The alarms and their states: conditions that start holding raise an alarm,
// ones that stop holding clear it (acknowledged or not); the operator
// acknowledges one or all. An alarm is one rule at one cable: the layers it
// holds at may change while it stays the same alarm.
class AlarmBook {
public:
    QList<AlarmTransition> update(const QList<AlarmCondition> &holding, qint64 nowMs);
    QList<AlarmTransition> acknowledge(int index, qint64 nowMs);
    QList<AlarmTransition> acknowledgeAll(qint64 nowMs);
    // Alarms still unacknowledged afterMs after they were raised (or last
    // reminded of): each a "reminder", once per afterMs.
    QList<AlarmTransition> remind(qint64 nowMs, qint64 afterMs);
    // What another program stored, taken as it happened (a viewer's book).
    void replay(const AlarmTransition &transition);

    // Newest first; cleared ones stay as history (the last kHistory of them).
    const QList<Alarm> &alarms() const { return m_alarms; }
    // Open alarms, acknowledged or not.
    int activeCount() const;
    AlarmCounts counts() const;
    static constexpr int kHistory = 500;

private:
    QList<Alarm> m_alarms;
};

} // namespace vx
