#include "core/frames/HexText.h"

#include <QTest>

using namespace vx;

class tst_hextext : public QObject {
    Q_OBJECT
private slots:
    void formatHex_data();
    void formatHex();
    void sentAndReceivedText_data();
    void sentAndReceivedText();
};

void tst_hextext::formatHex_data()
{
    QTest::addColumn<int>("byte");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << 0 << "00";
    QTest::newRow("10") << 10 << "0A";
    QTest::newRow("15") << 15 << "0F";
    QTest::newRow("16") << 16 << "10";
    QTest::newRow("171") << 171 << "AB";
    QTest::newRow("255") << 255 << "FF";
}

void tst_hextext::formatHex()
{
    QFETCH(int, byte);
    QFETCH(QString, text);
    QCOMPARE(FormatHex(quint8(byte)), text);
}

void tst_hextext::sentAndReceivedText_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("sent");     // HexText: pair then space
    QTest::addColumn<QString>("received"); // RecHex: space then pair
    QTest::newRow("query frame") << QByteArray::fromHex("010300000012C5C7")
                                 << "01 03 00 00 00 12 C5 C7 " << " 01 03 00 00 00 12 C5 C7";
    QTest::newRow("four bytes") << QByteArray::fromHex("010F10FF") << "01 0F 10 FF " << " 01 0F 10 FF";
    QTest::newRow("none") << QByteArray() << "" << "";
}

void tst_hextext::sentAndReceivedText()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, sent);
    QFETCH(QString, received);
    QCOMPARE(HexText(bytes), sent);
    QCOMPARE(RecHex(bytes), received);
    QCOMPARE(HexText(bytes).size(), bytes.size() * 3);
    QCOMPARE(RecHex(bytes).size(), bytes.size() * 3);
}

QTEST_APPLESS_MAIN(tst_hextext)
#include "tst_hextext.moc"
