// Which device texts name a serial device server, and where.
#include "core/link/TcpTarget.h"

#include <QtTest>

using namespace vx;

class tst_tcptarget : public QObject {
    Q_OBJECT
private slots:
    void targets_data();
    void targets();
};

void tst_tcptarget::targets_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<QString>("display"); // empty: not a TCP target
    QTest::newRow("address") << "tcp://10.1.2.3:4001" << "10.1.2.3:4001";
    QTest::newRow("host name") << "tcp://gateway.depot:502" << "gateway.depot:502";
    QTest::newRow("IPv6") << "tcp://[::1]:4001" << "[::1]:4001";
    QTest::newRow("upper case scheme") << "TCP://127.0.0.1:4001" << "127.0.0.1:4001";
    QTest::newRow("trailing slash") << "tcp://127.0.0.1:4001/" << "127.0.0.1:4001";
    QTest::newRow("no port") << "tcp://127.0.0.1" << "";
    QTest::newRow("port 0") << "tcp://127.0.0.1:0" << "";
    QTest::newRow("port too large") << "tcp://127.0.0.1:70000" << "";
    QTest::newRow("a path after it") << "tcp://127.0.0.1:4001/x" << "";
    QTest::newRow("a device") << "/dev/ttyUSB0" << "";
    QTest::newRow("COM name") << "COM3" << "";
}

void tst_tcptarget::targets()
{
    QFETCH(QString, device);
    QFETCH(QString, display);
    const auto target = parseTcpTarget(device);
    QCOMPARE(target.has_value(), !display.isEmpty());
    if (target)
        QCOMPARE(target->display(), display);
}

QTEST_GUILESS_MAIN(tst_tcptarget)
#include "tst_tcptarget.moc"
