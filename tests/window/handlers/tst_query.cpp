#include "TestWindow.h"
#include "window/handlers/QueryController.h"
#include "core/frames/QueryFrame.h"

#include <QTimer>

using namespace vx;
using namespace vx::test;

class tst_query : public QObject {
    Q_OBJECT
private slots:
    void validation_data();
    void validation();
    void frames_data();
    void frames();
    void closedPortReportsAndClearsStatFlag();
    void periodStart_data();
    void periodStart();
    void tickCountsAndSends();
    void tickWrapsCounterAndRefillsLength();
    void tickWithPortLostSendsNothing();
    void timerRunsAndStopStopsBoth();
    void tickBoxesDoNotPileUp();
    void ticksWaitWhileABoxIsOpen();
    void noReplyIsSaidAfterThreeSeconds_data();
    void noReplyIsSaidAfterThreeSeconds();
};

void tst_query::validation_data()
{
    QTest::addColumn<QString>("station");
    QTest::addColumn<QString>("fun");
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("length");
    QTest::addColumn<QString>("message");
    QTest::newRow("empty address") << "" << "3" << "0" << "18" << "你输入的设备地址格式有误!";
    QTest::newRow("letters in address") << "a1" << "3" << "0" << "18" << "你输入的设备地址格式有误!";
    QTest::newRow("bad function") << "1" << "x" << "0" << "18" << "你输入的功能码格式有误!";
    QTest::newRow("bad length") << "1" << "3" << "0" << "" << "你输入的数据长度格式有误!";
    QTest::newRow("bad start") << "1" << "3" << "?" << "18" << "你输入的起始地址格式有误!";
    QTest::newRow("length checked before start") << "1" << "3" << "?" << "z" << "你输入的数据长度格式有误!";
    QTest::newRow("length 0") << "1" << "3" << "0" << "0" << "你输入的数据长度格式有误,正确的值应该为1-24!";
    QTest::newRow("length -3") << "1" << "3" << "0" << "-3" << "你输入的数据长度格式有误,正确的值应该为1-24!";
    QTest::newRow("length 25") << "1" << "3" << "0" << "25" << "你输入的数据长度格式有误,正确的值应该为1-24!";
    QTest::newRow("length 0.5") << "1" << "3" << "0" << "0.5" << "你输入的数据长度格式有误,正确的值应该为1-24!";
}

void tst_query::validation()
{
    QFETCH(QString, station);
    QFETCH(QString, fun);
    QFETCH(QString, start);
    QFETCH(QString, length);
    QFETCH(QString, message);
    TestWindow t;
    t.setText(QStringLiteral("txtStationID"), station);
    t.setText(QStringLiteral("txtFunID"), fun);
    t.setText(QStringLiteral("txtStartID"), start);
    t.setText(QStringLiteral("txtDataLength"), length);
    t.click(QStringLiteral("comDoOnce"));
    QCOMPARE(t.dialogs().texts(), QStringList{message});
    QCOMPARE(t.dialogs().boxes.first().title, QStringLiteral("VX7310K-42无线动态数据监测软件"));
    QVERIFY(t.port().written.isEmpty());
    QCOMPARE(t.form().CmdKind, Kind::None);
    QCOMPARE(t.port().threshold(), 31);
}

void tst_query::frames_data()
{
    QTest::addColumn<QString>("station");
    QTest::addColumn<QString>("fun");
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("length");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<int>("recLen");
    QTest::newRow("address 1, 18 registers") << "1" << "3" << "0" << "18" << QByteArray::fromHex("010300000012") << 41;
    QTest::newRow("length 2.9 is 2") << "1" << "3" << "0" << "2.9" << QByteArray::fromHex("010300000002") << 9;
    QTest::newRow("address 300 sent as 0") << "300" << "3" << "0" << "1" << QByteArray::fromHex("000300000001") << 7;
    QTest::newRow("address -0.5 is -1, sent as 0") << "-0.5" << "3" << "0" << "1" << QByteArray::fromHex("000300000001") << 7;
    QTest::newRow("function 2.5 rounds to 2") << "7.9" << "2.5" << "0" << "1" << QByteArray::fromHex("070200000001") << 7;
    QTest::newRow("function 3.5 rounds to 4") << "1" << "3.5" << "0" << "1" << QByteArray::fromHex("010400000001") << 7;
    QTest::newRow("start low byte") << "36" << "3" << "16.7" << "24" << QByteArray::fromHex("240300100018") << 53;
    QTest::newRow("start 256 sent as 0") << "2" << "3" << "256" << "1" << QByteArray::fromHex("020300000001") << 7;
}

void tst_query::frames()
{
    QFETCH(QString, station);
    QFETCH(QString, fun);
    QFETCH(QString, start);
    QFETCH(QString, length);
    QFETCH(QByteArray, payload);
    QFETCH(int, recLen);
    TestWindow t;
    t.setText(QStringLiteral("txtStationID"), station);
    t.setText(QStringLiteral("txtFunID"), fun);
    t.setText(QStringLiteral("txtStartID"), start);
    t.setText(QStringLiteral("txtDataLength"), length);
    t.click(QStringLiteral("comDoOnce"));
    QVERIFY(t.dialogs().boxes.isEmpty());
    const QByteArray frame = withCrc(payload);
    QCOMPARE(t.port().written, QList<QByteArray>{frame});
    QCOMPARE(int(t.form().RecLen), recLen);
    QCOMPARE(t.port().threshold(), recLen);
    QCOMPARE(t.form().CmdKind, Kind::Measurement);
    QCOMPARE(t.text(QStringLiteral("txtCommand")), HexText(frame));
    QCOMPARE(t.w().indicator(), Indicator::Pending);
}

void tst_query::closedPortReportsAndClearsStatFlag()
{
    TestWindow t;
    t.port().close();
    t.click(QStringLiteral("comDoOnce"));
    QCOMPARE(t.dialogs().texts(), QStringList{QStringLiteral("打开串口出错，请确定串口是否已被占用")});
    QCOMPARE(t.form().StatFlag, qint16(0));
    QCOMPARE(t.w().indicator(), Indicator::NotConnected);
    QVERIFY(t.port().written.isEmpty());
    QCOMPARE(t.form().RecLen, qint16(31));
}

void tst_query::periodStart_data()
{
    QTest::addColumn<QString>("period");
    QTest::addColumn<int>("interval"); // -1: refused
    QTest::newRow("1000") << "1000" << 1000;
    QTest::newRow("10") << "10" << 10;
    QTest::newRow("60000") << "60000" << 60000;
    QTest::newRow("10.5 rounds to even") << "10.5" << 10;
    QTest::newRow("9") << "9" << -1;
    QTest::newRow("60001") << "60001" << -1;
    QTest::newRow("empty") << "" << -1;
    QTest::newRow("letters") << "abc" << -1;
}

void tst_query::periodStart()
{
    QFETCH(QString, period);
    QFETCH(int, interval);
    TestWindow t;
    t.label(QStringLiteral("lblCounter"))->setText(QStringLiteral("40"));
    t.form().RecCount[0] = 7;
    t.form().RecCount[1] = 7;
    t.setText(QStringLiteral("txtTimerSet"), period);
    t.click(QStringLiteral("cmdOneM"));
    // The counters are set first, whether or not the period is accepted.
    QCOMPARE(t.text(QStringLiteral("lblCounter")), QStringLiteral("1"));
    QCOMPARE(t.text(QStringLiteral("lblErrCounter")), QStringLiteral("1"));
    QCOMPARE(t.form().RecCount[0], 1);
    QCOMPARE(t.form().RecCount[1], 7);
    auto *timer2 = t.find<QTimer>(QStringLiteral("Timer2"));
    if (interval < 0) {
        QCOMPARE(t.dialogs().texts(), QStringList{kBadPeriodMessage()});
        QVERIFY(!timer2->isActive());
    } else {
        QVERIFY(t.dialogs().boxes.isEmpty());
        QVERIFY(timer2->isActive());
        QCOMPARE(timer2->interval(), interval);
    }
    QVERIFY(t.port().written.isEmpty()); // the first request waits one period
}

void tst_query::tickCountsAndSends()
{
    TestWindow t;
    t.setText(QStringLiteral("txtDataLength"), QStringLiteral("2"));
    t.w().query().Timer2_Timer();
    t.w().query().Timer2_Timer();
    QCOMPARE(t.text(QStringLiteral("lblCounter")), QStringLiteral("2"));
    QCOMPARE(t.port().written.size(), 2);
    QCOMPARE(t.port().lastWritten(), withCrc(QByteArray::fromHex("010300000002")));
}

void tst_query::tickWrapsCounterAndRefillsLength()
{
    TestWindow t;
    t.label(QStringLiteral("lblCounter"))->setText(QStringLiteral("65536"));
    t.setText(QStringLiteral("txtDataLength"), QString());
    t.w().query().Timer2_Timer();
    QCOMPARE(t.text(QStringLiteral("lblCounter")), QStringLiteral("1"));
    QCOMPARE(t.text(QStringLiteral("txtDataLength")), QStringLiteral("1"));
    QCOMPARE(t.port().lastWritten(), withCrc(QByteArray::fromHex("010300000001")));
    t.w().query().Timer2_Timer();
    QCOMPARE(t.text(QStringLiteral("lblCounter")), QStringLiteral("2"));
}

void tst_query::tickWithPortLostSendsNothing()
{
    TestWindow t;
    t.port().close();
    t.w().query().Timer2_Timer(); // finds the port closed: one box, StatFlag 0
    QCOMPARE(t.dialogs().boxes.size(), 1);
    t.w().query().Timer2_Timer();
    t.w().query().Timer2_Timer();
    QCOMPARE(t.dialogs().boxes.size(), 1);
    QCOMPARE(t.text(QStringLiteral("lblCounter")), QStringLiteral("1"));
    QVERIFY(t.port().written.isEmpty());
}

void tst_query::timerRunsAndStopStopsBoth()
{
    TestWindow t;
    t.setText(QStringLiteral("txtTimerSet"), QStringLiteral("10"));
    t.click(QStringLiteral("cmdOneM"));
    QTRY_VERIFY(t.port().written.size() >= 3);
    auto *timer1 = t.find<QTimer>(QStringLiteral("Timer1"));
    timer1->start(1000);
    t.click(QStringLiteral("cmdStopOnce"));
    QVERIFY(!t.find<QTimer>(QStringLiteral("Timer2"))->isActive());
    QVERIFY(!timer1->isActive());
    const auto sent = t.port().written.size();
    QTest::qWait(50);
    QCOMPARE(t.port().written.size(), sent);
}

void tst_query::tickBoxesDoNotPileUp()
{
    TestWindow t;
    t.setText(QStringLiteral("txtStationID"), QStringLiteral("x"));
    int ticksWhileOpen = 0;
    t.dialogs().whileOpen = [&](const Box &) {
        // Ticks keep coming while the operator has not closed the box yet.
        for (int i = 0; i < 3; ++i, ++ticksWhileOpen)
            t.w().query().Timer2_Timer();
    };
    t.w().query().Timer2_Timer();
    QCOMPARE(ticksWhileOpen, 3);
    QCOMPARE(t.dialogs().texts(), QStringList{QStringLiteral("你输入的设备地址格式有误!")});
    // Once it is closed, the next failing tick tells the operator again.
    t.dialogs().whileOpen = nullptr;
    t.w().query().Timer2_Timer();
    QCOMPARE(t.dialogs().boxes.size(), 2);
}

void tst_query::ticksWaitWhileABoxIsOpen()
{
    TestWindow t;
    t.setText(QStringLiteral("txtTimerSet"), QStringLiteral("10"));
    t.click(QStringLiteral("cmdOneM"));
    QTRY_VERIFY(t.port().written.size() >= 2);

    // A box from a click while the periodic query runs: no tick sends a
    // request meanwhile (it would discard a reply waiting for the box).
    qsizetype sentWhenOpened = -1;
    qsizetype sentWhenClosed = -1;
    t.dialogs().whileOpen = [&](const Box &) {
        sentWhenOpened = t.port().written.size();
        QTest::qWait(150);
        sentWhenClosed = t.port().written.size();
    };
    t.setText(QStringLiteral("txtTimerSet"), QStringLiteral("abc"));
    t.click(QStringLiteral("cmdOneM")); // refused; the running timer keeps its period
    QCOMPARE(t.dialogs().texts(), QStringList{kBadPeriodMessage()});
    QVERIFY(sentWhenOpened >= 2);
    QCOMPARE(sentWhenClosed, sentWhenOpened);
    QTRY_VERIFY(t.port().written.size() > sentWhenClosed); // ticks resume once it is closed
    t.click(QStringLiteral("cmdStopOnce"));
}

void tst_query::noReplyIsSaidAfterThreeSeconds_data()
{
    QTest::addColumn<QList<bool>>("answered"); // each query, one a second: answered or not
    QTest::addColumn<bool>("said");
    QTest::newRow("no reply") << QList<bool>{false} << true;
    QTest::newRow("answered") << QList<bool>{true} << false;
    QTest::newRow("answered, then a query left unanswered") << QList<bool>{true, false} << true;
    QTest::newRow("unanswered, then answered within three seconds") << QList<bool>{false, true} << false;
}

// Three seconds after a request with no reply since, a line says so (real
// time: the window's own timer).
void tst_query::noReplyIsSaidAfterThreeSeconds()
{
    QFETCH(QList<bool>, answered);
    QFETCH(bool, said);
    const QString notice = QStringLiteral("无响应：3 秒内未收到应答，请检查命令或硬件");
    TestWindow t;
    for (int i = 0; i < answered.size(); ++i) {
        if (i > 0)
            QTest::qWait(1000);
        if (answered[i]) {
            t.queryAnswered(1, QList<quint16>(18, 2000));
        } else {
            t.setText(QStringLiteral("txtStationID"), QStringLiteral("1"));
            t.click(QStringLiteral("comDoOnce"));
        }
    }
    QTest::qWait(4000); // a second for a late timer on a busy machine
    QCOMPARE(t.w().statusBar()->currentMessage() == notice, said);
}

QTEST_MAIN(tst_query)
#include "tst_query.moc"
