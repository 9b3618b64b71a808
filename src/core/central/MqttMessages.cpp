#include "core/central/MqttMessages.h"

#include "core/records/ShownValue.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>

namespace vx {

namespace {

QString levelProblem(const QString &level, const char *what)
{
    if (level.isEmpty())
        return QStringLiteral("%1 has an empty topic level").arg(QLatin1String(what));
    if (const QString why = mqttTextProblem(level, what); !why.isEmpty())
        return why;
    for (const QChar c : level) {
        if (c == QLatin1Char('+') || c == QLatin1Char('#'))
            return QStringLiteral("%1 %2 holds '%3', which MQTT reserves").arg(QLatin1String(what), shownValue(level), c);
    }
    return {};
}

void appendCelsius(QByteArray &out, quint16 raw)
{
    const auto celsius = celsiusOf(raw);
    if (!celsius) {
        out += "null";
        return;
    }
    // Hundredths are what the device sends: two decimals say it exactly.
    out += QByteArray::number(*celsius, 'f', 2);
}

} // namespace

QByteArray MqttTopics::base() const
{
    return (prefix + QLatin1Char('/') + site).toUtf8();
}

QByteArray MqttTopics::point(int address, int point) const
{
    return base() + '/' + QByteArray::number(address) + '/' + QByteArray::number(point);
}

QByteArray MqttTopics::frame(int address) const
{
    return base() + '/' + QByteArray::number(address);
}

QByteArray MqttTopics::state(int address) const
{
    return frame(address) + "/state";
}

QByteArray MqttTopics::alarms() const
{
    return base() + "/alarms";
}

QByteArray MqttTopics::status() const
{
    return base() + "/status";
}

QString mqttTextProblem(const QString &text, const char *what)
{
    // What a broker refuses in a string (MQTT 3.1.1, 1.5.3; libmosquitto's
    // own check): control characters, non-characters, invalid UTF-8 (which
    // reaches us as U+FFFD), more than 65,535 bytes.
    if (text.toUtf8().size() > 65535)
        return QStringLiteral("%1 is longer than MQTT's 65,535 bytes").arg(QLatin1String(what));
    for (auto it = text.cbegin(); it != text.cend(); ++it) {
        char32_t c = it->unicode();
        if (it->isHighSurrogate() && it + 1 != text.cend() && (it + 1)->isLowSurrogate()) {
            c = QChar::surrogateToUcs4(*it, *(it + 1));
            ++it;
        }
        const bool control = c < 0x20 || (c >= 0x7F && c <= 0x9F);
        const bool nonCharacter = (c & 0xFFFE) == 0xFFFE || (c >= 0xFDD0 && c <= 0xFDEF);
        if (c == 0xFFFD || QChar::isSurrogate(c))
            return QStringLiteral("%1 %2 is not valid UTF-8").arg(QLatin1String(what), shownValue(text));
        if (control || nonCharacter)
            return QStringLiteral("%1 %2 holds U+%3, which MQTT does not allow")
                .arg(QLatin1String(what), shownValue(text))
                .arg(uint(c), 4, 16, QLatin1Char('0'));
    }
    return {};
}

QString mqttPrefixProblem(const QString &prefix)
{
    if (prefix.toUtf8().size() > 1024)
        return QStringLiteral("the MQTT prefix is longer than 1,024 bytes");
    for (const QString &level : prefix.split(QLatin1Char('/'))) {
        const QString why = levelProblem(level, "the MQTT prefix");
        if (!why.isEmpty())
            return why;
    }
    return {};
}

QString mqttSiteProblem(const QString &site)
{
    if (site.contains(QLatin1Char('/')))
        return QStringLiteral("the site %1 holds '/', which would make it several topic levels").arg(shownValue(site));
    return levelProblem(site, "the site");
}

QString siteNameProblem(const QString &site)
{
    if (site.isEmpty())
        return QStringLiteral("the site is empty");
    // A key column of every central table: PostgreSQL's index rows end near 2,700 bytes.
    if (site.toUtf8().size() > kMaxSiteBytes)
        return QStringLiteral("the site is longer than %1 bytes").arg(kMaxSiteBytes);
    return mqttTextProblem(site, "the site");
}

QByteArray rfc3339Utc(qint64 timeMs)
{
    return QDateTime::fromMSecsSinceEpoch(timeMs, Qt::UTC).toString(Qt::ISODateWithMs).toLatin1();
}

namespace {

QByteArray pointPayloadAt(const QByteArray &time, quint16 raw)
{
    QByteArray out;
    out.reserve(80);
    out += "{\"time\":\"";
    out += time;
    out += "\",\"celsius\":";
    appendCelsius(out, raw);
    out += ",\"raw\":";
    out += QByteArray::number(raw);
    out += ",\"status\":\"";
    out += statusName(statusOf(raw)).toLatin1();
    out += "\"}";
    return out;
}

QByteArray framePayloadAt(const QByteArray &time, const ReadingSet &frame)
{
    QByteArray celsius, raw, status;
    for (int k = 0; k < frame.raw.size(); ++k) {
        const char *comma = k == 0 ? "" : ",";
        celsius += comma;
        appendCelsius(celsius, frame.raw[k]);
        raw += comma + QByteArray::number(frame.raw[k]);
        status += comma;
        status += '"' + statusName(statusOf(frame.raw[k])).toLatin1() + '"';
    }
    return "{\"time\":\"" + time + "\",\"celsius\":[" + celsius + "],\"raw\":[" + raw + "],\"status\":[" + status
           + "]}";
}

} // namespace

QByteArray pointPayload(qint64 timeMs, quint16 raw)
{
    return pointPayloadAt(rfc3339Utc(timeMs), raw);
}

QByteArray framePayload(const ReadingSet &frame)
{
    return framePayloadAt(rfc3339Utc(frame.timeMs), frame);
}

QByteArray statePayload(const DeviceStats &stats, qint64 nowMs)
{
    QJsonObject o{{QStringLiteral("state"), stats.answering ? QStringLiteral("answering") : QStringLiteral("silent")},
                  {QStringLiteral("time"), QString::fromLatin1(rfc3339Utc(nowMs))},
                  {QStringLiteral("requests"), stats.requests},
                  {QStringLiteral("good_replies"), stats.goodReplies},
                  {QStringLiteral("timeouts"), stats.timeouts},
                  {QStringLiteral("crc_errors"), stats.crcErrors},
                  {QStringLiteral("exceptions"), stats.exceptions},
                  {QStringLiteral("uploads"), stats.uploads},
                  {QStringLiteral("response_ms"), stats.responseMeanMs()},
                  {QStringLiteral("last_seen"),
                   stats.lastSeen.isValid() ? QJsonValue(QString::fromLatin1(rfc3339Utc(stats.lastSeen.toMSecsSinceEpoch())))
                                            : QJsonValue()}};
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

QByteArray alarmPayload(const StoreEvent &event)
{
    QString state = event.kind;
    state.remove(0, int(qstrlen("alarm_")));
    QJsonObject o{{QStringLiteral("time"), QString::fromLatin1(rfc3339Utc(event.timeMs))},
                  {QStringLiteral("cable"), event.address},
                  {QStringLiteral("state"), state},
                  {QStringLiteral("text"), event.detail}};
    // One message per alarm group, with its rule, priority, layers and values for programs.
    const QJsonObject data = QJsonDocument::fromJson(event.data).object();
    for (const char *key : {"rule", "priority", "value", "layer", "limit", "points"})
        if (data.contains(QLatin1String(key)))
            o.insert(QLatin1String(key), data.value(QLatin1String(key)));
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

QList<MqttMessage> mqttMessagesFor(const OutboxEntry &entry, const MqttTopics &topics)
{
    QList<MqttMessage> messages;
    if (entry.isEvent) {
        if (entry.event.kind.startsWith(QLatin1String("alarm_")))
            messages.append({topics.alarms(), alarmPayload(entry.event), false});
        return messages;
    }
    const ReadingSet &frame = entry.frame;
    messages.reserve(frame.raw.size() + 1);
    const QByteArray time = rfc3339Utc(frame.timeMs); // once for the frame's 19 messages
    for (int k = 0; k < frame.raw.size(); ++k)
        messages.append({topics.point(frame.address, k + 1), pointPayloadAt(time, frame.raw[k]), false});
    messages.append({topics.frame(frame.address), framePayloadAt(time, frame), false});
    return messages;
}

} // namespace vx
