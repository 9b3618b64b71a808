#include "core/share/BusLease.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace vx {

BusLease::Take BusLease::take(const QString &who, const QString &token, qint64 nowMs)
{
    if (token.isEmpty())
        return Take::Refused;
    if (m_holder && m_holder->token == token) {
        m_holder->expiresMs = nowMs + m_leaseMs;
        return Take::AlreadyYours;
    }
    if (m_holder)
        return Take::Busy;
    m_holder = Holder{who, token, nowMs + m_leaseMs};
    return Take::Granted;
}

bool BusLease::renew(const QString &token, qint64 nowMs)
{
    if (!heldBy(token) || nowMs > m_holder->expiresMs)
        return false;
    m_holder->expiresMs = nowMs + m_leaseMs;
    return true;
}

bool BusLease::give(const QString &token)
{
    if (!heldBy(token))
        return false;
    m_holder.reset();
    return true;
}

bool BusLease::lapse(qint64 nowMs)
{
    if (!m_holder || nowMs <= m_holder->expiresMs)
        return false;
    m_holder.reset();
    return true;
}

namespace busshare {

QByteArray line(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

QJsonObject ok(QJsonObject fields)
{
    fields.insert(QStringLiteral("ok"), true);
    return fields;
}

QJsonObject refused(const QString &error, const QString &text)
{
    return {{QStringLiteral("ok"), false}, {QStringLiteral("error"), error}, {QStringLiteral("text"), text}};
}

QJsonObject frameRequest(const QString &token, const ReadingSet &frame)
{
    QJsonArray raw;
    for (quint16 r : frame.raw)
        raw.append(int(r));
    return {{QStringLiteral("op"), QStringLiteral("frame")},
            {QStringLiteral("token"), token},
            {QStringLiteral("address"), frame.address},
            {QStringLiteral("time"), double(frame.timeMs)},
            {QStringLiteral("raw"), raw}};
}

std::optional<ReadingSet> frameOf(const QJsonObject &request, QString *why)
{
    ReadingSet frame;
    frame.address = request.value(QStringLiteral("address")).toInt(-1);
    frame.timeMs = qint64(request.value(QStringLiteral("time")).toDouble(-1));
    const QJsonArray raw = request.value(QStringLiteral("raw")).toArray();
    if (frame.address < 1 || frame.address > 255 || frame.timeMs <= 0 || raw.isEmpty() || raw.size() > 125) {
        *why = QStringLiteral("a frame needs an address 1-255, a time and 1-125 registers");
        return std::nullopt;
    }
    for (const QJsonValue &v : raw) {
        const int r = v.toInt(-1);
        if (r < 0 || r > 0xFFFF) {
            *why = QStringLiteral("a register is a whole number 0-65535");
            return std::nullopt;
        }
        frame.raw.append(quint16(r));
    }
    return frame;
}

} // namespace busshare
} // namespace vx
