#include "PtyPeer.h"
#include "core/link/QtSerialPort.h"

#include <QCoreApplication>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

using namespace vx;
using namespace vx::test;

class tst_qtserialport : public QObject {
    Q_OBJECT
private slots:
    void talksOverAPseudoTerminal();
    void opensThroughASymlink();
    void absentDeviceStaysClosed();
    void terminalWakesOnlyForWhatTheEventNeeds();
    void restOfAFrameIsNotWatchedForOnTheWire();
    void lookAwayShareIsLearnt_data();
    void lookAwayShareIsLearnt();
};

void tst_qtserialport::talksOverAPseudoTerminal()
{
    PtyPeer peer;
    QVERIFY(peer.isValid());
    QtSerialPort port([&](int n) { return n == 3 ? peer.slavePath() : QString(); });
    port.setPortNumber(3);
    port.setSettings(QStringLiteral("19200,N,8,1"));
    QVERIFY(port.open());
    QCOMPARE(port.deviceName(), peer.slavePath());

    // The peer sees exactly the bytes written, 0x0A and 0x0D untranslated.
    QSignalSpy requests(&peer, &PtyPeer::requestReceived);
    const QByteArray frame = QByteArray::fromHex("010A0D0000115D0A");
    QVERIFY(port.write(frame));
    QTRY_COMPARE(requests.count(), 1);
    QCOMPARE(peer.requests.first(), frame);

    // Bytes from the peer raise the receive event at the threshold.
    QSignalSpy events(&port, &SerialPort::commEvent);
    port.setThreshold(7);
    peer.send(QByteArray::fromHex("0103"));
    QTest::qWait(50);
    QCOMPARE(events.count(), 0);
    peer.send(QByteArray::fromHex("0209C40A0D"));
    QTRY_COMPARE(events.count(), 1);
    QCOMPARE(port.read(), QByteArray::fromHex("01030209C40A0D"));

    port.close();
    QVERIFY(!port.isOpen());
    QVERIFY(!port.write(frame));
}

void tst_qtserialport::opensThroughASymlink()
{
    PtyPeer peer;
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("ttyVX0"));
    QVERIFY(QFile::link(peer.slavePath(), link));
    QtSerialPort port([&](int) { return link; });
    port.setSettings(QStringLiteral("9600,N,8,1"));
    QVERIFY(port.open());
    QVERIFY(port.isOpen());
}

void tst_qtserialport::absentDeviceStaysClosed()
{
    QtSerialPort port([](int) { return QStringLiteral("/dev/vxmon-no-such-port"); });
    QVERIFY(!port.open());
    QVERIFY(!port.isOpen());
    port.clearInput();
    port.clearOutput();
    port.setThreshold(1);
    QVERIFY(!port.write("x"));
}

namespace {
int vminOf(int fd)
{
    QCoreApplication::processEvents(); // applied once the event loop has its turn
    termios tio {};
    return ::tcgetattr(fd, &tio) == 0 ? int(tio.c_cc[VMIN]) : -1;
}
} // namespace

// With nothing begun the terminal wakes for the first byte; once a frame has
// begun, VMIN is what the next receive event still needs, so its rest
// trickling in wakes the program once, not per piece.
void tst_qtserialport::terminalWakesOnlyForWhatTheEventNeeds()
{
    PtyPeer peer;
    QVERIFY(peer.isValid());
    QtSerialPort port([&](int) { return peer.slavePath(); });
    QVERIFY(port.open());
    const int fd = ::open(qPrintable(peer.slavePath()), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    QVERIFY(fd >= 0);
    QSignalSpy events(&port, &SerialPort::commEvent);
    port.setThreshold(41);
    QCOMPARE(vminOf(fd), 1);
    peer.send(QByteArray(10, '\x01'));
    QTRY_COMPARE(port.bytesWaiting(), 10);
    QCOMPARE(vminOf(fd), 31);
    for (int i = 0; i < 31; ++i) // the rest byte by byte
        peer.send(QByteArray(1, '\x02'));
    QTRY_COMPARE(events.count(), 1);
    QCOMPARE(port.read(), QByteArray(10, '\x01') + QByteArray(31, '\x02'));
    QCOMPARE(vminOf(fd), 1);
    // The start of a frame put back: only its rest is waited for.
    port.unread(QByteArray(10, '\x03'));
    QCOMPARE(vminOf(fd), 31);
    port.setThreshold(400); // more than a terminal can wait for
    QCOMPARE(vminOf(fd), 255);
    port.clearWaiting();
    port.setThreshold(41);
    QCOMPARE(vminOf(fd), 1);
    port.setThreshold(0); // no events: every byte is taken as it comes
    QCOMPARE(vminOf(fd), 1);
    ::close(fd);
}

// While the rest of a frame is on the wire the terminal is not watched at
// all (it would wake the program for every piece); whatever is there when it
// looks again is read, and nothing is lost. A reply is awaited from its
// request only once replies have been seen to come in pieces: a
// pseudo-terminal handing over whole replies at once is read at once.
void tst_qtserialport::restOfAFrameIsNotWatchedForOnTheWire()
{
    PtyPeer peer;
    QVERIFY(peer.isValid());
    QtSerialPort port([&](int) { return peer.slavePath(); });
    port.setSettings(QStringLiteral("1200,N,8,1")); // 8.3 ms a byte: a 41-byte reply takes 342 ms
    QVERIFY(port.open());
    QSignalSpy events(&port, &SerialPort::commEvent);
    port.setThreshold(41);
    const QByteArray request = QByteArray::fromHex("020300000012C5F4");
    const QByteArray reply = QByteArray(1, '\x02') + QByteArray(40, '\x07');

    // Whole replies: each read as soon as it is there.
    for (int round = 0; round < 2; ++round) {
        QVERIFY(port.write(request));
        QCoreApplication::processEvents();
        QVERIFY(port.watchingTerminal());
        peer.send(reply);
        QTRY_COMPARE(events.count(), round + 1);
        QCOMPARE(port.read(), reply);
    }

    // A reply in pieces: after its first piece the rest is not watched for ...
    QVERIFY(port.write(request));
    peer.send(reply.left(3));
    QTRY_COMPARE(port.bytesWaiting(), 3);
    QCoreApplication::processEvents();
    QVERIFY(!port.watchingTerminal());
    peer.send(reply.mid(3)); // ... even when it comes early: it waits in the terminal,
    QTest::qWait(30);
    QCOMPARE(port.bytesWaiting(), 3);
    QTRY_COMPARE_WITH_TIMEOUT(events.count(), 3, 5000); // and is read whole once looked at
    QCOMPARE(port.read(), reply);
    QVERIFY(port.watchingTerminal());

    // From now on a reply is awaited from its request.
    QVERIFY(port.write(request));
    QCoreApplication::processEvents();
    QVERIFY(!port.watchingTerminal());
    peer.send(reply);
    QTRY_COMPARE_WITH_TIMEOUT(events.count(), 4, 5000);
    QCOMPARE(port.read(), reply);

    // A new request while looking away: what came meanwhile is discarded as
    // before, and the look starts again from the new request.
    QVERIFY(port.write(request));
    QCoreApplication::processEvents();
    peer.send(QByteArray(5, '\x09'));
    port.clearInput();
    QVERIFY(port.write(request));
    peer.send(reply);
    QTRY_COMPARE_WITH_TIMEOUT(events.count(), 5, 5000);
    QCOMPARE(port.read(), reply);
}

void tst_qtserialport::lookAwayShareIsLearnt_data()
{
    QTest::addColumn<QList<int>>("looks"); // 0: not all there; 1: all there after a request; 2: all there, a rest
    QTest::addColumn<double>("lowest");
    QTest::addColumn<double>("highest");
    // A line at its rate: the look after the request comes just before the
    // end of the reply, the look for its last bytes finds them.
    QTest::newRow("line at its rate") << QList<int>{0, 2, 0, 2, 0, 2, 0, 2, 0, 2, 0, 2} << 1.0 << 1.0;
    // A pseudo-terminal handing over whole replies: looks shorten.
    QTest::newRow("faster than its rate") << QList<int>{1, 1, 1} << 0.125 << 0.125;
    // Then a line at its rate again: back towards the whole wire time, never past it.
    QTest::newRow("recovers") << QList<int>{1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 2, 2} << 0.25 * 1.1 * 1.1 * 1.1 << 0.6;
    QTest::newRow("never past the whole") << QList<int>{0, 0, 0, 0} << 1.0 << 1.0;
}

// What is learnt from each look: on a line at its rate the terminal is left
// alone for the whole wire time of a reply; only replies faster than that
// shorten the wait.
void tst_qtserialport::lookAwayShareIsLearnt()
{
    QFETCH(QList<int>, looks);
    QFETCH(double, lowest);
    QFETCH(double, highest);
    double share = 1.0;
    for (int look : looks)
        share = QtSerialPort::nextLookAwayShare(share, look == 1, look != 0);
    QVERIFY2(share >= lowest - 1e-9 && share <= highest + 1e-9, qPrintable(QString::number(share)));
}

QTEST_GUILESS_MAIN(tst_qtserialport)
#include "tst_qtserialport.moc"
