#include "link/PortMap.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace vx;

class tst_portmap : public QObject {
    Q_OBJECT
private slots:
    void parseConf();
    void precedence();
};

void tst_portmap::parseConf()
{
    const auto map = PortMap::parseConf(QStringLiteral(
        "# comment\nCOM4=/dev/pts/5\n  com2 = /dev/ttyUSB0  \nCOM17=/x\nCOM3=\nnoise\n"));
    QCOMPARE(map.size(), 2);
    QCOMPARE(map.value(4), QStringLiteral("/dev/pts/5"));
    QCOMPARE(map.value(2), QStringLiteral("/dev/ttyUSB0"));
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
