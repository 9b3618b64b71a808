#include "Frames.h"
#include "TestWindow.h"
#include "window/handlers/CycleController.h"
#include "core/frames/QueryFrame.h"

#include <QStatusBar>
#include <QTimer>

using namespace vx;
using namespace vx::test;

namespace {
// The addresses of the requests written so far.
QList<int> addresses(const TestWindow &t, FakeSerialPort &port)
{
    Q_UNUSED(t);
    QList<int> list;
    for (const QByteArray &w : port.written)
        list << quint8(w[0]);
    return list;
}
} // namespace

class tst_cycle : public QObject {
    Q_OBJECT
private slots:
    void nextAddress_data();
    void nextAddress();
    void pollsTwoThreeOneInOrder();
    void restartBeginsAtTwo();
    void badPeriodRefused_data();
    void badPeriodRefused();
    void closedLinkAdvancesButSendsNothing();
    void counterWrapsAndLengthRefills();
    void timerDrivesTheCycle();
    void activeUploadResetsTheGrid();
    void shortPeriodIsNoticed_data();
    void shortPeriodIsNoticed();
    void periodIsKept();
};

void tst_cycle::shortPeriodIsNoticed_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("baud");
    QTest::addColumn<QString>("registers");
    QTest::addColumn<QString>("period");
    QTest::addColumn<QString>("notice");
    const QString cycle = QStringLiteral("cmdCicleAll"), periodic = QStringLiteral("cmdOneM");
    // 18 registers at 19200: 8 + 41 bytes, 25.5 ms.
    QTest::newRow("cycle at 10 ms") << cycle << "19200" << "18" << "10"
                                    << QStringLiteral("定时时长小于通信时间(约 26 ms)，回复将无法接收");
    QTest::newRow("periodic at 25 ms") << periodic << "19200" << "18" << "25"
                                       << QStringLiteral("定时时长小于通信时间(约 26 ms)，回复将无法接收");
    QTest::newRow("26 ms is enough") << cycle << "19200" << "18" << "26" << QString();
    QTest::newRow("9600 doubles it") << cycle << "9600" << "18" << "40"
                                     << QStringLiteral("定时时长小于通信时间(约 52 ms)，回复将无法接收");
    QTest::newRow("one register") << periodic << "9600" << "1" << "20" << QString();
    QTest::newRow("bad length: the tick's box says it") << cycle << "9600" << "x" << "10" << QString();
}

void tst_cycle::shortPeriodIsNoticed()
{
    QFETCH(QString, button);
    QFETCH(QString, baud);
    QFETCH(QString, registers);
    QFETCH(QString, period);
    QFETCH(QString, notice);
    TestWindow t;
    t.port().setSettings(baud + QStringLiteral(",N,8,1"));
    t.setText(QStringLiteral("txtDataLength"), registers);
    t.setText(QStringLiteral("txtTimerSet"), period);
    t.click(button);
    QCOMPARE(t.w().statusBar()->currentMessage(), notice);
    QVERIFY(t.dialogs().boxes.isEmpty());
    t.click(QStringLiteral("cmdStopOnce"));
}

// The cycle's timer keeps the period typed: no early ticks, no bursts of
// catch-up ticks. A loaded machine only delays ticks, and one late tick lets
// the next come sooner (the schedule holds), so two consecutive intervals may
// be short but never two in a row: a burst packs three ticks into a few ms.
void tst_cycle::periodIsKept()
{
    TestWindow t;
    QCOMPARE(t.find<QTimer>(QStringLiteral("Timer1"))->timerType(), Qt::PreciseTimer);
    QCOMPARE(t.find<QTimer>(QStringLiteral("Timer2"))->timerType(), Qt::PreciseTimer);
    t.setText(QStringLiteral("txtTimerSet"), QStringLiteral("25"));
    t.click(QStringLiteral("cmdCicleAll"));
    QTRY_VERIFY_WITH_TIMEOUT(t.port().written.size() >= 41, 5000);
    t.click(QStringLiteral("cmdStopOnce"));
    const QList<qint64> at = t.port().writtenAtNs;
    const qsizetype intervals = at.size() - 1;
    double shortest = 1e9, shortestPair = 1e9;
    for (qsizetype i = 1; i < at.size(); ++i) {
        shortest = qMin(shortest, double(at[i] - at[i - 1]) / 1e6);
        if (i >= 2)
            shortestPair = qMin(shortestPair, double(at[i] - at[i - 2]) / 1e6);
    }
    const double mean = double(at.last() - at.first()) / 1e6 / double(intervals);
    qInfo("period 25 ms: mean %.2f ms, shortest %.2f ms, shortest two %.2f ms over %lld ticks", mean, shortest,
          shortestPair, intervals);
    QVERIFY2(shortestPair >= 12.0, "ticks in a burst");
    // Only the first tick may be late without the rest following it: the
    // schedule then spans at least one period fewer than the ticks.
    QVERIFY(mean >= 25.0 * double(intervals - 1) / double(intervals) - 0.5);
    QVERIFY(mean < 60.0);
}

void tst_cycle::nextAddress_data()
{
    QTest::addColumn<int>("current");
    QTest::addColumn<double>("max");
    QTest::addColumn<int>("next");
    QTest::newRow("start") << 1 << 36.0 << 2;
    QTest::newRow("at the maximum") << 36 << 36.0 << 1;
    QTest::newRow("maximum 1") << 1 << 1.0 << 1;
    QTest::newRow("maximum 0 (not a number)") << 5 << 0.0 << 1;
    QTest::newRow("above 36 is polled") << 36 << 40.0 << 37;
    QTest::newRow("no 16-bit overflow") << 32767 << 99999.0 << 1;
    QTest::newRow("fractional maximum") << 3 << 3.5 << 1;
}

void tst_cycle::nextAddress()
{
    QFETCH(int, current);
    QFETCH(double, max);
    QFETCH(int, next);
    QCOMPARE(int(CycleController::nextRouterid(qint16(current), max)), next);
}

void tst_cycle::pollsTwoThreeOneInOrder()
{
    TestWindow t;
    t.setText(QStringLiteral("txtMaxID"), QStringLiteral("3"));
    t.click(QStringLiteral("cmdCicleAll"));
    QVERIFY(t.find<QTimer>(QStringLiteral("Timer1"))->isActive());
    QCOMPARE(t.find<QTimer>(QStringLiteral("Timer1"))->interval(), 1000);
    QStringList shown;
    for (int i = 0; i < 6; ++i) {
        t.w().cycle().Timer1_Timer();
        shown << t.text(QStringLiteral("txtStationID"));
    }
    QCOMPARE(shown, QStringList({"2", "3", "1", "2", "3", "1"}));
    QCOMPARE(addresses(t, t.port()), QList<int>({2, 3, 1, 2, 3, 1}));
    QCOMPARE(t.text(QStringLiteral("lblCounter")), QStringLiteral("6"));
    QCOMPARE(t.port().lastWritten(), withCrc(QByteArray::fromHex("010300000012")));
}

void tst_cycle::restartBeginsAtTwo()
{
    TestWindow t;
    t.click(QStringLiteral("cmdCicleAll"));
    t.w().cycle().Timer1_Timer();
    t.w().cycle().Timer1_Timer();
    t.click(QStringLiteral("cmdStopOnce"));
    QVERIFY(!t.find<QTimer>(QStringLiteral("Timer1"))->isActive());
    QCOMPARE(t.form().Routerid, qint16(3)); // kept after the stop
    t.click(QStringLiteral("cmdCicleAll"));
    t.w().cycle().Timer1_Timer();
    QCOMPARE(addresses(t, t.port()), QList<int>({2, 3, 2}));
}

void tst_cycle::badPeriodRefused_data()
{
    QTest::addColumn<QString>("period");
    QTest::newRow("5") << "5";
    QTest::newRow("70000") << "70000";
    QTest::newRow("empty") << "";
    QTest::newRow("letters") << "abc";
}

void tst_cycle::badPeriodRefused()
{
    QFETCH(QString, period);
    TestWindow t;
    t.setText(QStringLiteral("txtTimerSet"), QStringLiteral("500"));
    t.click(QStringLiteral("cmdCicleAll"));
    t.setText(QStringLiteral("txtTimerSet"), period);
    t.click(QStringLiteral("cmdCicleAll"));
    QCOMPARE(t.dialogs().texts(), QStringList{kBadPeriodMessage()});
    // A running cycle keeps running with its old period.
    QCOMPARE(t.find<QTimer>(QStringLiteral("Timer1"))->interval(), 500);
    QVERIFY(t.find<QTimer>(QStringLiteral("Timer1"))->isActive());
}

void tst_cycle::closedLinkAdvancesButSendsNothing()
{
    TestWindow t;
    t.form().StatFlag = 0;
    t.click(QStringLiteral("cmdCicleAll"));
    t.w().cycle().Timer1_Timer();
    t.w().cycle().Timer1_Timer();
    QCOMPARE(t.text(QStringLiteral("txtStationID")), QStringLiteral("3"));
    QCOMPARE(t.text(QStringLiteral("lblCounter")), QStringLiteral("0"));
    QVERIFY(t.port().written.isEmpty());
    QVERIFY(t.dialogs().boxes.isEmpty());
}

void tst_cycle::counterWrapsAndLengthRefills()
{
    TestWindow t;
    t.label(QStringLiteral("lblCounter"))->setText(QStringLiteral("65536"));
    t.setText(QStringLiteral("txtDataLength"), QStringLiteral("x"));
    t.click(QStringLiteral("cmdCicleAll"));
    t.w().cycle().Timer1_Timer();
    QCOMPARE(t.text(QStringLiteral("lblCounter")), QStringLiteral("1"));
    QCOMPARE(t.text(QStringLiteral("txtDataLength")), QStringLiteral("1"));
    QCOMPARE(t.port().lastWritten(), withCrc(QByteArray::fromHex("020300000001")));
}

void tst_cycle::timerDrivesTheCycle()
{
    TestWindow t;
    t.setText(QStringLiteral("txtMaxID"), QStringLiteral("2"));
    t.setText(QStringLiteral("txtTimerSet"), QStringLiteral("10"));
    t.click(QStringLiteral("cmdCicleAll"));
    QTRY_VERIFY(t.port().written.size() >= 4);
    t.click(QStringLiteral("cmdStopOnce"));
    const QList<int> sent = addresses(t, t.port());
    for (int i = 0; i < sent.size(); ++i)
        QCOMPARE(sent[i], i % 2 == 0 ? 2 : 1);
}

void tst_cycle::activeUploadResetsTheGrid()
{
    TestWindow t;
    t.click(QStringLiteral("Command1"));
    for (int a : {1, 7, 36})
        t.receive(replyFrame(quint8(a), ramp(13, 100)));
    t.label(QStringLiteral("lblCounter"))->setText(QStringLiteral("12"));
    const QString errCounter = t.text(QStringLiteral("lblErrCounter"));
    t.label(QStringLiteral("lblRCounter_39"))->setText(QStringLiteral("9"));
    t.form().RecCount[36] = 4;
    t.form().CmdKind = Kind::ReadParameter;
    t.port().setThreshold(7);
    t.form().RecLen = 7;
    t.port().feed("xy"); // unread bytes are dropped

    t.click(QStringLiteral("Command1"));
    for (int i = 0; i < 720; ++i)
        QCOMPARE(t.text(QStringLiteral("txtValue_%1").arg(i)), QStringLiteral("0"));
    for (int k = 0; k < 40; ++k)
        QCOMPARE(t.text(QStringLiteral("lblRCounter_%1").arg(k)), QStringLiteral("0"));
    for (int i = 0; i < 36; ++i)
        QCOMPARE(t.form().RecCount[i], 0);
    QCOMPARE(t.form().RecCount[36], 4);
    QCOMPARE(t.text(QStringLiteral("LBLrecTime_6")), QStringLiteral("08:30:05")); // times kept
    QCOMPARE(t.text(QStringLiteral("lblCounter")), QStringLiteral("12"));
    QCOMPARE(t.text(QStringLiteral("lblErrCounter")), errCounter);
    QCOMPARE(t.form().CmdKind, Kind::Measurement);
    QCOMPARE(t.form().RecLen, qint16(31));
    QCOMPARE(t.port().threshold(), 31);
    QCOMPARE(t.port().bytesWaiting(), 0);
    QVERIFY(t.port().written.isEmpty());
}

QTEST_MAIN(tst_cycle)
#include "tst_cycle.moc"
