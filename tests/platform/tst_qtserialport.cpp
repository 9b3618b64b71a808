#include "PtyPeer.h"
#include "platform/QtSerialPort.h"

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

// The terminal's VMIN follows the bytes the next receive event still needs,
// so a reply trickling in byte by byte wakes the program once, not per byte.
void tst_qtserialport::terminalWakesOnlyForWhatTheEventNeeds()
{
    PtyPeer peer;
    QVERIFY(peer.isValid());
    QtSerialPort port([&](int) { return peer.slavePath(); });
    QVERIFY(port.open());
    const int fd = ::open(qPrintable(peer.slavePath()), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    QVERIFY(fd >= 0);
    auto wakeAfter = [fd] {
        QCoreApplication::processEvents(); // applied once the event loop has its turn
        termios tio {};
        return ::tcgetattr(fd, &tio) == 0 ? int(tio.c_cc[VMIN]) : -1;
    };
    QSignalSpy events(&port, &SerialPort::commEvent);
    port.setThreshold(41);
    QCOMPARE(wakeAfter(), 41);
    peer.send(QByteArray(10, '\x01'));
    QTest::qWait(50);
    QCOMPARE(port.bytesWaiting(), 0); // they wait in the terminal
    for (int i = 0; i < 31; ++i) // the rest byte by byte
        peer.send(QByteArray(1, '\x02'));
    QTRY_COMPARE(events.count(), 1);
    QCOMPARE(port.read(), QByteArray(10, '\x01') + QByteArray(31, '\x02'));
    QCOMPARE(wakeAfter(), 41);
    // The start of a frame put back: only its rest is waited for.
    port.unread(QByteArray(10, '\x03'));
    QCOMPARE(wakeAfter(), 31);
    port.clearWaiting();
    QCOMPARE(wakeAfter(), 41);
    port.setThreshold(0); // no events: every byte is taken as it comes
    QCOMPARE(wakeAfter(), 1);
    port.setThreshold(400); // more than a terminal can wait for
    QCOMPARE(wakeAfter(), 255);
    ::close(fd);
}

QTEST_GUILESS_MAIN(tst_qtserialport)
#include "tst_qtserialport.moc"
