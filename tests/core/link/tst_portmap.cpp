#include "core/link/PortMap.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace vx;

class tst_portmap : public QObject {
    Q_OBJECT
private slots:
    void parseConf();
    void precedence();
    void specialFilesAreIgnored_data();
    void specialFilesAreIgnored();
};

void tst_portmap::parseConf()
{
    const auto map = PortMap::parseConf(QStringLiteral(
        "# comment\nCOM4=/dev/pts/5\n  com2 = /dev/ttyUSB0  \nCOM17=/x\nCOM3=\nnoise\nCOM5=tcp://10.1.2.3:4001\n"));
    QCOMPARE(map.size(), 3);
    QCOMPARE(map.value(5), QStringLiteral("tcp://10.1.2.3:4001")); // a serial device server, passed on whole
    QCOMPARE(map.value(4), QStringLiteral("/dev/pts/5"));
    QCOMPARE(map.value(2), QStringLiteral("/dev/ttyUSB0"));
    // A NUL would cut the path short where the system reads it: the line is refused.
    const auto cut = PortMap::parseConf(QStringLiteral("COM1=/dev/pts/0") + QChar(0) + QStringLiteral("x\nCOM2=/dev/ok\n"));
    QCOMPARE(cut.size(), 1);
    QCOMPARE(cut.value(2), QStringLiteral("/dev/ok"));
}

void tst_portmap::specialFilesAreIgnored_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("fifo") << "fifo";
    QTest::newRow("link to /dev/zero") << "zero";
}

void tst_portmap::specialFilesAreIgnored()
{
    QFETCH(QString, kind);
    QTemporaryDir dir;
    const QString conf = dir.filePath(QStringLiteral("ports.conf"));
    if (kind == "fifo")
        QVERIFY(::mkfifo(QFile::encodeName(conf).constData(), 0644) == 0);
    else
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), conf));
    qunsetenv("VXMON_COM3");
    const PortMap map(dir.path()); // returns: neither waits on the FIFO nor reads /dev/zero forever
    QCOMPARE(map.deviceFor(3), QStringLiteral("/dev/ttyS2"));
}

void tst_portmap::precedence()
{
    QTemporaryDir dir;
    QFile conf(dir.filePath(QStringLiteral("ports.conf")));
    QVERIFY(conf.open(QIODevice::WriteOnly));
    conf.write("COM4=/dev/from-conf\nCOM5=/dev/conf5\n");
    conf.close();
    qputenv("VXMON_COM4", "/dev/from-env");
    qunsetenv("VXMON_COM5");
    qunsetenv("VXMON_COM6");
    const PortMap map(dir.path());
    QCOMPARE(map.deviceFor(4), QStringLiteral("/dev/from-env"));
    QCOMPARE(map.deviceFor(5), QStringLiteral("/dev/conf5"));
    QCOMPARE(map.deviceFor(6), QStringLiteral("/dev/ttyS5"));
    qunsetenv("VXMON_COM4");
}

QTEST_APPLESS_MAIN(tst_portmap)
#include "tst_portmap.moc"
