#include "core/grain/AlarmBook.h"

#include <QCoreApplication>

namespace vx {

namespace {
bool sameSubject(const AlarmCondition &a, const AlarmCondition &b)
{
    return a.rule == b.rule && a.cable == b.cable && a.bin == b.bin;
}

// "电缆03", or "仓02" for a rule of a whole bin.
QString subject(const AlarmCondition &c, bool shown)
{
    const char *form = c.cable == 0 && c.bin != 0 ? QT_TRANSLATE_NOOP("vx", "仓%1") : QT_TRANSLATE_NOOP("vx", "电缆%1");
    return (shown ? QCoreApplication::translate("vx", form) : QString::fromUtf8(form))
        .arg(c.cable == 0 && c.bin != 0 ? c.bin : c.cable, 2, 10, QLatin1Char('0'));
}
} // namespace

QString AlarmTransition::text() const
{
    const AlarmCondition &c = alarm.condition;
    return QStringLiteral("%1 %2 %3").arg(ruleName(c.rule), subject(c, false), c.detail());
}

QString AlarmTransition::textShown() const
{
    const AlarmCondition &c = alarm.condition;
    return QCoreApplication::translate("vx", "%1 %2 %3").arg(ruleNameShown(c.rule), subject(c, true), c.detailShown());
}

QList<AlarmTransition> AlarmBook::update(const QList<AlarmCondition> &holding, qint64 nowMs)
{
    QList<AlarmTransition> changes;
    for (Alarm &a : m_alarms) {
        if (a.state == Alarm::State::Cleared)
            continue;
        const auto it = std::find_if(holding.begin(), holding.end(),
                                     [&](const AlarmCondition &c) { return sameSubject(c, a.condition); });
        if (it == holding.end()) {
            a.state = Alarm::State::Cleared;
            a.changedMs = nowMs;
            changes.append({a, QStringLiteral("cleared")});
        } else {
            a.condition = *it; // the latest layers and values, same alarm
        }
    }
    for (const AlarmCondition &c : holding) {
        const bool open = std::any_of(m_alarms.begin(), m_alarms.end(), [&](const Alarm &a) {
            return a.state != Alarm::State::Cleared && sameSubject(a.condition, c);
        });
        if (open)
            continue;
        Alarm a{c, nowMs, nowMs, Alarm::State::Active};
        m_alarms.prepend(a);
        changes.append({a, QStringLiteral("raised")});
    }
    // Keep every open alarm; drop the oldest cleared ones past the history.
    int cleared = 0;
    for (int i = 0; i < m_alarms.size();) {
        if (m_alarms[i].state == Alarm::State::Cleared && ++cleared > kHistory)
            m_alarms.removeAt(i);
        else
            ++i;
    }
    return changes;
}

QList<AlarmTransition> AlarmBook::acknowledge(int index, qint64 nowMs)
{
    if (index < 0 || index >= m_alarms.size() || m_alarms[index].state != Alarm::State::Active)
        return {};
    Alarm &a = m_alarms[index];
    a.state = Alarm::State::Acknowledged;
    a.changedMs = nowMs;
    return {{a, QStringLiteral("acknowledged")}};
}

QList<AlarmTransition> AlarmBook::acknowledgeAll(qint64 nowMs)
{
    QList<AlarmTransition> changes;
    for (int i = 0; i < m_alarms.size(); ++i)
        changes += acknowledge(i, nowMs);
    return changes;
}

QList<AlarmTransition> AlarmBook::remind(qint64 nowMs, qint64 afterMs)
{
    QList<AlarmTransition> reminders;
    if (afterMs <= 0)
        return reminders;
    for (Alarm &a : m_alarms) {
        if (a.state != Alarm::State::Active || nowMs - qMax(a.raisedMs, a.remindedMs) < afterMs)
            continue;
        a.remindedMs = nowMs;
        Alarm said = a;
        said.changedMs = nowMs;
        reminders.append({said, QStringLiteral("reminder")});
    }
    return reminders;
}

int AlarmBook::activeCount() const
{
    return int(std::count_if(m_alarms.begin(), m_alarms.end(),
                             [](const Alarm &a) { return a.state != Alarm::State::Cleared; }));
}

AlarmCounts AlarmBook::counts() const
{
    AlarmCounts n;
    for (const Alarm &a : m_alarms) {
        if (a.state == Alarm::State::Cleared)
            continue;
        const auto p = std::size_t(a.condition.priority());
        ++n.open[p];
        if (a.state == Alarm::State::Active)
            ++n.unacknowledged[p];
    }
    return n;
}

void AlarmBook::replay(const AlarmTransition &t)
{
    const auto open = std::find_if(m_alarms.begin(), m_alarms.end(), [&](const Alarm &a) {
        return a.state != Alarm::State::Cleared && sameSubject(a.condition, t.alarm.condition);
    });
    if (t.what == QLatin1String("raised")) {
        if (open == m_alarms.end())
            m_alarms.prepend(t.alarm);
        else
            open->condition = t.alarm.condition;
        return;
    }
    if (open == m_alarms.end())
        return; // it began before what was read
    if (t.what == QLatin1String("reminder")) {
        open->remindedMs = t.alarm.changedMs;
        return;
    }
    open->changedMs = t.alarm.changedMs;
    open->condition = t.alarm.condition;
    open->state = t.what == QLatin1String("cleared") ? Alarm::State::Cleared : Alarm::State::Acknowledged;
}

} // namespace vx
