#include "Frames.h"
#include "TestWindow.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QStatusBar>

using namespace vx;
using namespace vx::test;

// Bytes that arrive while a box is open: bounded, stamped when they came,
// and worked through in batches once it closes.
class tst_backlog : public QObject {
    Q_OBJECT
private slots:
    void floodBehindABox_data();
    void floodBehindABox();
    void framesKeepTheirArrivalTime();
    void longReplyTextIsCut();
};

namespace {
// Opens a box (a refused query) and runs during it what arrives meanwhile.
void behindABox(TestWindow &t, const std::function<void()> &meanwhile)
{
    t.dialogs().whileOpen = [&](const Box &) { meanwhile(); };
    t.setText(QStringLiteral("txtStationID"), QStringLiteral("x"));
    t.click(QStringLiteral("comDoOnce"));
    t.dialogs().whileOpen = nullptr;
    QCOMPARE(t.dialogs().lastText(), QStringLiteral("你输入的设备地址格式有误!"));
}

// The first value of each record of a data log, in hundredths.
QList<int> firstValues(const QString &log)
{
    QList<int> values;
    for (const QString &line : log.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts))
        values << qRound(line.section(QStringLiteral(":  "), 1).section(QLatin1Char(' '), 0, 0).toDouble() * 100);
    return values;
}
} // namespace

void tst_backlog::floodBehindABox_data()
{
    QTest::addColumn<int>("frames");       // upload frames sent behind the box
    QTest::addColumn<int>("noiseBetween"); // garbage bytes after each frame
    QTest::addColumn<bool>("allFit");
    // 500 frames in 4 MB of noise: the noise goes, every frame stays.
    QTest::newRow("frames in a flood of noise") << 500 << 8000 << true;
    // 4,000 frames (124 KB) with nothing between: only the newest fit.
    QTest::newRow("more frames than fit") << 4000 << 0 << false;
}

void tst_backlog::floodBehindABox()
{
    QFETCH(int, frames);
    QFETCH(int, noiseBetween);
    QFETCH(bool, allFit);
    TestWindow t;
    t.click(QStringLiteral("Command1"));
    qsizetype most = 0;
    QRandomGenerator random(7);
    behindABox(t, [&] {
        for (int i = 0; i < frames; ++i) {
            t.port().feed(replyFrame(1, ramp(13, quint16(i))));
            QByteArray noise(noiseBetween, Qt::Uninitialized);
            for (char &c : noise)
                c = char(random.bounded(256));
            if (!noise.isEmpty())
                t.port().feed(noise);
            most = qMax<qsizetype>(most, t.port().bytesWaiting());
        }
    });
    QVERIFY(most <= SerialPort::kBacklogLimit); // memory stays bounded however long the box stays
    // Worked through a batch at a time: the window gets its turn in between.
    double longest = 0;
    int passes = 0;
    while (t.port().bytesWaiting() > 0 && passes < 10000) {
        QElapsedTimer pass;
        pass.start();
        QCoreApplication::processEvents();
        longest = qMax(longest, pass.nsecsElapsed() / 1e6);
        ++passes;
    }
    QCoreApplication::processEvents();
    qInfo("%d passes, the longest %.1f ms", passes, longest);
    QVERIFY(passes > 1);
    const QList<int> logged = firstValues(t.fileText(QStringLiteral("data/1.txt")));
    QVERIFY(!logged.isEmpty());
    for (int i = 1; i < logged.size(); ++i)
        QCOMPARE(logged[i], logged[i - 1] + 1); // in order, none missing from what was kept
    QCOMPARE(logged.last(), frames - 1);       // the newest is never the one dropped
    if (allFit) {
        QCOMPARE(logged.size(), frames);
    } else {
        QVERIFY(logged.size() >= int(SerialPort::kBacklogLimit / 2 / 31));
        QVERIFY(logged.size() < frames);
    }
    // What was dropped (noise, or the oldest frames) is said once.
    QVERIFY2(t.w().statusBar()->currentMessage().contains(QStringLiteral("接收积压超过 64 KB")),
             qPrintable(t.w().statusBar()->currentMessage()));
    // Neither the reply monitor nor a raw-log record grows with the backlog.
    QVERIFY(t.text(QStringLiteral("txtState")).size() <= 3 * 4096 + 64);
    for (const QString &record : t.fileText(QStringLiteral("dataGet.txt")).split(QStringLiteral("\r\n")))
        QVERIFY(record.size() <= 3 * 4096 + 64);
}

// A frame handled after the box closed keeps the time it arrived, in the
// data log and under its column.
void tst_backlog::framesKeepTheirArrivalTime()
{
    TestWindow t;
    t.click(QStringLiteral("Command1"));
    const QDateTime start = t.now;
    behindABox(t, [&] {
        for (int i = 0; i < 3; ++i) {
            t.now = start.addSecs(10 * i);
            t.port().feed(replyFrame(quint8(i + 1), ramp(13, 100)));
        }
        t.now = start.addSecs(60); // the box closes a minute later
    });
    QCoreApplication::processEvents();
    QCOMPARE(t.fileText(QStringLiteral("data/1.txt")).left(20), QStringLiteral("\"2026/12/7 08:30:05 "));
    QCOMPARE(t.fileText(QStringLiteral("data/2.txt")).left(20), QStringLiteral("\"2026/12/7 08:30:15 "));
    QCOMPARE(t.fileText(QStringLiteral("data/3.txt")).left(20), QStringLiteral("\"2026/12/7 08:30:25 "));
    QCOMPARE(t.text(QStringLiteral("LBLrecTime_2")), QStringLiteral("08:30:25"));
    // A frame split over two arrivals is stamped when its last byte came.
    const QByteArray frame = replyFrame(4, ramp(13, 100));
    t.now = start.addSecs(100);
    t.port().feed(frame.left(10));
    QCoreApplication::processEvents();
    t.now = start.addSecs(101);
    t.port().feed(frame.mid(10));
    QCoreApplication::processEvents();
    QCOMPARE(t.fileText(QStringLiteral("data/4.txt")).left(20), QStringLiteral("\"2026/12/7 08:31:46 "));
}

// A reply of another kind read whole is shown and logged by its tail only.
void tst_backlog::longReplyTextIsCut()
{
    TestWindow t;
    t.setText(QStringLiteral("txtStationID"), QStringLiteral("1"));
    t.click(QStringLiteral("cmdReadAdd")); // awaits an address reply
    t.receive(QByteArray(10000, '\x01'));
    const QString shown = t.text(QStringLiteral("txtState"));
    QVERIFY(shown.startsWith(QStringLiteral(" [前 5904 字节略去] 01 01")));
    QCOMPARE(shown.size(), QStringLiteral(" [前 5904 字节略去]").size() + 3 * 4096);
    QVERIFY(t.fileText(QStringLiteral("dataGet.txt")).contains(QStringLiteral("[前 5904 字节略去]")));
}

QTEST_MAIN(tst_backlog)
#include "tst_backlog.moc"
