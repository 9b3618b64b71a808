#pragma once

#include "core/grain/DailyReport.h"
#include "core/notify/NotifySettings.h"
#include "core/store/ReadingStore.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace vx {

// What one stored event says to a person, before it is shaped for a channel.
struct NotifyMessage {
    QString kind;          // raised | reminder | cleared | collector | summary | test
    AlarmPriority priority = AlarmPriority::High;
    int cable = 0;         // 0: the collector itself
    qint64 timeMs = 0;
    QString subject;       // one line
    QString text;          // the whole message, plain text
};

// The message an event of the notify outbox makes, in Chinese or English;
// nothing for events that are not sent (an acknowledgement, a reading).
std::optional<NotifyMessage> messageOf(const StoreEvent &event, bool english, const QString &site);
// Whether a channel takes a message: its priority and cable range.
bool channelWants(const NotifyChannel &channel, const NotifyMessage &message);
// When it may go: at once, or a low-priority one in the channel's quiet hours
// when they end (never a high one). Times in ms; local time of day.
qint64 dueAt(const NotifyChannel &channel, const NotifyMessage &message, qint64 nowMs);
// Floods: up to perMinute new alarm groups within a minute go one by one;
// beyond that they are held to the end of that minute and go as one summary.
class FloodGate {
public:
    explicit FloodGate(int perMinute) : m_perMinute(perMinute) {}
    // When a new group raised now may go, and whether it is part of a flood.
    qint64 admit(qint64 nowMs, bool *flooded);

private:
    int m_perMinute;
    QList<qint64> m_recent; // the groups let through or held within the last minute
    qint64 m_floodEnds = 0;
};

// One message for many: the alarm groups a flood raised within a minute.
NotifyMessage floodSummary(const QList<NotifyMessage> &messages, bool english, const QString &site);

// The daily summary a channel wants now, if any: the calendar day before
// today, once today's summary time has come and no summary was made since
// (lastMadeMs: when the last one was made; 0: never).
std::optional<QDate> summaryDue(const NotifyChannel &channel, qint64 lastMadeMs, qint64 nowMs);
// A day's figures and alarms, as the daily report has them.
NotifyMessage dailySummary(const DailyReport &report, bool english, const QString &site);

// The bytes a channel sends: the JSON body of a webhook (generic, or a
// work-chat robot's text or markdown message), an e-mail (RFC 5322, UTF-8),
// or what a command reads on standard input.
QByteArray webhookBody(const NotifyChannel &channel, const NotifyMessage &message, const QString &site);
QByteArray emailMessage(const NotifyChannel &channel, const NotifyMessage &message, qint64 nowMs);
QByteArray commandInput(const NotifyMessage &message);

// A message as kept in the outbox (a JSON object) and back.
QByteArray packMessage(const NotifyMessage &message);
std::optional<NotifyMessage> unpackMessage(const QByteArray &packed);

} // namespace vx
