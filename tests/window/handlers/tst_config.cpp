#include "TestWindow.h"
#include "window/handlers/ConfigController.h"

#include <QPushButton>

using namespace vx;
using namespace vx::test;

class tst_config : public QObject {
    Q_OBJECT
private slots:
    void initialTexts();
    void readAddressSendsTheFixedFrame();
    void addressReply_data();
    void addressReply();
    void changeAddress();
    void changeRefusedLeavesStateAlone();
    void closedPortReadVersusSet();
    void parameterReadAndReply_data();
    void parameterReadAndReply();
    void secondReadTakesTheReply();
    void parameterSetRoundsHalfToEven();
    void gateStopsForeignReplies();
};

void tst_config::initialTexts()
{
    TestWindow t;
    QCOMPARE(t.text(QStringLiteral("txtSetID_0")), QStringLiteral("1"));
    QCOMPARE(t.text(QStringLiteral("txtSetID_1")), QStringLiteral("1"));
    for (int r = 0; r < 6; ++r) {
        QCOMPARE(t.text(QStringLiteral("txtSetValues_%1").arg(r)), QStringLiteral("0"));
        QCOMPARE(t.find<QPushButton>(QStringLiteral("cmdReadSet_%1").arg(r))->text(), QStringLiteral("读取"));
        QCOMPARE(t.find<QPushButton>(QStringLiteral("cmdSetV_%1").arg(r))->text(), QStringLiteral("设置"));
    }
    QCOMPARE(t.find<QPushButton>(QStringLiteral("cmdChangeID"))->text(), QStringLiteral("执行"));
    QCOMPARE(t.find<QPushButton>(QStringLiteral("cmdReadAdd"))->text(), QStringLiteral("读地址"));
    QStringList labels;
    for (const QLabel *l : t.w().findChildren<QLabel *>())
        labels << l->text();
    for (const char *text : {"将地址       改为", "地址值范围为：1-245", "运行模式", "实际测点",
                             "值范围为：1-36,主动上传时回复的测点总数"})
        QVERIFY2(labels.contains(QString::fromUtf8(text)), text);
}

void tst_config::readAddressSendsTheFixedFrame()
{
    TestWindow t;
    t.setText(QStringLiteral("txtStationID"), QStringLiteral("9"));
    t.setText(QStringLiteral("txtSetID_0"), QStringLiteral("abc"));
    t.click(QStringLiteral("cmdReadAdd"));
    QCOMPARE(t.written(), QByteArray::fromHex("FA250200000199FE"));
    QCOMPARE(t.text(QStringLiteral("txtCommand")), QStringLiteral("FA 25 02 00 00 01 99 FE "));
    QCOMPARE(t.form().CmdKind, Kind::ReadAddress);
    QCOMPARE(t.form().RecLen, qint16(7));
    QCOMPARE(t.port().threshold(), 6);
    QCOMPARE(t.w().indicator(), Indicator::Connected);
    QVERIFY(t.dialogs().boxes.isEmpty());
}

void tst_config::addressReply_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("address");
    QTest::newRow("address 45") << QByteArray::fromHex("0125022D00AABB") << "45";
    QTest::newRow("six bytes are enough") << QByteArray::fromHex("012502070000") << "7";
    QTest::newRow("three bytes: boxes kept") << QByteArray::fromHex("012502") << "";
}

void tst_config::addressReply()
{
    QFETCH(QByteArray, reply);
    QFETCH(QString, address);
    TestWindow t;
    t.setText(QStringLiteral("txtStationID"), QStringLiteral("3"));
    t.click(QStringLiteral("cmdReadAdd"));
    t.port().setThreshold(int(reply.size())); // the short reply: fire on what comes
    t.receive(reply);
    QCOMPARE(t.text(QStringLiteral("txtSetID_0")), address.isEmpty() ? QStringLiteral("1") : address);
    QCOMPARE(t.text(QStringLiteral("txtStationID")), address.isEmpty() ? QStringLiteral("3") : address);
    QCOMPARE(t.form().CmdKind, Kind::Measurement);
    QCOMPARE(t.text(QStringLiteral("txtState")), RecHex(reply));
}

void tst_config::changeAddress()
{
    TestWindow t;
    t.setText(QStringLiteral("txtSetID_0"), QStringLiteral("1"));
    t.setText(QStringLiteral("txtSetID_1"), QStringLiteral("5"));
    t.click(QStringLiteral("cmdChangeID"));
    QCOMPARE(t.written(), QByteArray::fromHex("01060B0000054BED"));
    QCOMPARE(t.text(QStringLiteral("txtCommand")), QStringLiteral("01 06 0B 00 00 05 4B ED "));
    QCOMPARE(t.form().CmdKind, Kind::WriteAck);
    QCOMPARE(t.form().RecLen, qint16(6));
    QCOMPARE(t.port().threshold(), 6);
    // The acknowledgement is only shown; no message either way.
    t.receive(QByteArray::fromHex("01060B000005"));
    QCOMPARE(t.text(QStringLiteral("txtState")), QStringLiteral(" 01 06 0B 00 00 05"));
    QCOMPARE(t.form().CmdKind, Kind::Measurement);
    QVERIFY(t.dialogs().boxes.isEmpty());
}

void tst_config::changeRefusedLeavesStateAlone()
{
    TestWindow t;
    t.setText(QStringLiteral("txtDataLength"), QStringLiteral("1"));
    t.click(QStringLiteral("comDoOnce"));
    t.w().findChild<QLabel *>(QStringLiteral("txtState"))->setText(QStringLiteral("earlier reply"));
    const QString command = t.text(QStringLiteral("txtCommand"));
    const QString hexText = t.form().HexText;
    t.setText(QStringLiteral("txtSetID_0"), QStringLiteral("300"));
    t.click(QStringLiteral("cmdChangeID"));
    QCOMPARE(t.dialogs().texts(), QStringList{QStringLiteral("你输入的原设备地址超出范围,正确的值应该为0-255!")});
    QCOMPARE(t.dialogs().boxes.first().title, t.dialogs().appTitle());
    QCOMPARE(t.port().written.size(), 1);
    QCOMPARE(t.form().CmdKind, Kind::Measurement);
    QCOMPARE(t.form().RecLen, qint16(7));
    QCOMPARE(t.form().HexText, hexText);
    QCOMPARE(t.text(QStringLiteral("txtCommand")), command);
    QCOMPARE(t.text(QStringLiteral("txtState")), QStringLiteral("earlier reply"));
}

void tst_config::closedPortReadVersusSet()
{
    TestWindow t;
    t.port().close();
    t.setText(QStringLiteral("txtStationID"), QStringLiteral("2"));
    t.click(QStringLiteral("cmdReadSet_3"));
    QCOMPARE(t.dialogs().texts(), QStringList{QStringLiteral("打开串口出错，请确定串口是否已被占用")});
    QCOMPARE(t.form().StatFlag, qint16(0));
    QCOMPARE(t.form().SetIndex, 3);
    QCOMPARE(t.form().CmdKind, Kind::None);
    QCOMPARE(t.form().RecLen, qint16(31));

    t.click(QStringLiteral("cmdSetV_1")); // silent: frame shown, nothing written
    QCOMPARE(t.dialogs().boxes.size(), 1);
    QCOMPARE(t.form().CmdKind, Kind::WriteAck);
    QCOMPARE(t.form().RecLen, qint16(6));
    QCOMPARE(t.text(QStringLiteral("txtCommand")), HexText(withCrc(QByteArray::fromHex("020602000000"))));
    QCOMPARE(t.w().indicator(), Indicator::NotConnected);

    t.click(QStringLiteral("cmdReadAdd"));
    QCOMPARE(t.text(QStringLiteral("txtCommand")), QStringLiteral("FA 25 02 00 00 01 99 FE "));
    QCOMPARE(t.form().CmdKind, Kind::ReadAddress);
    QVERIFY(t.port().written.isEmpty());
    QCOMPARE(t.dialogs().boxes.size(), 1);
}

void tst_config::parameterReadAndReply_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("shown");
    QTest::newRow("40000") << QByteArray::fromHex("0204029C40AABB") << "40000";
    QTest::newRow("0") << QByteArray::fromHex("0204020000AABB") << "0";
    QTest::newRow("exception 0x84") << QByteArray::fromHex("02840201AABBCC") << "";
    QTest::newRow("too short for byte 4") << QByteArray::fromHex("0204029C") << "";
}

void tst_config::parameterReadAndReply()
{
    QFETCH(QByteArray, reply);
    QFETCH(QString, shown);
    TestWindow t;
    t.setText(QStringLiteral("txtStationID"), QStringLiteral("2"));
    t.setText(QStringLiteral("txtSetValues_5"), QStringLiteral("typed"));
    t.click(QStringLiteral("cmdReadSet_5"));
    QCOMPARE(t.written(), QByteArray::fromHex("0204060000013171"));
    QCOMPARE(t.form().CmdKind, Kind::ReadParameter);
    QCOMPARE(t.port().threshold(), 7);
    QCOMPARE(t.w().indicator(), Indicator::Pending);
    t.port().setThreshold(int(reply.size()));
    t.receive(reply);
    QCOMPARE(t.text(QStringLiteral("txtSetValues_5")), shown.isEmpty() ? QStringLiteral("typed") : shown);
    QCOMPARE(t.form().CmdKind, Kind::Measurement); // completes in every case
    QCOMPARE(t.w().indicator(), Indicator::Connected);
}

void tst_config::secondReadTakesTheReply()
{
    TestWindow t;
    t.click(QStringLiteral("cmdReadSet_2"));
    t.click(QStringLiteral("cmdReadSet_4"));
    t.receive(QByteArray::fromHex("01040200C8AABB"));
    QCOMPARE(t.text(QStringLiteral("txtSetValues_2")), QStringLiteral("0"));
    QCOMPARE(t.text(QStringLiteral("txtSetValues_4")), QStringLiteral("200"));
}

void tst_config::parameterSetRoundsHalfToEven()
{
    TestWindow t;
    t.setText(QStringLiteral("txtStationID"), QStringLiteral("2"));
    t.setText(QStringLiteral("txtSetValues_0"), QStringLiteral("2.5"));
    t.click(QStringLiteral("cmdSetV_0"));
    QCOMPARE(t.written(), withCrc(QByteArray::fromHex("020601000002")));
    t.setText(QStringLiteral("txtSetValues_1"), QStringLiteral("22"));
    t.click(QStringLiteral("cmdSetV_1"));
    QCOMPARE(t.written(), QByteArray::fromHex("020602000016098F"));
    QCOMPARE(t.w().indicator(), Indicator::Connected);
    QCOMPARE(t.form().SetIndex, 0); // a set never moves the read row
    QCOMPARE(t.text(QStringLiteral("txtSetValues_1")), QStringLiteral("22"));

    t.setText(QStringLiteral("txtSetValues_2"), QStringLiteral("70000"));
    t.click(QStringLiteral("cmdSetV_2"));
    QCOMPARE(t.dialogs().texts(), QStringList{QStringLiteral("你输入的开机待命时间间隔格式有误,正确的值应该为0-65535!")});
    QCOMPARE(t.port().written.size(), 2);
}

void tst_config::gateStopsForeignReplies()
{
    TestWindow t;
    t.click(QStringLiteral("cmdReadSet_0"));
    t.receive(QByteArray::fromHex("2504020005AABB"));
    QCOMPARE(t.text(QStringLiteral("txtSetValues_0")), QStringLiteral("0"));
    QCOMPARE(t.form().CmdKind, Kind::ReadParameter);
    t.click(QStringLiteral("cmdReadAdd"));
    t.receive(QByteArray::fromHex("2D25022D00AABB"));
    QCOMPARE(t.text(QStringLiteral("txtSetID_0")), QStringLiteral("1"));
    QCOMPARE(t.form().CmdKind, Kind::ReadAddress);
}

QTEST_MAIN(tst_config)
#include "tst_config.moc"
