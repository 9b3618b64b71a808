#include "Frames.h"
#include "TestWindow.h"
#include "window/handlers/MeasurementDisplay.h"

#include <QDir>
#include <QFile>

using namespace vx;
using namespace vx::test;

namespace {
bool isRed(QLineEdit *box)
{
    return box->palette().color(QPalette::Text) == Qt::red;
}

// Sends the single query for n registers and returns the window ready for its reply.
void query(TestWindow &t, int address, int n)
{
    t.setText(QStringLiteral("txtStationID"), QString::number(address));
    t.setText(QStringLiteral("txtDataLength"), QString::number(n));
    t.click(QStringLiteral("comDoOnce"));
}

QString value(TestWindow &t, int index)
{
    return t.text(QStringLiteral("txtValue_%1").arg(index));
}
} // namespace

class tst_grid : public QObject {
    Q_OBJECT
private slots:
    void replyFillsItsColumn();
    void boxIndexRule();
    void replyGoesToTheAddressItCarries();
    void rejectedReplies_data();
    void rejectedReplies();
    void moreThan18RegistersStayInTheirColumn();
    void activeUploadFrameFills13Points();
    void uploadFramesAfterASingleQuery_data();
    void uploadFramesAfterASingleQuery();
    void queryReplyInUploadMode();
    void backToBackFramesInOneEvent();
    void framesSplitAcrossEvents();
    void noiseAndTruncatedFramesBetween();
    void readLimitOfASerialReadIsLifted();
    void missingDataDirectoryIsCreated();
    void unwritableDataLogIsReportedOnce();
};

void tst_grid::replyFillsItsColumn()
{
    TestWindow t;
    t.box(QStringLiteral("txtValue_1"))->setText(QStringLiteral("7.77"));
    query(t, 1, 2);
    t.receive(withCrc(QByteArray::fromHex("01030409C4FFFF")));
    QCOMPARE(value(t, 0), QStringLiteral("25.00"));
    QVERIFY(isRed(t.box(QStringLiteral("txtValue_0"))));
    QCOMPARE(value(t, 1), QStringLiteral("7.77")); // no reading: kept, colour too
    QVERIFY(!isRed(t.box(QStringLiteral("txtValue_1"))));
    QCOMPARE(t.text(QStringLiteral("lblRCounter_0")), QStringLiteral("1"));
    QCOMPARE(t.text(QStringLiteral("LBLrecTime_0")), QStringLiteral("08:30:05"));
    QCOMPARE(t.text(QStringLiteral("lblErrCounter")), QStringLiteral("1"));
    QCOMPARE(t.fileText(QStringLiteral("data/1.txt")),
             QStringLiteral("\"2026/12/7 08:30:05 :  25.00 655.35 \"\r\n"));
    QCOMPARE(t.w().indicator(), Indicator::Connected);
    QCOMPARE(t.form().CmdKind, Kind::Measurement);

    // A second reply counts on and appends a second record.
    t.now = t.now.addSecs(2);
    query(t, 1, 2);
    t.receive(replyFrame(1, {0xFFFF, 65000}));
    QCOMPARE(value(t, 0), QStringLiteral("25.00"));
    QCOMPARE(value(t, 1), QStringLiteral("-5.36"));
    QCOMPARE(t.text(QStringLiteral("lblRCounter_0")), QStringLiteral("2"));
    QCOMPARE(t.text(QStringLiteral("LBLrecTime_0")), QStringLiteral("08:30:07"));
    QCOMPARE(t.text(QStringLiteral("lblErrCounter")), QStringLiteral("2"));
    QCOMPARE(t.fileText(QStringLiteral("data/1.txt")).count(QStringLiteral("\r\n")), 2);
}

// Upload frames keep coming after a single query, whatever length it asked for.
void tst_grid::uploadFramesAfterASingleQuery_data()
{
    QTest::addColumn<int>("asked");
    QTest::newRow("18 registers") << 18;
    QTest::newRow("1 register") << 1;
    QTest::newRow("24 registers") << 24;
}

void tst_grid::uploadFramesAfterASingleQuery()
{
    QFETCH(int, asked);
    TestWindow t;
    t.click(QStringLiteral("Command1"));
    query(t, 5, asked);
    t.receive(replyFrame(5, ramp(asked, 1000)));
    QCOMPARE(t.text(QStringLiteral("lblRCounter_4")), QStringLiteral("1"));
    QCOMPARE(value(t, ValueGrid::boxIndex(5, 1)), QStringLiteral("10.00"));
    // Devices go on uploading 13-register frames; the threshold may hold one back until the next.
    for (int round = 1; round <= 3; ++round)
        for (int a = 1; a <= 3; ++a)
            t.receive(replyFrame(quint8(a), ramp(13, quint16(2000 + 100 * round + a))));
    QCOMPARE(t.text(QStringLiteral("lblRCounter_0")), QStringLiteral("3"));
    QCOMPARE(t.text(QStringLiteral("lblRCounter_1")), QStringLiteral("3"));
    QVERIFY(t.text(QStringLiteral("lblRCounter_2")).toInt() >= 2);
    QCOMPARE(value(t, ValueGrid::boxIndex(1, 13)), QStringLiteral("23.13"));
    QCOMPARE(value(t, ValueGrid::boxIndex(2, 1)), QStringLiteral("23.02"));
    // Every decoded value is logged: 13 per upload frame.
    const QStringList log = t.fileText(QStringLiteral("data/1.txt")).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    QCOMPARE(log.size(), 3);
    QString values;
    for (int k = 1; k <= 13; ++k)
        values += QStringLiteral("23.%1 ").arg(k, 2, 10, QLatin1Char('0'));
    QCOMPARE(log.last(), QStringLiteral("\"2026/12/7 08:30:05 :  ") + values + QLatin1Char('"'));
}

void tst_grid::queryReplyInUploadMode()
{
    TestWindow t;
    t.click(QStringLiteral("Command1"));
    t.receive(replyFrame(7, ramp(18, 1500)) + replyFrame(8, ramp(13, 1600)));
    QCOMPARE(value(t, ValueGrid::boxIndex(7, 18)), QStringLiteral("15.17"));
    QCOMPARE(value(t, ValueGrid::boxIndex(8, 13)), QStringLiteral("16.12"));
    QCOMPARE(t.text(QStringLiteral("lblErrCounter")), QStringLiteral("2"));
}

void tst_grid::boxIndexRule()
{
    TestWindow t;
    query(t, 36, 18);
    t.receive(replyFrame(36, ramp(18, 1000)));
    QCOMPARE(value(t, 630), QStringLiteral("10.00")); // device 36, point 1
    QCOMPARE(value(t, 647), QStringLiteral("10.17")); // device 36, point 18
    QCOMPARE(value(t, 648), QStringLiteral("0"));     // device 37 untouched
    QCOMPARE(value(t, 629), QStringLiteral("0"));
    QCOMPARE(t.text(QStringLiteral("lblRCounter_35")), QStringLiteral("1"));
}

void tst_grid::replyGoesToTheAddressItCarries()
{
    TestWindow t;
    query(t, 4, 1);
    t.receive(replyFrame(9, {2534}));
    QCOMPARE(value(t, 8 * 18), QStringLiteral("25.34"));
    QCOMPARE(value(t, 3 * 18), QStringLiteral("0"));
    QVERIFY(QFile::exists(t.path(QStringLiteral("data/9.txt"))));
}

void tst_grid::rejectedReplies_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("shown"); // in txtState
    QByteArray badCrc = replyFrame(1, {2534, 100});
    badCrc[4] = char(badCrc[4] ^ 0x40);
    QTest::newRow("function code 4") << replyFrame(1, {2534, 100}, 0x04) << true;
    QTest::newRow("address 0") << replyFrame(0, {2534, 100}) << true;
    QTest::newRow("CRC mismatch") << badCrc << true;
    QTest::newRow("address 37") << replyFrame(37, {2534, 100}) << false;
}

void tst_grid::rejectedReplies()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, shown);
    TestWindow t;
    query(t, 1, 2);
    t.receive(reply);
    QCOMPARE(t.text(QStringLiteral("txtState")), shown ? RecHex(reply) : QString());
    QVERIFY(t.fileText(QStringLiteral("dataGet.txt")).contains(RecHex(reply)));
    for (int i : {0, 1, 648})
        QCOMPARE(value(t, i), QStringLiteral("0"));
    QCOMPARE(t.text(QStringLiteral("lblRCounter_0")), QStringLiteral("0"));
    QCOMPARE(t.text(QStringLiteral("LBLrecTime_0")), QStringLiteral("00:00:00"));
    QCOMPARE(t.text(QStringLiteral("lblErrCounter")), QStringLiteral("0"));
    QVERIFY(QDir(t.path(QStringLiteral("data"))).isEmpty());
    QCOMPARE(t.w().indicator(), Indicator::Pending);
}

void tst_grid::moreThan18RegistersStayInTheirColumn()
{
    TestWindow t;
    query(t, 2, 24);
    QCOMPARE(t.form().RecLen, qint16(53));
    t.receive(replyFrame(2, ramp(24, 500)));
    QCOMPARE(value(t, 18), QStringLiteral("5.00"));
    QCOMPARE(value(t, 35), QStringLiteral("5.17"));
    for (int i = 36; i < 42; ++i) // points 1 to 6 of device 3
        QCOMPARE(value(t, i), QStringLiteral("0"));
    const QString log = t.fileText(QStringLiteral("data/2.txt"));
    QVERIFY(log.endsWith(QStringLiteral(":  5.00 5.01 5.02 5.03 5.04 5.05 5.06 5.07 5.08 5.09 5.10 5.11 "
                                        "5.12 5.13 5.14 5.15 5.16 5.17 5.18 5.19 5.20 5.21 5.22 5.23 \"\r\n")));

    // Device 36 cannot reach the columns of 37 and up either.
    query(t, 36, 24);
    t.receive(replyFrame(36, ramp(24, 500)));
    QCOMPARE(value(t, 647), QStringLiteral("5.17"));
    QCOMPARE(value(t, 648), QStringLiteral("0"));
}

void tst_grid::activeUploadFrameFills13Points()
{
    TestWindow t;
    t.click(QStringLiteral("Command1"));
    const QByteArray frame = replyFrame(5, ramp(13, 2000));
    QCOMPARE(frame.size(), 31);
    t.receive(frame);
    QCOMPARE(value(t, 4 * 18), QStringLiteral("20.00"));
    QCOMPARE(value(t, 4 * 18 + 12), QStringLiteral("20.12"));
    QCOMPARE(value(t, 4 * 18 + 13), QStringLiteral("0"));
    QVERIFY(t.port().written.isEmpty());
}

void tst_grid::backToBackFramesInOneEvent()
{
    TestWindow t;
    t.click(QStringLiteral("Command1"));
    QByteArray burst;
    for (int a = 1; a <= 36; ++a)
        burst += replyFrame(quint8(a), ramp(13, quint16(a * 100)));
    t.receive(burst); // one event holds all 36 frames
    for (int a = 1; a <= 36; ++a) {
        QCOMPARE(value(t, (a - 1) * 18), num::hundredthsText(a * 100));
        QCOMPARE(t.text(QStringLiteral("lblRCounter_%1").arg(a - 1)), QStringLiteral("1"));
    }
    QCOMPARE(t.text(QStringLiteral("lblErrCounter")), QStringLiteral("36"));
    QCOMPARE(t.fileText(QStringLiteral("dataGet.txt")).count(QStringLiteral("\r\n")), 1);
}

void tst_grid::framesSplitAcrossEvents()
{
    TestWindow t;
    t.click(QStringLiteral("Command1"));
    QByteArray stream;
    for (int a = 1; a <= 5; ++a)
        stream += replyFrame(quint8(a), ramp(13, quint16(a * 100)));
    // Pieces of 10 bytes: events fire with a frame and the start of the next one.
    t.port().feedInPieces(stream, 10);
    QCoreApplication::processEvents();
    for (int a = 1; a <= 5; ++a)
        QCOMPARE(t.text(QStringLiteral("lblRCounter_%1").arg(a - 1)), QStringLiteral("1"));
    // The raw log holds every byte exactly once.
    const QString log = t.fileText(QStringLiteral("dataGet.txt"));
    QString logged;
    for (const QString &line : log.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts))
        logged += line.mid(line.indexOf(QStringLiteral("    ")) + 3).chopped(4);
    QCOMPARE(logged, RecHex(stream));
}

void tst_grid::noiseAndTruncatedFramesBetween()
{
    TestWindow t;
    t.click(QStringLiteral("Command1"));
    const QByteArray f1 = replyFrame(1, ramp(13, 100));
    const QByteArray f2 = replyFrame(2, ramp(13, 200));
    const QByteArray f3 = replyFrame(3, ramp(13, 300));
    t.receive(QByteArray::fromHex("FF00FF") + f1);
    t.receive(f2.left(17)); // a device stopped mid-frame
    t.receive(f3);
    t.receive(f2);
    for (int a = 1; a <= 3; ++a)
        QCOMPARE(t.text(QStringLiteral("lblRCounter_%1").arg(a - 1)), QStringLiteral("1"));
    QCOMPARE(t.text(QStringLiteral("lblErrCounter")), QStringLiteral("3"));
}

void tst_grid::readLimitOfASerialReadIsLifted()
{
    TestWindow t;
    t.setText(QStringLiteral("TXTsensorID"), QStringLiteral("1"));
    t.click(QStringLiteral("cmdReadSensorID")); // RecLen 13, and reads limited to 13 bytes
    QCOMPARE(t.port().inputLength(), 13);
    t.receive(withCrc(QByteArray::fromHex("0122020000000000000000")));
    QCOMPARE(t.form().CmdKind, Kind::Measurement);
    // Measurement frames of that length follow: the first lifts the limit ...
    t.receive(replyFrame(1, ramp(4, 100)));
    QCOMPARE(t.port().inputLength(), 0);
    // ... so two arriving together are both taken.
    t.receive(replyFrame(2, ramp(4, 100)) + replyFrame(3, ramp(4, 100)));
    QCOMPARE(t.text(QStringLiteral("lblErrCounter")), QStringLiteral("3"));
}

void tst_grid::missingDataDirectoryIsCreated()
{
    TestWindow t;
    QVERIFY(QDir(t.path(QStringLiteral("data"))).removeRecursively());
    query(t, 3, 1);
    t.receive(replyFrame(3, {2534}));
    QCOMPARE(t.fileText(QStringLiteral("data/3.txt")),
             QStringLiteral("\"2026/12/7 08:30:05 :  25.34 \"\r\n"));
    QVERIFY(t.w().statusBar()->currentMessage().isEmpty());
}

void tst_grid::unwritableDataLogIsReportedOnce()
{
    TestWindow t;
    QVERIFY(QDir(t.path(QStringLiteral("data"))).removeRecursively());
    QFile blocker(t.path(QStringLiteral("data"))); // a file where the directory should be
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    t.click(QStringLiteral("Command1"));
    for (int a = 1; a <= 3; ++a)
        t.receive(replyFrame(quint8(a), ramp(13, 100)));
    // Display and counters go on; the loss shows once, without a box.
    QCOMPARE(t.text(QStringLiteral("lblErrCounter")), QStringLiteral("3"));
    QCOMPARE(value(t, 36), QStringLiteral("1.00"));
    QVERIFY(t.dialogs().boxes.isEmpty());
    const QString notice = t.w().statusBar()->currentMessage();
    QVERIFY2(notice.contains(QStringLiteral("1.txt")), qPrintable(notice));
    t.w().statusBar()->clearMessage();
    t.receive(replyFrame(4, ramp(13, 100)));
    QVERIFY(t.w().statusBar()->currentMessage().isEmpty());
}

QTEST_MAIN(tst_grid)
#include "tst_grid.moc"
