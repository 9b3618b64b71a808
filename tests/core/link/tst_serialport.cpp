#include "FakeSerialPort.h"
#include "core/platform/ModalGate.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>

using namespace vx;
using namespace vx::test;

class tst_serialport : public QObject {
    Q_OBJECT
private slots:
    void thresholdOverSplitDelivery_data();
    void thresholdOverSplitDelivery();
    void eventIsQueuedNotImmediate();
    void zeroThresholdRaisesNothing();
    void clearedBytesRaiseNothing();
    void readTakesAllOrInputLength();
    void eventWaitsForModalBox();
    void closedPortOperationsAreHarmless();
    void settingsCarryTheBaudRate();
};

void tst_serialport::thresholdOverSplitDelivery_data()
{
    QTest::addColumn<int>("pieceSize");
    QTest::newRow("whole") << 31;
    QTest::newRow("pieces of 10") << 10;
    QTest::newRow("byte by byte") << 1;
}

void tst_serialport::thresholdOverSplitDelivery()
{
    QFETCH(int, pieceSize);
    FakeSerialPort port;
    port.open();
    port.setThreshold(31);
    QList<QByteArray> reads;
    connect(&port, &SerialPort::commEvent, &port, [&](CommEvent e) {
        QCOMPARE(e, CommEvent::Receive);
        reads << port.read();
    });
    QByteArray frame(31, '\0');
    for (int i = 0; i < frame.size(); ++i)
        frame[i] = char(i);
    port.feedInPieces(frame, pieceSize);
    QCoreApplication::processEvents();
    // Exactly one event, when the 31st byte arrived, carrying the whole frame.
    QCOMPARE(reads, QList<QByteArray>{frame});
}

void tst_serialport::eventIsQueuedNotImmediate()
{
    FakeSerialPort port;
    port.setThreshold(1);
    QSignalSpy spy(&port, &SerialPort::commEvent);
    port.feed("a");
    port.feed("b");
    QCOMPARE(spy.count(), 0); // never inside the code that received the bytes
    QCoreApplication::processEvents();
    QCOMPARE(spy.count(), 1); // coalesced: one event for everything waiting
    QCOMPARE(port.read(), QByteArray("ab"));
}

void tst_serialport::zeroThresholdRaisesNothing()
{
    FakeSerialPort port;
    port.setThreshold(0);
    QSignalSpy spy(&port, &SerialPort::commEvent);
    port.feed(QByteArray(100, 'x'));
    QCoreApplication::processEvents();
    QCOMPARE(spy.count(), 0);
    QCOMPARE(port.bytesWaiting(), 100);
    // Raising the threshold to what is already waiting raises the event.
    port.setThreshold(100);
    QCoreApplication::processEvents();
    QCOMPARE(spy.count(), 1);
}

void tst_serialport::clearedBytesRaiseNothing()
{
    FakeSerialPort port;
    port.setThreshold(4);
    QSignalSpy spy(&port, &SerialPort::commEvent);
    port.feed("abcd");
    port.clearInput(); // a request went out before the event ran
    QCoreApplication::processEvents();
    QCOMPARE(spy.count(), 0);
}

void tst_serialport::readTakesAllOrInputLength()
{
    FakeSerialPort port;
    port.feed("abcdef");
    port.setInputLength(4);
    QCOMPARE(port.read(), QByteArray("abcd"));
    QCOMPARE(port.bytesWaiting(), 2);
    port.setInputLength(0);
    QCOMPARE(port.read(), QByteArray("ef"));
    QCOMPARE(port.read(), QByteArray());
}

void tst_serialport::eventWaitsForModalBox()
{
    FakeSerialPort port;
    ModalGate gate;
    port.setModalGate(&gate);
    port.setThreshold(2);
    QSignalSpy spy(&port, &SerialPort::commEvent);
    gate.enter();
    port.feed("ab");
    QCoreApplication::processEvents();
    QCOMPARE(spy.count(), 0);
    port.feed("cd"); // keeps arriving while the box is open: nothing lost
    gate.leave();
    QCoreApplication::processEvents();
    QCOMPARE(spy.count(), 1);
    QCOMPARE(port.read(), QByteArray("abcd"));
}

void tst_serialport::closedPortOperationsAreHarmless()
{
    FakeSerialPort port;
    QVERIFY(!port.isOpen());
    port.clearInput();
    port.clearOutput();
    port.setInputLength(0);
    port.setBinaryInput();
    port.setThreshold(0);
    QVERIFY(!port.write("x"));
    QVERIFY(port.written.isEmpty());
    QCOMPARE(port.read(), QByteArray());
}

void tst_serialport::settingsCarryTheBaudRate()
{
    FakeSerialPort port;
    port.setSettings(QStringLiteral("19200,N,8,1"));
    QCOMPARE(port.baudRate(), 19200);
    port.setSettings(QStringLiteral("junk"));
    QCOMPARE(port.baudRate(), 0);
}

QTEST_GUILESS_MAIN(tst_serialport)
#include "tst_serialport.moc"
