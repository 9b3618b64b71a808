#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>
#include <optional>

class QTcpSocket;

namespace vx {

// MQTT 5 packets, as far as a consumer needs them. Our own because a
// consumer that stores what it receives must acknowledge a message only once
// it is committed: libmosquitto sends PUBACK before it hands a message over,
// so a consumer killed between the two loses it.
namespace mqttwire {

enum PacketType : quint8 {
    Connect = 1, ConnAck = 2, Publish = 3, PubAck = 4, Subscribe = 8, SubAck = 9,
    PingReq = 12, PingResp = 13, Disconnect = 14
};

struct ConnectOptions {
    QByteArray clientId, user, password;
    int keepAliveSeconds = 30;
    bool cleanStart = false;
    quint32 sessionExpirySeconds = 86400; // the broker keeps the session (and what is unacknowledged) this long
    quint16 receiveMaximum = 65535;       // unacknowledged messages the broker may send at once
    quint32 maximumPacketSize = 0;        // 0: no limit said
};

QByteArray connectPacket(const ConnectOptions &options);
QByteArray subscribePacket(quint16 packetId, const QByteArray &filter, int qos);
QByteArray pubAckPacket(quint16 packetId);
QByteArray pingReqPacket();
QByteArray disconnectPacket();

struct Packet {
    quint8 type = 0, flags = 0;
    QByteArray body;
};

// Cuts packets out of a byte stream however it arrives; a packet longer than
// the limit or a malformed length is an error (the connection is then unusable).
class PacketReader {
public:
    explicit PacketReader(int maximumBody = 16 << 20) : m_maximumBody(maximumBody) {}
    void append(const QByteArray &bytes) { m_buffer += bytes; }
    // The next whole packet, nothing while it is incomplete, or nothing and *error.
    std::optional<Packet> next(QString *error);

private:
    QByteArray m_buffer;
    int m_maximumBody;
};

struct Delivery {
    QByteArray topic, payload;
    quint16 packetId = 0; // 0 at QoS 0
    int qos = 0;
    bool duplicate = false;
    bool retain = false;
};

std::optional<Delivery> parsePublish(const Packet &packet, QString *error);
// The first reason code of a SUBACK (below 0x80: granted), -1 when malformed.
int subAckReason(const Packet &packet);

} // namespace mqttwire

struct MqttConsumerSettings {
    QString host = QStringLiteral("127.0.0.1");
    int port = 1883;
    mqttwire::ConnectOptions connect;
};

// A blocking MQTT 5 consumer on the caller's thread: connect, subscribe
// (shared subscriptions included), receive, and acknowledge when the caller
// says. Unacknowledged messages of a persistent session come again after a
// reconnection, from the broker.
class MqttConsumer {
public:
    explicit MqttConsumer(MqttConsumerSettings settings);
    ~MqttConsumer();
    MqttConsumer(const MqttConsumer &) = delete;
    MqttConsumer &operator=(const MqttConsumer &) = delete;

    bool connectToBroker(int timeoutMs, QString *why);
    bool sessionPresent() const { return m_sessionPresent; }
    bool subscribe(const QByteArray &filter, int qos, int timeoutMs, QString *why);
    // Waits up to timeoutMs for messages and appends what came; false when the
    // connection is lost or broken (*why). Pings the broker as keep-alive wants.
    bool receive(QList<mqttwire::Delivery> *out, int timeoutMs, QString *why);
    bool acknowledge(const QList<quint16> &packetIds, QString *why);
    // A normal end (DISCONNECT), or a drop with nothing said, as a crash would.
    void disconnect();
    void abort();
    bool connected() const;

private:
    bool send(const QByteArray &bytes, QString *why);
    bool readSome(int timeoutMs, QString *why);
    std::optional<mqttwire::Packet> waitFor(quint8 type, int timeoutMs, QString *why);

    MqttConsumerSettings m_settings;
    std::unique_ptr<QTcpSocket> m_socket;
    mqttwire::PacketReader m_reader;
    QList<mqttwire::Delivery> m_pending; // came while waiting for an acknowledgement of ours
    bool m_sessionPresent = false;
    quint16 m_nextPacketId = 1;
    qint64 m_lastSentMs = 0;
};

} // namespace vx
