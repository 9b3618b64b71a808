#include "core/frames/Crc16.h"
#include "core/frames/SensorFrames.h"
#include "core/sensors/SensorPanes.h"

#include <QTest>

using namespace vx;

namespace {
const std::array<QString, 8> kBoxes = {"28", "FF", "4A", "3B", "05", "00", "00", "9C"};

QByteArray serialReply(quint8 address, const QList<QByteArray> &serials)
{
    QByteArray r;
    r.append(char(address)).append(char(0x22)).append(char(0x02));
    for (const QByteArray &s : serials)
        r += s;
    return withCrc(r);
}
} // namespace

class tst_sensorframes : public QObject {
    Q_OBJECT
private slots:
    void frames_data();
    void frames();
    void refusals_data();
    void refusals();
    void hexBytes_data();
    void hexBytes();
    void channelCheck_data();
    void channelCheck();
    void readPanes();
    void readPanesOfAShortReply();
    void searchPaneLines();
    void writeLines();
};

void tst_sensorframes::frames_data()
{
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("read: device 2, channel 1, 18")
        << *buildSerialRead("2", "01", "18").wire << withCrc(QByteArray::fromHex("022202010012"));
    QTest::newRow("read: leading numbers, whole parts")
        << *buildSerialRead("2.9x", "abc", "3.7").wire << withCrc(QByteArray::fromHex("022202000003"));
    QTest::newRow("search: 9 bytes, trailing 0")
        << *buildSearch("2", "1", "4").wire << withCrc(QByteArray::fromHex("02060C010104")) + QByteArray(1, '\0');
    QTest::newRow("search: rounded half to even")
        << *buildSearch("2.5", "1.5", "3.5").wire << withCrc(QByteArray::fromHex("02060C020104")) + QByteArray(1, '\0');
    QTest::newRow("write: 15 bytes")
        << *buildSerialWrite("2", "1", "1", kBoxes).wire
        << withCrc(QByteArray::fromHex("02220C010128FF4A3B0500009C"));
    QTest::newRow("read-in") << *buildReadIn("2", "1", "1").wire << withCrc(QByteArray::fromHex("022201010104"));
    QTest::newRow("read-in: position 25") << *buildReadIn("2", "3", "25").wire
                                          << withCrc(QByteArray::fromHex("022201031904"));
}

void tst_sensorframes::frames()
{
    QFETCH(QByteArray, wire);
    QFETCH(QByteArray, expected);
    QCOMPARE(wire.toHex(' '), expected.toHex(' '));
}

void tst_sensorframes::refusals_data()
{
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("expected");
    QTest::newRow("read: address 256") << buildSerialRead("256", "1", "1").error
                                       << "你输入的设备地址超出范围,正确的值应该为0-255!";
    QTest::newRow("read: channel -1") << buildSerialRead("2", "-1", "1").error
                                      << "你输入的通道号超出范围,正确的值应该为0-255!";
    QTest::newRow("read: count 300") << buildSerialRead("2", "1", "300").error
                                     << "你输入的读取总数超出范围,正确的值应该为0-255!";
    QTest::newRow("search: count not a number") << buildSearch("2", "1", "x").error
                                                << "你输入的通道数超出范围,正确的值应该为0-255!";
    QTest::newRow("search: address 255.5 rounds to 256") << buildSearch("255.5", "1", "1").error
                                                         << "你输入的设备地址超出范围,正确的值应该为0-255!";
    QTest::newRow("write: position 256") << buildSerialWrite("2", "1", "256", kBoxes).error
                                         << "你输入的传感器序号超出范围,正确的值应该为0-255!";
    QTest::newRow("read-in: position -3") << buildReadIn("2", "1", "-3").error
                                          << "你输入的位置编号超出范围,正确的值应该为0-255!";
    auto boxes = kBoxes;
    boxes[3] = QStringLiteral("G1");
    QTest::newRow("write: box 4 not hex") << buildSerialWrite("2", "1", "1", boxes).error
                                          << "你输入的序列号第4个字节格式有误,正确的值应该为00-FF!";
}

void tst_sensorframes::refusals()
{
    QFETCH(QString, error);
    QFETCH(QString, expected);
    QCOMPARE(error, expected);
}

void tst_sensorframes::hexBytes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("value"); // -1: not a hex byte
    QTest::newRow("28") << "28" << 0x28;
    QTest::newRow("lower case") << "9c" << 0x9C;
    QTest::newRow("one digit") << "0" << 0;
    QTest::newRow("blanks") << " FF " << 0xFF;
    QTest::newRow("three digits") << "100" << -1;
    QTest::newRow("empty") << "" << -1;
    QTest::newRow("not hex") << "G" << -1;
    QTest::newRow("signed") << "+1" << -1;
}

void tst_sensorframes::hexBytes()
{
    QFETCH(QString, text);
    QFETCH(int, value);
    const auto b = hexByte(text);
    QCOMPARE(b ? int(*b) : -1, value);
}

void tst_sensorframes::channelCheck_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("names");
    QTest::newRow("1") << "1" << true;
    QTest::newRow("0") << "0" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("letters") << "ch1" << false;
    QTest::newRow("0.7") << "0.7" << false;
    QTest::newRow("-1") << "-1" << true;
}

void tst_sensorframes::channelCheck()
{
    QFETCH(QString, text);
    QFETCH(bool, names);
    QCOMPARE(namesAChannel(text), names);
}

void tst_sensorframes::readPanes()
{
    const QByteArray good = QByteArray::fromHex("28FF4A3B0500009C");
    const QByteArray other = QByteArray::fromHex("10FF4A3B0500009C");
    const SerialReadPanes panes = serialReadPanes("2", "1", "03", serialReply(2, {good, other, good}));
    QVERIFY(panes.complete);
    const QString header = QStringLiteral("02#设备,通道01下：");
    QCOMPARE(header.size(), 12);
    QCOMPARE(panes.sn, header + QStringLiteral("\r\n03\r\n\"28 FF 4A 3B 05 00 00 9C\"\r\n"
                                               "\"10 FF 4A 3B 05 00 00 9C\"  [无效]\r\n\"28 FF 4A 3B 05 00 00 9C\"\r\n"));
    QCOMPARE(panes.showId, QStringLiteral("  \r\n\r\n01\r\n02\r\n03\r\n"));
    QCOMPARE(panes.found, QStringList({"28 FF 4A 3B 05 00 00 9C", "10 FF 4A 3B 05 00 00 9C", "28 FF 4A 3B 05 00 00 9C"}));

    const SerialReadPanes none = serialReadPanes("2", "1", "0", serialReply(2, {}));
    QVERIFY(none.complete);
    QVERIFY(none.found.isEmpty());
    QCOMPARE(none.showId, QStringLiteral("  \r\n\r\n"));
}

void tst_sensorframes::readPanesOfAShortReply()
{
    // The count was raised after sending: two entries fit, the third does not.
    const QByteArray good = QByteArray::fromHex("28FF4A3B0500009C");
    const SerialReadPanes panes = serialReadPanes("2", "1", "99999999", serialReply(2, {good, good}));
    QVERIFY(!panes.complete);
    QCOMPARE(panes.found.size(), 2);
    QCOMPARE(panes.showId.count(QStringLiteral("\r\n")), 5);
}

void tst_sensorframes::searchPaneLines()
{
    const QByteArray reply = withCrc(QByteArray::fromHex("02060C03001205"));
    QCOMPARE(searchPane("2", "1", "4", reply),
             QStringLiteral("02#设备下：\r\n通道1 发现传感器个数为：03\r\n通道2 发现传感器个数为：00\r\n"
                            "通道3 发现传感器个数为：18\r\n通道4 发现传感器个数为：05\r\n"));
    // More channels than count bytes: the missing ones get no line (the CRC
    // bytes stand where counts would).
    QCOMPARE(searchPane("2", "7", "1000000000", reply).count(QStringLiteral("\r\n")), 1 + 6);
    QCOMPARE(searchPane("2", "1", "x", reply), QStringLiteral("02#设备下：\r\n"));
    QCOMPARE(QStringLiteral("02#设备下：").size(), 7);
}

void tst_sensorframes::writeLines()
{
    QCOMPARE(writeResultLine("1", "5", true), QStringLiteral("导入到 01通道 05#位置 [成功]\r\n"));
    QCOMPARE(writeResultLine("01", "12", false), QStringLiteral("导入到 01通道 12#位置 [失败]\r\n"));
}

QTEST_APPLESS_MAIN(tst_sensorframes)
#include "tst_sensorframes.moc"
