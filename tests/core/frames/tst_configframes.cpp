#include "core/frames/ConfigFrames.h"

#include <QTest>

using namespace vx;

class tst_configframes : public QObject {
    Q_OBJECT
private slots:
    void readAddressNeverVaries();
    void addressChange_data();
    void addressChange();
    void parameterRead_data();
    void parameterRead();
    void parameterSet_data();
    void parameterSet();
    void rowTexts();
};

void tst_configframes::readAddressNeverVaries()
{
    QCOMPARE(readAddressFrame(), QByteArray::fromHex("FA2502000001" "99FE"));
}

void tst_configframes::addressChange_data()
{
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QString>("error");
    QTest::newRow("1 to 5") << "1" << "5" << QByteArray::fromHex("01060B0000054BED") << "";
    QTest::newRow("7.9 is sent as 7") << "1" << "7.9" << QByteArray::fromHex("01060B000007") << "";
    QTest::newRow("0 and 250 as typed") << "0" << "250" << QByteArray::fromHex("00060B0000FA") << "";
    QTest::newRow("old not numeric") << "x" << "5" << QByteArray() << "你输入的原设备地址格式有误!";
    QTest::newRow("both wrong: old first") << "" << "y" << QByteArray() << "你输入的原设备地址格式有误!";
    QTest::newRow("target not numeric") << "1" << "5a" << QByteArray() << "你输入的目标设备地址格式有误!";
    QTest::newRow("old 300") << "300" << "5" << QByteArray() << "你输入的原设备地址超出范围,正确的值应该为0-255!";
    QTest::newRow("target -1") << "1" << "-1" << QByteArray() << "你输入的目标设备地址超出范围,正确的值应该为0-255!";
    QTest::newRow("target -0.5 is -1") << "1" << "-0.5" << QByteArray() << "你输入的目标设备地址超出范围,正确的值应该为0-255!";
    QTest::newRow("target 255.9 is 255") << "1" << "255.9" << QByteArray::fromHex("01060B0000FF") << "";
}

void tst_configframes::addressChange()
{
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(QByteArray, frame);
    QFETCH(QString, error);
    const ConfigBuild built = buildAddressChange(from, to);
    QCOMPARE(built.error, error);
    QCOMPARE(built.frame.has_value(), error.isEmpty());
    if (built.frame)
        QCOMPARE(built.frame->left(frame.size()), frame);
}

void tst_configframes::parameterRead_data()
{
    QTest::addColumn<QString>("station");
    QTest::addColumn<int>("row");
    QTest::addColumn<QByteArray>("frame");
    QTest::newRow("device 2 row 0") << "2" << 0 << QByteArray::fromHex("0204010000013005");
    QTest::newRow("device 2 row 5") << "2" << 5 << QByteArray::fromHex("0204060000013171");
    QTest::newRow("address not a number: 0") << "abc" << 0 << QByteArray::fromHex("000401000001");
    QTest::newRow("address 300: 0") << "300" << 2 << QByteArray::fromHex("000403000001");
}

void tst_configframes::parameterRead()
{
    QFETCH(QString, station);
    QFETCH(int, row);
    QFETCH(QByteArray, frame);
    QCOMPARE(buildParameterRead(station, row).left(frame.size()), frame);
}

void tst_configframes::parameterSet_data()
{
    QTest::addColumn<QString>("station");
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QString>("error");
    QTest::newRow("row 1 to 22") << "2" << 1 << "22" << QByteArray::fromHex("020602000016098F") << "";
    QTest::newRow("2.5 sends 2") << "2" << 0 << "2.5" << QByteArray::fromHex("020601000002") << "";
    QTest::newRow("3.5 sends 4") << "2" << 0 << "3.5" << QByteArray::fromHex("020601000004") << "";
    QTest::newRow("65535") << "2" << 3 << "65535" << QByteArray::fromHex("02060400FFFF") << "";
    QTest::newRow("-0.4 sends 0") << "2" << 3 << "-0.4" << QByteArray::fromHex("020604000000") << "";
    QTest::newRow("65535.6 rounds out") << "2" << 1 << "65535.6" << QByteArray()
                                        << "你输入的休眠时间间隔格式有误,正确的值应该为0-65535!";
    QTest::newRow("-1") << "2" << 5 << "-1" << QByteArray() << "你输入的实际测点格式有误,正确的值应该为0-65535!";
    QTest::newRow("not a number") << "2" << 0 << "fast" << QByteArray() << "你输入的运行模式格式有误,正确的值应该为0-65535!";
    QTest::newRow("address 256") << "256" << 0 << "1" << QByteArray() << "你输入的设备地址格式有误,正确的值应该为0-255!";
    QTest::newRow("address empty") << "" << 0 << "1" << QByteArray() << "你输入的设备地址格式有误,正确的值应该为0-255!";
}

void tst_configframes::parameterSet()
{
    QFETCH(QString, station);
    QFETCH(int, row);
    QFETCH(QString, value);
    QFETCH(QByteArray, frame);
    QFETCH(QString, error);
    const ConfigBuild built = buildParameterSet(station, row, value);
    QCOMPARE(built.error, error);
    QCOMPARE(built.frame.has_value(), error.isEmpty());
    if (built.frame)
        QCOMPARE(built.frame->left(frame.size()), frame);
}

void tst_configframes::rowTexts()
{
    QCOMPARE(parameterRow(0).hint, QStringLiteral("值范围为：0 为主从模式 1为主动上传模式，2为间歇性主从模式 "));
    QCOMPARE(parameterRow(4).name, QStringLiteral("关闭无线模块断网延时时间"));
}

QTEST_APPLESS_MAIN(tst_configframes)
#include "tst_configframes.moc"
