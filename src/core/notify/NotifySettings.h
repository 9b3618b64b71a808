#pragma once

#include "core/grain/AlarmRules.h"

#include <QList>
#include <QString>
#include <QStringList>

class QSettings;

namespace vx {

// One way of reaching someone: a [notify.NAME] section of the configuration.
struct NotifyChannel {
    enum class Kind { Webhook, Email, Command };
    QString name;
    Kind kind = Kind::Webhook;
    // webhook: a JSON body POSTed to url, in one of three formats
    QString url;
    QString format = QStringLiteral("json"); // json | text | markdown (work-chat robots)
    QString header;                          // "Name: value", e.g. a secret token
    bool verifyTls = true;
    QString caFile;
    // email: SMTP through libcurl
    QString smtpUrl;   // smtp://host:port (STARTTLS with starttls=true) or smtps://host:port
    bool startTls = false;
    QString user, password, from;
    QStringList to;
    // command: the message on standard input
    QString program;
    QStringList arguments;
    // all kinds
    int timeoutSeconds = 10;
    AlarmPriority lowest = AlarmPriority::Low; // messages of this priority or higher go
    QList<int> cables;                          // empty: every cable
    int quietFromMinute = -1, quietToMinute = -1; // local time of day; low-priority messages wait
    bool english = false;
    int floodPerMinute = 10;                    // more new alarm groups a minute: one summary
    int maxAgeHours = 24;                       // then a message is given up (counted as expired)
    int summaryMinute = -1;                     // local time of day of the daily summary; -1: none

    bool quietAt(int minuteOfDay) const;
};

struct NotifySettings {
    QList<NotifyChannel> channels;
    int remindAfterMinutes = 30; // an alarm still unacknowledged is sent again; 0: never
    bool any() const { return !channels.isEmpty(); }
};

// The [notify] and [notify.NAME] sections; each mistake named in errors
// (that channel is left out, the others kept).
NotifySettings readNotifySettings(QSettings &ini, QStringList *errors);

} // namespace vx
