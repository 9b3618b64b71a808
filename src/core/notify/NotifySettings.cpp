#include "core/notify/NotifySettings.h"

#include "core/settings/SettingTexts.h"

#include <QRegularExpression>
#include <QSettings>
#include <QUrl>

namespace vx {

bool NotifyChannel::quietAt(int minute) const
{
    if (quietFromMinute < 0 || quietToMinute < 0 || quietFromMinute == quietToMinute)
        return false;
    return quietFromMinute < quietToMinute ? minute >= quietFromMinute && minute < quietToMinute
                                           : minute >= quietFromMinute || minute < quietToMinute; // over midnight
}

namespace {
std::optional<int> minuteOf(const QString &hhmm)
{
    static const QRegularExpression form(QStringLiteral("^(\\d{1,2}):(\\d{2})$"));
    const auto m = form.match(hhmm.trimmed());
    if (!m.hasMatch() || m.captured(1).toInt() > 23 || m.captured(2).toInt() > 59)
        return std::nullopt;
    return m.captured(1).toInt() * 60 + m.captured(2).toInt();
}
} // namespace

NotifySettings readNotifySettings(QSettings &ini, QStringList *errors)
{
    NotifySettings result;
    bool ok = false;
    const int remind = ini.value(QStringLiteral("notify/remind_after_minutes"), 30).toInt(&ok);
    if (ok && remind >= 0 && remind <= 7 * 24 * 60)
        result.remindAfterMinutes = remind;
    else
        errors->append(QStringLiteral("[notify] remind_after_minutes: expected 0 to 10080"));
    for (const QString &group : ini.childGroups()) {
        if (!group.startsWith(QLatin1String("notify.")))
            continue;
        NotifyChannel c;
        c.name = group.mid(7);
        ini.beginGroup(group);
        const auto text = [&](const char *key) { return ini.value(QLatin1String(key)).toString().trimmed(); };
        QStringList wrong;
        const QString type = text("type");
        if (type == QLatin1String("webhook"))
            c.kind = NotifyChannel::Kind::Webhook;
        else if (type == QLatin1String("email"))
            c.kind = NotifyChannel::Kind::Email;
        else if (type == QLatin1String("command"))
            c.kind = NotifyChannel::Kind::Command;
        else
            wrong << QStringLiteral("type: expected webhook, email or command");
        c.url = text("url");
        c.format = ini.value(QStringLiteral("format"), QStringLiteral("json")).toString();
        c.header = text("header");
        c.verifyTls = ini.value(QStringLiteral("verify_tls"), true).toBool();
        c.caFile = text("ca_file");
        c.smtpUrl = text("smtp_url");
        c.startTls = ini.value(QStringLiteral("starttls"), false).toBool();
        c.user = text("user");
        c.password = ini.value(QStringLiteral("password")).toString();
        c.from = text("from");
        for (const QString &to : ini.value(QStringLiteral("to")).toStringList().join(QLatin1Char(',')).split(QLatin1Char(',')))
            if (!to.trimmed().isEmpty())
                c.to << to.trimmed();
        c.program = text("program");
        c.arguments = ini.value(QStringLiteral("args")).toStringList();
        c.english = text("language") == QLatin1String("en");
        const auto number = [&](const char *key, int fallback, int lo, int hi) {
            bool good = false;
            const int v = ini.value(QLatin1String(key), fallback).toInt(&good);
            if (!good || v < lo || v > hi) {
                wrong << QStringLiteral("%1: expected %2 to %3").arg(QLatin1String(key)).arg(lo).arg(hi);
                return fallback;
            }
            return v;
        };
        c.timeoutSeconds = number("timeout", 10, 1, 600);
        c.floodPerMinute = number("flood_per_minute", 10, 1, 10000);
        c.maxAgeHours = number("max_age_hours", 24, 1, 24 * 30);
        const QString priority = ini.value(QStringLiteral("priority"), QStringLiteral("low")).toString();
        if (priority == QLatin1String("high"))
            c.lowest = AlarmPriority::High;
        else if (priority == QLatin1String("medium"))
            c.lowest = AlarmPriority::Medium;
        else if (priority != QLatin1String("low"))
            wrong << QStringLiteral("priority: expected high, medium or low");
        if (!text("cables").isEmpty()) {
            const auto cables = parseAddressRanges(text("cables"));
            if (cables)
                c.cables = *cables;
            else
                wrong << QStringLiteral("cables: expected a list like 1-10,12");
        }
        if (!text("quiet_hours").isEmpty()) {
            const QStringList ends = text("quiet_hours").split(QLatin1Char('-'));
            const auto from = minuteOf(ends.value(0)), to = minuteOf(ends.value(1));
            if (ends.size() == 2 && from && to) {
                c.quietFromMinute = *from;
                c.quietToMinute = *to;
            } else {
                wrong << QStringLiteral("quiet_hours: expected HH:MM-HH:MM, e.g. 22:00-06:30");
            }
        }
        if (!text("daily_summary").isEmpty()) {
            if (const auto at = minuteOf(text("daily_summary")))
                c.summaryMinute = *at;
            else
                wrong << QStringLiteral("daily_summary: expected HH:MM, e.g. 08:00");
        }
        ini.endGroup();
        switch (c.kind) {
        case NotifyChannel::Kind::Webhook:
            if (!QUrl(c.url).isValid() || !(c.url.startsWith(QLatin1String("http://")) || c.url.startsWith(QLatin1String("https://"))))
                wrong << QStringLiteral("url: expected http:// or https://");
            if (c.format != QLatin1String("json") && c.format != QLatin1String("text") && c.format != QLatin1String("markdown"))
                wrong << QStringLiteral("format: expected json, text or markdown");
            if (!c.header.isEmpty() && (!c.header.contains(QLatin1Char(':')) || c.header.contains(QLatin1Char('\n'))))
                wrong << QStringLiteral("header: expected one line \"Name: value\"");
            break;
        case NotifyChannel::Kind::Email:
            if (!(c.smtpUrl.startsWith(QLatin1String("smtp://")) || c.smtpUrl.startsWith(QLatin1String("smtps://"))))
                wrong << QStringLiteral("smtp_url: expected smtp://HOST:PORT or smtps://HOST:PORT");
            if (c.from.isEmpty() || c.to.isEmpty())
                wrong << QStringLiteral("from and to: both needed");
            break;
        case NotifyChannel::Kind::Command:
            if (c.program.isEmpty())
                wrong << QStringLiteral("program: needed");
            break;
        }
        if (!wrong.isEmpty()) {
            for (const QString &w : std::as_const(wrong))
                errors->append(QStringLiteral("[notify.%1] %2").arg(c.name, w));
            continue;
        }
        result.channels << c;
    }
    return result;
}

} // namespace vx
