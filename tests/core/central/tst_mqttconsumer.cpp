// The MQTT 5 consumer: its packets, and against a real broker a shared
// subscription whose unacknowledged messages come again after a crash.
#include "MqttBroker.h"
#include "core/central/MqttConsumer.h"

#include <QProcess>
#include <QSet>
#include <QtTest>

using namespace vx;
using namespace vx::mqttwire;

class tst_mqttconsumer : public QObject {
    Q_OBJECT
private slots:
    void packetsWeSend_data();
    void packetsWeSend();
    void readerCutsPackets_data();
    void readerCutsPackets();
    void sharedSubscriptionRedeliversWhatWasNotAcknowledged();
};

void tst_mqttconsumer::packetsWeSend_data()
{
    QTest::addColumn<QByteArray>("packet");
    QTest::addColumn<QByteArray>("hex");
    QTest::newRow("subscribe") << subscribePacket(1, "a/b", 1) << QByteArray("8209" "0001" "00" "0003612f62" "01");
    QTest::newRow("puback") << pubAckPacket(0x1234) << QByteArray("40021234");
    QTest::newRow("pingreq") << pingReqPacket() << QByteArray("c000");
    QTest::newRow("disconnect") << disconnectPacket() << QByteArray("e000");
    ConnectOptions o;
    o.clientId = "ing";
    o.keepAliveSeconds = 30;
    o.sessionExpirySeconds = 300;
    o.receiveMaximum = 5000;
    // MQTT, level 5, no clean start, keep-alive 30; session expiry 300, receive maximum 5000; the id
    QTest::newRow("connect") << connectPacket(o)
                             << QByteArray("1018" "00044d515454" "05" "00" "001e" "08" "110000012c" "211388" "0003696e67");
    o.cleanStart = true;
    o.user = "u";
    o.password = "p";
    QTest::newRow("connect, clean, user") << connectPacket(o)
                                          << QByteArray("101e" "00044d515454" "05" "c2" "001e" "08" "110000012c" "211388"
                                                        "0003696e67" "000175" "000170");
}

void tst_mqttconsumer::packetsWeSend()
{
    QFETCH(QByteArray, packet);
    QFETCH(QByteArray, hex);
    QCOMPARE(packet.toHex(), hex);
}

void tst_mqttconsumer::readerCutsPackets_data()
{
    QTest::addColumn<QByteArray>("hex");
    QTest::addColumn<int>("pieceSize");
    QTest::addColumn<QString>("expected"); // what came: "topic payload id dup" per message, or the error
    // PUBLISH QoS 1 "a/b" id 7 with one property (payload format 1), "hello"; then the same again with DUP
    const QByteArray one = "320f0003612f6200070201" "0168656c6c6f";
    const QByteArray dup = "3a0d0003612f62000800" "68656c6c6f";
    QTest::newRow("whole") << one + dup << 1000 << QStringLiteral("a/b hello 7 0|a/b hello 8 1|");
    QTest::newRow("a byte at a time") << one + dup << 1 << QStringLiteral("a/b hello 7 0|a/b hello 8 1|");
    QTest::newRow("QoS 0, no id") << QByteArray("30070003612f620078") << 3 << QStringLiteral("a/b x 0 0|");
    QTest::newRow("length of five bytes") << QByteArray("30ffffffff7f") << 1000 << QStringLiteral("malformed packet length");
    QTest::newRow("larger than taken") << QByteArray("3080808008") << 1000 << QStringLiteral("more than");
    QTest::newRow("topic past the end") << QByteArray("320400ff6162") << 1000 << QStringLiteral("malformed PUBLISH");
    QTest::newRow("QoS 3") << QByteArray("3603000161") << 1000 << QStringLiteral("malformed PUBLISH");
}

void tst_mqttconsumer::readerCutsPackets()
{
    QFETCH(QByteArray, hex);
    QFETCH(int, pieceSize);
    QFETCH(QString, expected);
    const QByteArray bytes = QByteArray::fromHex(hex);
    PacketReader reader(1 << 20);
    QString got, error;
    for (qsizetype at = 0; at < bytes.size() && error.isEmpty(); at += pieceSize) {
        reader.append(bytes.mid(at, pieceSize));
        while (const std::optional<Packet> p = reader.next(&error)) {
            const std::optional<Delivery> d = parsePublish(*p, &error);
            if (d)
                got += QStringLiteral("%1 %2 %3 %4|").arg(QString::fromUtf8(d->topic), QString::fromUtf8(d->payload))
                           .arg(d->packetId).arg(int(d->duplicate));
        }
    }
    if (!error.isEmpty())
        QVERIFY2(error.contains(expected), qPrintable(error));
    else
        QCOMPARE(got, expected);
}

namespace {

MqttConsumerSettings consumerSettings(int port, const QByteArray &id)
{
    MqttConsumerSettings s;
    s.port = port;
    s.connect.clientId = id;
    s.connect.sessionExpirySeconds = 300;
    return s;
}

} // namespace

void tst_mqttconsumer::sharedSubscriptionRedeliversWhatWasNotAcknowledged()
{
    MqttBroker broker;
    VX_REQUIRE_BROKER(broker);
    MqttConsumer a(consumerSettings(broker.port(), "ingest-a")), b(consumerSettings(broker.port(), "ingest-b"));
    QString why;
    for (MqttConsumer *c : {&a, &b}) {
        QVERIFY2(c->connectToBroker(5000, &why), qPrintable(why));
        QVERIFY2(c->subscribe("$share/ingest/vx/+/+", 1, 5000, &why), qPrintable(why));
    }
    constexpr int kMessages = 200;
    QByteArray lines;
    for (int i = 0; i < kMessages; ++i)
        lines += "m" + QByteArray::number(i) + '\n';
    QProcess pub;
    pub.start(QStringLiteral("mosquitto_pub"), {QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"), QString::number(broker.port()), QStringLiteral("-q"),
                                                QStringLiteral("1"), QStringLiteral("-t"), QStringLiteral("vx/depot/1"),
                                                QStringLiteral("-l")});
    QVERIFY(pub.waitForStarted());
    pub.write(lines);
    QVERIFY(pub.waitForBytesWritten(5000)); // no event loop runs here to send it
    pub.closeWriteChannel();

    // a takes its share and acknowledges nothing (as if its batch never
    // committed); b acknowledges what it takes. The broker needs no setting
    // for a: it keeps to the receive maximum a gave (65,535), not its own 20.
    QSet<QByteArray> takenByA, takenByB;
    QElapsedTimer clock;
    clock.start();
    while (takenByA.size() + takenByB.size() < kMessages && clock.elapsed() < 20000) {
        QList<Delivery> got;
        QVERIFY2(a.receive(&got, 20, &why), qPrintable(why));
        for (const Delivery &d : got)
            takenByA.insert(d.payload);
        got.clear();
        QVERIFY2(b.receive(&got, 20, &why), qPrintable(why));
        QList<quint16> ids;
        for (const Delivery &d : got) {
            takenByB.insert(d.payload);
            ids.append(d.packetId);
        }
        QVERIFY2(b.acknowledge(ids, &why), qPrintable(why));
    }
    QVERIFY(pub.waitForFinished(10000));
    QCOMPARE(takenByA.size() + takenByB.size(), kMessages);
    QVERIFY2(!takenByA.isEmpty() && !takenByB.isEmpty(), "the shared subscription gave both a share");
    QVERIFY(!takenByA.intersects(takenByB));

    // a dies; back with the same id, its session gives it the same messages again.
    a.abort();
    MqttConsumer again(consumerSettings(broker.port(), "ingest-a"));
    QVERIFY2(again.connectToBroker(5000, &why), qPrintable(why));
    QVERIFY(again.sessionPresent());
    QSet<QByteArray> redelivered;
    QList<quint16> ids;
    clock.restart();
    while (redelivered.size() < takenByA.size() && clock.elapsed() < 10000) {
        QList<Delivery> got;
        QVERIFY2(again.receive(&got, 50, &why), qPrintable(why));
        for (const Delivery &d : got) {
            redelivered.insert(d.payload);
            ids.append(d.packetId);
            QVERIFY(d.duplicate);
        }
    }
    QCOMPARE(redelivered, takenByA);
    QVERIFY2(again.acknowledge(ids, &why), qPrintable(why));
    again.disconnect();
}

QTEST_GUILESS_MAIN(tst_mqttconsumer)
#include "tst_mqttconsumer.moc"
