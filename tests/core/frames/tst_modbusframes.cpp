#include "core/frames/ModbusFrames.h"
#include "core/frames/Crc16.h"

#include <QTest>

using namespace vx;
using S = ReplyCheck::Status;

class tst_modbusframes : public QObject {
    Q_OBJECT
private slots:
    void requests_data();
    void requests();
    void replies_data();
    void replies();
};

void tst_modbusframes::requests_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<int>("replyLength");
    QTest::newRow("read 18 of device 1") << readRequest(1, 3, 0, 18) << QByteArray::fromHex("010300000012C5C7") << 41;
    QTest::newRow("read 2 of device 1") << readRequest(1, 3, 0, 2) << QByteArray::fromHex("010300000002C40B") << 9;
    QTest::newRow("input registers") << readRequest(2, 4, 0x0100, 1) << QByteArray::fromHex("020401000001") + QByteArray::fromHex("3005") << 7;
    QTest::newRow("count 0 has no reply") << readRequest(1, 3, 0, 0) << withCrc(QByteArray::fromHex("010300000000")) << 0;
    QTest::newRow("count 126 has no reply") << readRequest(1, 3, 0, 126) << withCrc(QByteArray::fromHex("01030000007E")) << 0;
}

void tst_modbusframes::requests()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, wire);
    QFETCH(int, replyLength);
    QCOMPARE(request, wire);
    QCOMPARE(expectedReplyLength(request), replyLength);
}

void tst_modbusframes::replies_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("received");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("length");
    const QByteArray read2 = readRequest(1, 3, 0, 2);
    const QByteArray good = withCrc(QByteArray::fromHex("01030409C4FFFF"));
    QByteArray corrupt = good;
    corrupt[4] = char(corrupt[4] ^ 1);
    QTest::newRow("good") << read2 << good << int(S::Good) << 9;
    QTest::newRow("good, more behind") << read2 << good + QByteArray::fromHex("0103") << int(S::Good) << 9;
    QTest::newRow("half") << read2 << good.left(5) << int(S::Incomplete) << 0;
    QTest::newRow("one byte") << read2 << good.left(1) << int(S::Incomplete) << 0;
    QTest::newRow("bad CRC") << read2 << corrupt << int(S::Corrupt) << 9;
    QTest::newRow("count disagrees") << read2 << withCrc(QByteArray::fromHex("01030609C4FFFF0000")) << int(S::Corrupt) << 3;
    QTest::newRow("exception") << read2 << withCrc(QByteArray::fromHex("018302")) << int(S::Exception) << 5;
    QTest::newRow("exception, bad CRC") << read2 << QByteArray::fromHex("0183020000") << int(S::Corrupt) << 5;
    QTest::newRow("exception, half") << read2 << QByteArray::fromHex("0183") << int(S::Incomplete) << 0;
    QTest::newRow("another device") << read2 << withCrc(QByteArray::fromHex("02030409C4FFFF")) << int(S::Foreign) << 0;
    QTest::newRow("another function") << read2 << withCrc(QByteArray::fromHex("01040409C4FFFF")) << int(S::Foreign) << 0;
    QTest::newRow("write echo") << withCrc(QByteArray::fromHex("010601000016")) << withCrc(QByteArray::fromHex("010601000016"))
                                << int(S::Good) << 8;
}

void tst_modbusframes::replies()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, received);
    QFETCH(int, status);
    QFETCH(int, length);
    const ReplyCheck check = checkReply(request, received);
    QCOMPARE(int(check.status), status);
    QCOMPARE(check.length, length);
    if (check.status == S::Good && quint8(request[1]) == 3)
        QCOMPARE(replyRegisters(received.left(check.length)), QList<quint16>({2500, 0xFFFF}));
    if (check.status == S::Exception)
        QCOMPARE(check.exceptionCode, quint8(2));
}

QTEST_APPLESS_MAIN(tst_modbusframes)
#include "tst_modbusframes.moc"
