#include "core/central/MqttConsumer.h"

#include <QDateTime>
#include <QTcpSocket>

namespace vx {

namespace mqttwire {

namespace {

void appendU16(QByteArray &out, quint16 v)
{
    out += char(v >> 8);
    out += char(v & 0xff);
}

void appendU32(QByteArray &out, quint32 v)
{
    appendU16(out, quint16(v >> 16));
    appendU16(out, quint16(v & 0xffff));
}

void appendVarint(QByteArray &out, int v)
{
    do {
        char byte = char(v % 128);
        v /= 128;
        if (v > 0)
            byte = char(byte | 0x80);
        out += byte;
    } while (v > 0);
}

void appendBinary(QByteArray &out, const QByteArray &bytes)
{
    appendU16(out, quint16(bytes.size()));
    out += bytes;
}

QByteArray packet(quint8 firstByte, const QByteArray &body)
{
    QByteArray out;
    out.reserve(body.size() + 5);
    out += char(firstByte);
    appendVarint(out, int(body.size()));
    out += body;
    return out;
}

quint16 u16At(const QByteArray &b, qsizetype at)
{
    return quint16((quint8(b[at]) << 8) | quint8(b[at + 1]));
}

// A variable byte integer at *at, which moves past it; -1 when malformed or cut.
int varintAt(const QByteArray &b, qsizetype *at)
{
    int value = 0;
    for (int i = 0, shift = 0; i < 4; ++i, shift += 7) {
        if (*at >= b.size())
            return -1;
        const quint8 byte = quint8(b[(*at)++]);
        value += (byte & 0x7f) << shift;
        if (!(byte & 0x80))
            return value;
    }
    return -1;
}

} // namespace

QByteArray connectPacket(const ConnectOptions &o)
{
    QByteArray body;
    appendBinary(body, QByteArrayLiteral("MQTT"));
    body += char(5);
    quint8 flags = o.cleanStart ? 0x02 : 0x00;
    if (!o.user.isEmpty())
        flags |= 0x80;
    if (!o.password.isEmpty())
        flags |= 0x40;
    body += char(flags);
    appendU16(body, quint16(o.keepAliveSeconds));
    QByteArray properties;
    properties += char(0x11);
    appendU32(properties, o.sessionExpirySeconds);
    properties += char(0x21);
    appendU16(properties, o.receiveMaximum);
    if (o.maximumPacketSize > 0) {
        properties += char(0x27);
        appendU32(properties, o.maximumPacketSize);
    }
    appendVarint(body, int(properties.size()));
    body += properties;
    appendBinary(body, o.clientId);
    if (!o.user.isEmpty())
        appendBinary(body, o.user);
    if (!o.password.isEmpty())
        appendBinary(body, o.password);
    return packet(Connect << 4, body);
}

QByteArray subscribePacket(quint16 packetId, const QByteArray &filter, int qos)
{
    QByteArray body;
    appendU16(body, packetId);
    body += char(0); // no properties
    appendBinary(body, filter);
    body += char(qos & 3);
    return packet((Subscribe << 4) | 0x02, body);
}

QByteArray pubAckPacket(quint16 packetId)
{
    QByteArray body;
    appendU16(body, packetId); // no reason code: success
    return packet(PubAck << 4, body);
}

QByteArray pingReqPacket()
{
    return packet(PingReq << 4, {});
}

QByteArray disconnectPacket()
{
    return packet(Disconnect << 4, {});
}

std::optional<Packet> PacketReader::next(QString *error)
{
    if (m_buffer.isEmpty())
        return std::nullopt;
    qsizetype at = 1;
    const int length = varintAt(m_buffer, &at);
    if (length < 0) {
        if (m_buffer.size() >= 5)
            *error = QStringLiteral("malformed packet length");
        return std::nullopt;
    }
    if (length > m_maximumBody) {
        *error = QStringLiteral("a packet of %1 bytes, more than the %2 taken").arg(length).arg(m_maximumBody);
        return std::nullopt;
    }
    if (m_buffer.size() < at + length)
        return std::nullopt;
    Packet p;
    p.type = quint8(m_buffer[0]) >> 4;
    p.flags = quint8(m_buffer[0]) & 0x0f;
    p.body = m_buffer.mid(at, length);
    m_buffer.remove(0, at + length);
    return p;
}

std::optional<Delivery> parsePublish(const Packet &p, QString *error)
{
    Delivery d;
    d.qos = (p.flags >> 1) & 3;
    d.duplicate = p.flags & 0x08;
    d.retain = p.flags & 0x01;
    const QByteArray &b = p.body;
    qsizetype at = 0;
    if (d.qos == 3 || b.size() < 2) {
        *error = QStringLiteral("malformed PUBLISH");
        return std::nullopt;
    }
    const quint16 topicLength = u16At(b, 0);
    at = 2 + topicLength;
    if (at + (d.qos > 0 ? 2 : 0) > b.size()) {
        *error = QStringLiteral("malformed PUBLISH");
        return std::nullopt;
    }
    d.topic = b.mid(2, topicLength);
    if (d.qos > 0) {
        d.packetId = u16At(b, at);
        at += 2;
    }
    const int properties = varintAt(b, &at);
    if (properties < 0 || at + properties > b.size()) {
        *error = QStringLiteral("malformed PUBLISH");
        return std::nullopt;
    }
    d.payload = b.mid(at + properties);
    return d;
}

int subAckReason(const Packet &p)
{
    qsizetype at = 2; // after the packet id
    const int properties = varintAt(p.body, &at);
    if (properties < 0 || at + properties >= p.body.size())
        return -1;
    return quint8(p.body[at + properties]);
}

} // namespace mqttwire

using namespace mqttwire;

namespace {

QString reasonText(int code)
{
    switch (code) {
    case 0x85: return QStringLiteral("client id not valid");
    case 0x86: return QStringLiteral("bad user name or password");
    case 0x87: return QStringLiteral("not authorized");
    case 0x88: return QStringLiteral("server unavailable");
    case 0x8E: return QStringLiteral("session taken over");
    case 0x8F: return QStringLiteral("topic filter not valid");
    case 0x95: return QStringLiteral("packet too large");
    case 0x9E: return QStringLiteral("shared subscriptions not supported");
    default: return QStringLiteral("reason 0x%1").arg(code, 2, 16, QLatin1Char('0'));
    }
}

qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

} // namespace

MqttConsumer::MqttConsumer(MqttConsumerSettings settings) : m_settings(std::move(settings)) {}

MqttConsumer::~MqttConsumer()
{
    abort();
}

bool MqttConsumer::connected() const
{
    return m_socket && m_socket->state() == QAbstractSocket::ConnectedState;
}

bool MqttConsumer::send(const QByteArray &bytes, QString *why)
{
    if (!connected()) {
        *why = QStringLiteral("not connected");
        return false;
    }
    m_socket->write(bytes);
    while (m_socket->bytesToWrite() > 0)
        if (!m_socket->waitForBytesWritten(5000)) {
            *why = m_socket->errorString();
            return false;
        }
    m_lastSentMs = nowMs();
    return true;
}

bool MqttConsumer::readSome(int timeoutMs, QString *why)
{
    if (m_socket->bytesAvailable() == 0 && !m_socket->waitForReadyRead(timeoutMs)) {
        if (m_socket->state() != QAbstractSocket::ConnectedState) {
            *why = QStringLiteral("connection lost (%1)").arg(m_socket->errorString());
            return false;
        }
        return true; // nothing within the time
    }
    m_reader.append(m_socket->readAll());
    return true;
}

bool MqttConsumer::connectToBroker(int timeoutMs, QString *why)
{
    abort();
    m_socket = std::make_unique<QTcpSocket>();
    m_reader = PacketReader();
    m_pending.clear();
    m_socket->connectToHost(m_settings.host, quint16(m_settings.port));
    if (!m_socket->waitForConnected(timeoutMs)) {
        *why = m_socket->errorString();
        abort();
        return false;
    }
    if (!send(connectPacket(m_settings.connect), why))
        return false;
    const std::optional<Packet> ack = waitFor(ConnAck, timeoutMs, why);
    if (!ack || ack->body.size() < 2) {
        if (why->isEmpty())
            *why = QStringLiteral("no CONNACK");
        abort();
        return false;
    }
    if (quint8(ack->body[1]) != 0) {
        *why = QStringLiteral("refused: %1").arg(reasonText(quint8(ack->body[1])));
        abort();
        return false;
    }
    m_sessionPresent = ack->body[0] & 0x01;
    return true;
}

bool MqttConsumer::subscribe(const QByteArray &filter, int qos, int timeoutMs, QString *why)
{
    const quint16 id = m_nextPacketId++;
    if (m_nextPacketId == 0)
        m_nextPacketId = 1;
    if (!send(subscribePacket(id, filter, qos), why))
        return false;
    const std::optional<Packet> ack = waitFor(SubAck, timeoutMs, why);
    if (!ack)
        return false;
    const int code = subAckReason(*ack);
    if (code < 0) {
        *why = QStringLiteral("malformed SUBACK");
        return false;
    }
    if (code >= 0x80) {
        *why = QStringLiteral("subscription to %1 refused: %2").arg(QString::fromUtf8(filter), reasonText(code));
        return false;
    }
    return true;
}

// Packets until one of the type wanted; messages meanwhile are kept for receive().
std::optional<Packet> MqttConsumer::waitFor(quint8 type, int timeoutMs, QString *why)
{
    const qint64 deadline = nowMs() + timeoutMs;
    while (true) {
        while (std::optional<Packet> p = m_reader.next(why)) {
            if (p->type == type)
                return p;
            if (p->type == Publish) {
                std::optional<Delivery> d = parsePublish(*p, why);
                if (!d)
                    return std::nullopt;
                m_pending.append(*d);
            }
        }
        if (!why->isEmpty())
            return std::nullopt;
        const qint64 left = deadline - nowMs();
        if (left <= 0) {
            *why = QStringLiteral("no answer from the broker");
            return std::nullopt;
        }
        if (!readSome(int(left), why))
            return std::nullopt;
    }
}

bool MqttConsumer::receive(QList<Delivery> *out, int timeoutMs, QString *why)
{
    if (!connected()) {
        *why = QStringLiteral("not connected");
        return false;
    }
    out->append(m_pending);
    m_pending.clear();
    const qint64 deadline = nowMs() + timeoutMs;
    while (true) {
        while (std::optional<Packet> p = m_reader.next(why)) {
            if (p->type == Publish) {
                std::optional<Delivery> d = parsePublish(*p, why);
                if (!d)
                    return false;
                out->append(*d);
            } else if (p->type == Disconnect) {
                *why = QStringLiteral("the broker ended the connection (%1)")
                           .arg(reasonText(p->body.isEmpty() ? 0 : quint8(p->body[0])));
                return false;
            }
        }
        if (!why->isEmpty())
            return false;
        const int keepAliveMs = m_settings.connect.keepAliveSeconds * 1000;
        if (keepAliveMs > 0 && nowMs() - m_lastSentMs > keepAliveMs / 2 && !send(pingReqPacket(), why))
            return false;
        const qint64 left = deadline - nowMs();
        if (!out->isEmpty() || left <= 0)
            return true;
        if (!readSome(int(keepAliveMs > 0 ? qMin<qint64>(left, keepAliveMs / 2) : left), why))
            return false;
    }
}

bool MqttConsumer::acknowledge(const QList<quint16> &packetIds, QString *why)
{
    QByteArray acks;
    acks.reserve(packetIds.size() * 4);
    for (const quint16 id : packetIds)
        acks += pubAckPacket(id);
    return acks.isEmpty() || send(acks, why);
}

void MqttConsumer::disconnect()
{
    QString ignored;
    if (connected() && send(disconnectPacket(), &ignored))
        m_socket->disconnectFromHost();
    abort();
}

void MqttConsumer::abort()
{
    if (m_socket)
        m_socket->abort();
    m_socket.reset();
}

} // namespace vx
