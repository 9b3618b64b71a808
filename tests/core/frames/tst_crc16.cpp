#include "core/frames/Crc16.h"

#include <QTest>

using namespace vx;

class tst_crc16 : public QObject {
    Q_OBJECT
private slots:
    void vectors_data();
    void vectors();
    void coversOnlyUpToJ();
    void withCrcAppendsLowByteFirst();
    void validity_data();
    void validity();
};

void tst_crc16::vectors_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("wire"); // HiByte then LoByte, as sent
    QTest::newRow("check 123456789") << QByteArray("123456789") << QByteArray::fromHex("374B");
    QTest::newRow("read 18 regs") << QByteArray::fromHex("010300000012") << QByteArray::fromHex("C5C7");
    QTest::newRow("address read") << QByteArray::fromHex("FA2502000001") << QByteArray::fromHex("99FE");
    QTest::newRow("address change 1->5") << QByteArray::fromHex("01060B000005") << QByteArray::fromHex("4BED");
    QTest::newRow("param read row 0") << QByteArray::fromHex("020401000001") << QByteArray::fromHex("3005");
    QTest::newRow("param read row 5") << QByteArray::fromHex("020406000001") << QByteArray::fromHex("3171");
    QTest::newRow("param set row 1 = 22") << QByteArray::fromHex("020602000016") << QByteArray::fromHex("098F");
    QTest::newRow("empty range") << QByteArray() << QByteArray::fromHex("FFFF");
}

void tst_crc16::vectors()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, wire);
    const CrcBytes crc = Crc16(bytes, int(bytes.size()) - 1);
    QCOMPARE(crc.HiByte, quint8(wire[0]));
    QCOMPARE(crc.LoByte, quint8(wire[1]));
}

void tst_crc16::coversOnlyUpToJ()
{
    // A buffer with room for the CRC: only bytes 0..j count.
    const QByteArray buffer = QByteArray::fromHex("0103000000120000");
    const CrcBytes crc = Crc16(buffer, 5);
    QCOMPARE(crc.HiByte, quint8(0xC5));
    QCOMPARE(crc.LoByte, quint8(0xC7));
    const CrcBytes none = Crc16(buffer, -1);
    QCOMPARE(none.HiByte, quint8(0xFF));
    QCOMPARE(none.LoByte, quint8(0xFF));
    // j past the end covers what is there instead of reading beyond it.
    const CrcBytes clipped = Crc16(QByteArray::fromHex("010300000012"), 40);
    QCOMPARE(clipped.HiByte, quint8(0xC5));
}

void tst_crc16::withCrcAppendsLowByteFirst()
{
    QCOMPARE(withCrc(QByteArray::fromHex("010300000012")), QByteArray::fromHex("010300000012C5C7"));
}

void tst_crc16::validity_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<bool>("valid");
    QTest::newRow("good") << QByteArray::fromHex("010300000012C5C7") << true;
    QTest::newRow("crc swapped") << QByteArray::fromHex("010300000012C7C5") << false;
    QTest::newRow("data bit flipped") << QByteArray::fromHex("010300000013C5C7") << false;
    QTest::newRow("too short") << QByteArray::fromHex("FFFF") << false;
}

void tst_crc16::validity()
{
    QFETCH(QByteArray, frame);
    QFETCH(bool, valid);
    QCOMPARE(hasValidCrc(frame), valid);
}

QTEST_APPLESS_MAIN(tst_crc16)
#include "tst_crc16.moc"
