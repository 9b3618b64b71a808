#include "PtyPeer.h"
#include "platform/QtSerialPort.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace vx;
using namespace vx::test;

class tst_qtserialport : public QObject {
    Q_OBJECT
private slots:
    void talksOverAPseudoTerminal();
    void opensThroughASymlink();
    void absentDeviceStaysClosed();
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

QTEST_GUILESS_MAIN(tst_qtserialport)
#include "tst_qtserialport.moc"
