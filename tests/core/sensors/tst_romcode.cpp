// 1-Wire ROM codes checked on their own: CRC-8, family, "no sensor", and lists with duplicates.
#include "core/sensors/RomCode.h"

#include <QtTest>

using namespace vx;

class tst_romcode : public QObject {
    Q_OBJECT
private slots:
    void publishedExample();
    void codes_data();
    void codes();
    void everySingleBitErrorIsCaught();
    void lists_data();
    void lists();
};

// The worked example of the 1-Wire ROM documentation (Maxim application note 27):
// family 02, serial 00 00 00 01 B8 1C, CRC A2.
void tst_romcode::publishedExample()
{
    QCOMPARE(dallasCrc8(QByteArray::fromHex("021CB801000000")), quint8(0xA2));
    QCOMPARE(dallasCrc8(QByteArray::fromHex("021CB801000000A2")), quint8(0)); // the whole code checks to zero
    QCOMPARE(checkRomCode(QByteArray::fromHex("021CB801000000A2")).verdict, RomVerdict::UnknownFamily);
}

void tst_romcode::codes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("verdict");
    QTest::addColumn<QString>("family");
    QTest::addColumn<QString>("reason");
    const int good = int(RomVerdict::Good), bad = int(RomVerdict::BadCrc), unknown = int(RomVerdict::UnknownFamily),
              none = int(RomVerdict::NoSensor);
    QTest::newRow("DS18B20") << "28 FF 4A 3B 05 00 00 F5" << good << "DS18B20" << "";
    QTest::newRow("DS18S20") << "10 FF 4A 3B 05 00 00 " + QStringLiteral("%1").arg(dallasCrc8(QByteArray::fromHex("10FF4A3B050000")), 2, 16, QLatin1Char('0')).toUpper()
                             << good << "DS18S20" << "";
    QTest::newRow("DS1822") << "22 01 02 03 04 05 06 " + QStringLiteral("%1").arg(dallasCrc8(QByteArray::fromHex("22010203040506")), 2, 16, QLatin1Char('0')).toUpper()
                            << good << "DS1822" << "";
    QTest::newRow("DS1825") << "3B 01 02 03 04 05 06 " + QStringLiteral("%1").arg(dallasCrc8(QByteArray::fromHex("3B010203040506")), 2, 16, QLatin1Char('0')).toUpper()
                            << good << "DS1825/MAX31850" << "";
    QTest::newRow("wrong CRC") << "28 FF 4A 3B 05 00 00 9C" << bad << "DS18B20" << "CRC-8 校验错误：末字节 9C，应为 F5";
    QTest::newRow("unknown family, CRC right") << "02 1C B8 01 00 00 00 A2" << unknown << "unknown family"
                                               << "未知器件族 02";
    QTest::newRow("all zero") << "00 00 00 00 00 00 00 00" << none << "unknown family" << "无传感器（全 00）";
    QTest::newRow("all FF") << "FF FF FF FF FF FF FF FF" << none << "unknown family" << "无传感器（全 FF）";
}

void tst_romcode::codes()
{
    QFETCH(QString, text);
    QFETCH(int, verdict);
    QFETCH(QString, family);
    QFETCH(QString, reason);
    const auto code = romCodeOfText(text);
    QVERIFY(code);
    const RomCheck check = checkRomCode(*code);
    QCOMPARE(int(check.verdict), verdict);
    QCOMPARE(check.family, family);
    QCOMPARE(check.reason, reason);
}

void tst_romcode::everySingleBitErrorIsCaught()
{
    const QByteArray good = QByteArray::fromHex("28FF4A3B050000F5");
    QCOMPARE(checkRomCode(good).verdict, RomVerdict::Good);
    for (int bit = 0; bit < 64; ++bit) {
        QByteArray misread = good;
        misread[bit / 8] = char(quint8(misread[bit / 8]) ^ (1 << (bit % 8)));
        QVERIFY2(checkRomCode(misread).verdict != RomVerdict::Good, qPrintable(QString::number(bit)));
        QCOMPARE(checkRomCode(misread).verdict, RomVerdict::BadCrc);
    }
}

void tst_romcode::lists_data()
{
    QTest::addColumn<QStringList>("codes");
    QTest::addColumn<QString>("summary");
    QTest::addColumn<QString>("problems");
    const QString a = QStringLiteral("28 FF 4A 3B 05 00 00 F5");
    const QString b = QStringLiteral("28 FF 4A 3B 01 00 00 ") + QStringLiteral("%1").arg(dallasCrc8(QByteArray::fromHex("28FF4A3B010000")), 2, 16, QLatin1Char('0')).toUpper();
    QTest::newRow("all good") << QStringList{a, b} << QStringLiteral("良好 2，CRC 错误 0，未知器件族 0，重复 0") << QString();
    QTest::newRow("a duplicate and a bad code")
        << QStringList{a, QStringLiteral("28 FF 4A 3B 05 00 00 9C"), b, a}
        << QStringLiteral("良好 2，CRC 错误 1，未知器件族 0，重复 1")
        << QStringLiteral("位置02：CRC-8 校验错误：末字节 9C，应为 F5\n位置04：重复：与位置01相同");
    QTest::newRow("empty positions are not duplicates")
        << QStringList{QStringLiteral("00 00 00 00 00 00 00 00"), QStringLiteral("00 00 00 00 00 00 00 00")}
        << QStringLiteral("良好 0，CRC 错误 0，未知器件族 0，重复 0，无传感器 2")
        << QStringLiteral("位置01：无传感器（全 00）\n位置02：无传感器（全 00）");
}

void tst_romcode::lists()
{
    QFETCH(QStringList, codes);
    QFETCH(QString, summary);
    QFETCH(QString, problems);
    const CodeListCheck check = checkCodeList(codes);
    QCOMPARE(check.summary(), summary);
    QCOMPARE(check.problems(), problems);
}

QTEST_GUILESS_MAIN(tst_romcode)
#include "tst_romcode.moc"
