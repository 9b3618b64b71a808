#include "core/frames/Measurement.h"

#include <QTest>

using namespace vx;

class tst_measurement : public QObject {
    Q_OBJECT
private slots:
    void decodingTable_data();
    void decodingTable();
    void registerCount_data();
    void registerCount();
    void decodeNeverReadsPastTheEnd();
    void dataLogRecordText();
};

void tst_measurement::decodingTable_data()
{
    QTest::addColumn<int>("raw");
    QTest::addColumn<QString>("text");
    QTest::newRow("2534") << 2534 << "25.34";
    QTest::newRow("5") << 5 << "0.05";
    QTest::newRow("0") << 0 << "0.00";
    QTest::newRow("20000, the limit") << 20000 << "200.00";
    QTest::newRow("20001, first negative") << 20001 << "-455.35";
    QTest::newRow("32767, still negative") << 32767 << "-327.69";
    QTest::newRow("65000") << 65000 << "-5.36";
    QTest::newRow("65534") << 65534 << "-0.02";
    QTest::newRow("65535, no reading") << 65535 << "655.35";
}

void tst_measurement::decodingTable()
{
    QFETCH(int, raw);
    QFETCH(QString, text);
    QCOMPARE(valueText(quint16(raw)), text);
}

void tst_measurement::registerCount_data()
{
    QTest::addColumn<int>("recLen");
    QTest::addColumn<int>("count");
    QTest::newRow("N = 1") << 7 << 1;
    QTest::newRow("N = 2") << 9 << 2;
    QTest::newRow("N = 18") << 41 << 18;
    QTest::newRow("N = 24") << 53 << 24;
    QTest::newRow("active upload") << 31 << 13;
    QTest::newRow("write acknowledgement length") << 6 << 0;
    QTest::newRow("zero") << 0 << 0;
}

void tst_measurement::registerCount()
{
    QFETCH(int, recLen);
    QFETCH(int, count);
    QCOMPARE(vx::registerCount(recLen), count);
}

void tst_measurement::decodeNeverReadsPastTheEnd()
{
    const QByteArray reply = QByteArray::fromHex("01030409C4FFFF1234");
    QCOMPARE(decodeRegisters(reply, 9), (QList<quint16>{0x09C4, 0xFFFF}));
    // RecLen promises more than arrived: only whole registers that are there.
    QCOMPARE(decodeRegisters(reply.left(6), 41), (QList<quint16>{0x09C4}));
    QCOMPARE(decodeRegisters(reply.left(3), 41), QList<quint16>{});
    // The byte count byte is not consulted.
    QByteArray lying = reply;
    lying[2] = char(0x30);
    QCOMPARE(decodeRegisters(lying, 9).size(), 2);
}

void tst_measurement::dataLogRecordText()
{
    const QDateTime when(QDate(2026, 12, 7), QTime(9, 5, 3));
    QCOMPARE(dataLogRecord(when, valueTexts({2500, 0xFFFF})),
             QStringLiteral("\"2026/12/7 09:05:03 :  25.00 655.35 \"\r\n"));
    QCOMPARE(dataLogRecord(when, {}), QStringLiteral("\"2026/12/7 09:05:03 :  \"\r\n"));
    // Two-digit months and days are not padded; the time always is.
    QCOMPARE(dataLogRecord(QDateTime(QDate(2027, 11, 30), QTime(23, 59, 59)), valueTexts({1})),
             QStringLiteral("\"2027/11/30 23:59:59 :  0.01 \"\r\n"));
}

QTEST_APPLESS_MAIN(tst_measurement)
#include "tst_measurement.moc"
