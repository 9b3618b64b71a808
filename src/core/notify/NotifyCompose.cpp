#include "core/notify/NotifyCompose.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>

namespace vx {

namespace {
QString englishRule(AlarmRule rule)
{
    switch (rule) {
    case AlarmRule::HighTemperature: return QStringLiteral("high temperature");
    case AlarmRule::HotPoint: return QStringLiteral("hot point");
    case AlarmRule::RateOfRise: return QStringLiteral("fast rise");
    case AlarmRule::WeeklyRise: return QStringLiteral("weekly rise too fast");
    case AlarmRule::SensorFault: return QStringLiteral("sensor fault");
    case AlarmRule::CableSilent: return QStringLiteral("cable silent");
    case AlarmRule::Gradient: return QStringLiteral("steep gradient");
    case AlarmRule::TopBottom: return QStringLiteral("top and bottom far apart");
    case AlarmRule::WarmerThanSameGrain: return QStringLiteral("warmer than bins of the same grain");
    case AlarmRule::InspectionOverdue: return QStringLiteral("inspection overdue");
    }
    return QString();
}

QString englishPriority(AlarmPriority p)
{
    return p == AlarmPriority::High ? QStringLiteral("high") : p == AlarmPriority::Medium ? QStringLiteral("medium") : QStringLiteral("low");
}

QString chinesePriority(AlarmPriority p)
{
    return p == AlarmPriority::High ? QStringLiteral("高") : p == AlarmPriority::Medium ? QStringLiteral("中") : QStringLiteral("低");
}

// The group in English from its rule and values (the stored text is Chinese).
QString englishDetail(const AlarmCondition &c)
{
    const QString layers = c.points.isEmpty() ? QString() : QStringLiteral(", layers %1").arg(c.layersText().remove(QStringLiteral("层")));
    const QString at = c.points.size() > 1 ? QStringLiteral(" (layer %1)").arg(c.layer) : QString();
    switch (c.rule) {
    case AlarmRule::HighTemperature:
        return QStringLiteral("%1, highest %2 °C%3, limit %4 °C").arg(layers.mid(2)).arg(c.value, 0, 'f', 2).arg(at).arg(c.limit, 0, 'f', 1);
    case AlarmRule::HotPoint:
        return QStringLiteral("%1, up to %2 °C above the layer mean%3").arg(layers.mid(2)).arg(c.value, 0, 'f', 2).arg(at);
    case AlarmRule::RateOfRise:
        return QStringLiteral("%1, up to %2 °C a day%3").arg(layers.mid(2)).arg(c.value, 0, 'f', 2).arg(at);
    case AlarmRule::WeeklyRise:
        return QStringLiteral("%1, up to %2 °C a week%3").arg(layers.mid(2)).arg(c.value, 0, 'f', 2).arg(at);
    case AlarmRule::SensorFault:
        return layers.mid(2);
    case AlarmRule::CableSilent:
        return QStringLiteral("no reply for %1 s").arg(qRound(c.value));
    case AlarmRule::Gradient:
        return QStringLiteral("%1, up to %2 °C/m%3, limit %4 °C/m").arg(layers.mid(2)).arg(c.value, 0, 'f', 2).arg(at).arg(c.limit, 0, 'f', 1);
    case AlarmRule::TopBottom:
        return QStringLiteral("top and bottom %1 °C apart, limit %2 °C").arg(c.value, 0, 'f', 2).arg(c.limit, 0, 'f', 1);
    case AlarmRule::WarmerThanSameGrain:
        return QStringLiteral("mean %1 °C above bins of the same grain, limit %2 °C").arg(c.value, 0, 'f', 2).arg(c.limit, 0, 'f', 1);
    case AlarmRule::InspectionOverdue:
        return QStringLiteral("%1 days overdue").arg(qRound(c.value));
    }
    return QString();
}

QString localTime(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

// RFC 2047: a header in UTF-8, base64.
QByteArray encodedWord(const QString &text)
{
    return "=?UTF-8?B?" + text.toUtf8().toBase64() + "?=";
}
} // namespace

std::optional<NotifyMessage> messageOf(const StoreEvent &e, bool english, const QString &site)
{
    NotifyMessage m;
    m.timeMs = e.timeMs;
    const QString where = site.isEmpty() ? QString() : QStringLiteral("[%1] ").arg(site);
    if (e.kind == QLatin1String("alarm_raised") || e.kind == QLatin1String("alarm_reminder")
        || e.kind == QLatin1String("alarm_cleared")) {
        const auto c = AlarmCondition::fromJson(e.data);
        if (!c)
            return std::nullopt;
        m.kind = e.kind.mid(6) == QLatin1String("raised") ? QStringLiteral("raised") : e.kind.mid(6);
        m.priority = c->priority();
        m.cable = c->cable;
        if (english) {
            const QString state = m.kind == QLatin1String("raised")     ? QStringLiteral("ALARM")
                                  : m.kind == QLatin1String("reminder") ? QStringLiteral("REMINDER, still unacknowledged")
                                                                         : QStringLiteral("cleared");
            const QString subject = c->cable == 0 && c->bin != 0 ? QStringLiteral("bin %1").arg(c->bin) : QStringLiteral("cable %1").arg(c->cable);
            m.subject = QStringLiteral("%1%2 (%3): %4, %5").arg(where, state, englishPriority(m.priority), englishRule(c->rule), subject);
            m.text = QStringLiteral("%1\n%2\nAt %3").arg(m.subject, englishDetail(*c), localTime(e.timeMs));
        } else {
            const QString state = m.kind == QLatin1String("raised")     ? QStringLiteral("报警")
                                  : m.kind == QLatin1String("reminder") ? QStringLiteral("提醒：报警仍未确认")
                                                                         : QStringLiteral("报警解除");
            const bool ofBin = c->cable == 0 && c->bin != 0;
            m.subject = QStringLiteral("%1%2（%3）：%4 %5%6").arg(where, state, chinesePriority(m.priority), ruleName(c->rule),
                                                             ofBin ? QStringLiteral("仓") : QStringLiteral("电缆"))
                            .arg(ofBin ? c->bin : c->cable, 2, 10, QLatin1Char('0'));
            m.text = QStringLiteral("%1\n%2\n时间 %3").arg(m.subject, c->detail(), localTime(e.timeMs));
        }
        return m;
    }
    struct Said {
        const char *kind;
        AlarmPriority priority;
        const char *zh;
        const char *en;
    };
    static const Said collector[] = {
        {"collector_stopped", AlarmPriority::High, "采集服务已停止", "the collector stopped"},
        {"port_lost", AlarmPriority::High, "采集服务失去串口", "the collector lost its port"},
        {"port_back", AlarmPriority::Low, "串口已恢复", "the port is back"},
        {"collector_started", AlarmPriority::Low, "采集服务已启动", "the collector started"},
    };
    for (const Said &s : collector) {
        if (e.kind != QLatin1String(s.kind))
            continue;
        m.kind = QStringLiteral("collector");
        m.priority = s.priority;
        m.subject = where + (english ? QString::fromUtf8(s.en) : QString::fromUtf8(s.zh));
        m.text = QStringLiteral("%1%2\n%3 %4")
                     .arg(m.subject, e.detail.isEmpty() ? QString() : QStringLiteral(": ") + e.detail,
                          english ? QStringLiteral("At") : QStringLiteral("时间"), localTime(e.timeMs));
        return m;
    }
    return std::nullopt;
}

bool channelWants(const NotifyChannel &channel, const NotifyMessage &message)
{
    if (int(message.priority) > int(channel.lowest))
        return false;
    return message.cable == 0 || channel.cables.isEmpty() || channel.cables.contains(message.cable);
}

qint64 dueAt(const NotifyChannel &channel, const NotifyMessage &message, qint64 nowMs)
{
    if (message.priority != AlarmPriority::Low)
        return nowMs;
    const QDateTime now = QDateTime::fromMSecsSinceEpoch(nowMs);
    const int minute = now.time().hour() * 60 + now.time().minute();
    if (!channel.quietAt(minute))
        return nowMs;
    QDateTime end(now.date(), QTime(channel.quietToMinute / 60, channel.quietToMinute % 60));
    if (end <= now)
        end = end.addDays(1);
    return end.toMSecsSinceEpoch();
}

qint64 FloodGate::admit(qint64 nowMs, bool *flooded)
{
    while (!m_recent.isEmpty() && nowMs - m_recent.first() >= 60000)
        m_recent.removeFirst();
    *flooded = m_recent.size() >= m_perMinute || nowMs < m_floodEnds;
    if (*flooded && nowMs >= m_floodEnds)
        m_floodEnds = (m_recent.isEmpty() ? nowMs : m_recent.first()) + 60000;
    m_recent.append(nowMs);
    return *flooded ? m_floodEnds : nowMs;
}

NotifyMessage floodSummary(const QList<NotifyMessage> &messages, bool english, const QString &site)
{
    NotifyMessage s;
    s.kind = QStringLiteral("summary");
    s.priority = AlarmPriority::Low;
    for (const NotifyMessage &m : messages) {
        s.priority = AlarmPriority(qMin(int(s.priority), int(m.priority)));
        s.timeMs = qMax(s.timeMs, m.timeMs);
    }
    const QString where = site.isEmpty() ? QString() : QStringLiteral("[%1] ").arg(site);
    s.subject = english ? QStringLiteral("%1%2 more alarms within a minute").arg(where).arg(messages.size())
                        : QStringLiteral("%1一分钟内又有 %2 条报警").arg(where).arg(messages.size());
    QStringList lines{s.subject};
    for (const NotifyMessage &m : messages)
        lines << m.subject;
    s.text = lines.join(QLatin1Char('\n'));
    return s;
}

std::optional<QDate> summaryDue(const NotifyChannel &channel, qint64 lastMadeMs, qint64 nowMs)
{
    if (channel.summaryMinute < 0)
        return std::nullopt;
    const QDateTime now = QDateTime::fromMSecsSinceEpoch(nowMs);
    const QDateTime today(now.date(), QTime(channel.summaryMinute / 60, channel.summaryMinute % 60));
    if (now < today || lastMadeMs >= today.toMSecsSinceEpoch())
        return std::nullopt;
    return now.date().addDays(-1);
}

NotifyMessage dailySummary(const DailyReport &r, bool english, const QString &site)
{
    NotifyMessage m;
    m.kind = QStringLiteral("summary");
    m.priority = AlarmPriority::Low;
    m.timeMs = QDateTime(r.date.addDays(1), QTime(0, 0)).toMSecsSinceEpoch();
    const QString where = site.isEmpty() ? QString() : QStringLiteral("[%1] ").arg(site);
    const QString day = r.date.toString(Qt::ISODate);
    m.subject = english ? QStringLiteral("%1daily summary %2").arg(where, day) : QStringLiteral("%1粮情日报 %2").arg(where, day);
    QStringList lines{m.subject};
    const auto n = [](double v) { return DailyReport::number(v); };
    if (r.bin.count == 0)
        lines << (english ? QStringLiteral("no readings that day") : QStringLiteral("当天没有读数"));
    else if (english)
        lines << QStringLiteral("bin: min %1 °C, max %2 °C (cable %3 layer %4), mean %5 °C, %6 readings; %7 alarms")
                     .arg(n(r.bin.min), n(r.bin.max)).arg(r.bin.address).arg(r.bin.point).arg(n(r.bin.mean)).arg(r.bin.count).arg(r.alarms.size());
    else
        lines << QStringLiteral("全仓：最低 %1 °C，最高 %2 °C（电缆%3 层%4），平均 %5 °C，读数 %6 个；报警 %7 条")
                     .arg(n(r.bin.min), n(r.bin.max)).arg(r.bin.address, 2, 10, QLatin1Char('0')).arg(r.bin.point, 2, 10, QLatin1Char('0'))
                     .arg(n(r.bin.mean)).arg(r.bin.count).arg(r.alarms.size());
    for (const StoreEvent &e : r.alarms) {
        if (const auto a = messageOf(e, english, QString()))
            lines << QDateTime::fromMSecsSinceEpoch(e.timeMs).toString(QStringLiteral("HH:mm  ")) + a->subject;
        else
            lines << QDateTime::fromMSecsSinceEpoch(e.timeMs).toString(QStringLiteral("HH:mm  ")) + e.detail;
    }
    m.text = lines.join(QLatin1Char('\n'));
    return m;
}

QByteArray webhookBody(const NotifyChannel &channel, const NotifyMessage &m, const QString &site)
{
    // Two work-chat robot formats by their public fields: {"msgtype":"text","text":{"content":...}}
    // and {"msgtype":"markdown","markdown":{"content":...}} (the markdown one also takes a title).
    QJsonObject o;
    if (channel.format == QLatin1String("text")) {
        o = {{QStringLiteral("msgtype"), QStringLiteral("text")}, {QStringLiteral("text"), QJsonObject{{QStringLiteral("content"), m.text}}}};
    } else if (channel.format == QLatin1String("markdown")) {
        QString body = QStringLiteral("### ") + m.subject;
        const QStringList lines = m.text.split(QLatin1Char('\n'));
        for (int i = 1; i < lines.size(); ++i)
            body += QStringLiteral("\n> ") + lines[i];
        o = {{QStringLiteral("msgtype"), QStringLiteral("markdown")},
             {QStringLiteral("markdown"), QJsonObject{{QStringLiteral("title"), m.subject}, {QStringLiteral("content"), body}}}};
    } else {
        o = {{QStringLiteral("site"), site},
             {QStringLiteral("kind"), m.kind},
             {QStringLiteral("priority"), englishPriority(m.priority)},
             {QStringLiteral("cable"), m.cable},
             {QStringLiteral("time"), QDateTime::fromMSecsSinceEpoch(m.timeMs, Qt::UTC).toString(Qt::ISODateWithMs)},
             {QStringLiteral("subject"), m.subject},
             {QStringLiteral("text"), m.text}};
    }
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

QByteArray emailMessage(const NotifyChannel &channel, const NotifyMessage &m, qint64 nowMs)
{
    QByteArray mail;
    mail += "From: " + channel.from.toUtf8() + "\r\n";
    mail += "To: " + channel.to.join(QStringLiteral(", ")).toUtf8() + "\r\n";
    mail += "Subject: " + encodedWord(m.subject) + "\r\n";
    mail += "Date: " + QLocale::c().toString(QDateTime::fromMSecsSinceEpoch(nowMs, Qt::UTC), QStringLiteral("ddd, dd MMM yyyy HH:mm:ss")).toUtf8() + " +0000\r\n";
    mail += "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: base64\r\n\r\n";
    const QByteArray body = m.text.toUtf8().toBase64();
    for (int i = 0; i < body.size(); i += 76)
        mail += body.mid(i, 76) + "\r\n";
    return mail;
}

QByteArray commandInput(const NotifyMessage &m)
{
    return m.text.toUtf8() + '\n';
}

QByteArray packMessage(const NotifyMessage &m)
{
    return QJsonDocument(QJsonObject{{QStringLiteral("kind"), m.kind},
                                     {QStringLiteral("priority"), int(m.priority)},
                                     {QStringLiteral("cable"), m.cable},
                                     {QStringLiteral("time"), double(m.timeMs)},
                                     {QStringLiteral("subject"), m.subject},
                                     {QStringLiteral("text"), m.text}})
        .toJson(QJsonDocument::Compact);
}

std::optional<NotifyMessage> unpackMessage(const QByteArray &packed)
{
    const QJsonObject o = QJsonDocument::fromJson(packed).object();
    if (o.isEmpty())
        return std::nullopt;
    NotifyMessage m;
    m.kind = o.value(QStringLiteral("kind")).toString();
    m.priority = AlarmPriority(qBound(0, o.value(QStringLiteral("priority")).toInt(), 2));
    m.cable = o.value(QStringLiteral("cable")).toInt();
    m.timeMs = qint64(o.value(QStringLiteral("time")).toDouble());
    m.subject = o.value(QStringLiteral("subject")).toString();
    m.text = o.value(QStringLiteral("text")).toString();
    return m;
}

} // namespace vx
