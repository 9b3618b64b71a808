#include "ExternalTools.h"
#include "DeviceWindow.h"
#include "window/frmMain.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace vx;
using namespace vx::test;

// The program, through its real window, against a Modbus RTU slave built on
// libmodbus: the single query, a parameter read and a parameter write.
class tst_e2e_libmodbus : public QObject {
    Q_OBJECT
private slots:
    void queryReadAndWrite();
};

void tst_e2e_libmodbus::queryReadAndWrite()
{
    VX_REQUIRE_TOOL(socat, "socat");
    const QString server = QStringLiteral(MODBUS_SERVER_PATH);
    if (server.isEmpty()) {
        if (qEnvironmentVariable("CI") == QLatin1String("true"))
            QFAIL("libmodbus-dev was missing at build time (scripts/test installs it)");
        QSKIP("libmodbus-dev was missing at build time (scripts/test installs it)");
    }
    SocatPair pair(socat);
    QVERIFY(pair.isReady());
    QProcess slave;
    slave.start(server, {pair.a(), QStringLiteral("1")});
    QVERIFY(slave.waitForReadyRead(5000));
    QCOMPARE(slave.readLine().trimmed(), QByteArray("ready"));

    QTemporaryDir dir;
    DeviceWindow dw(pair.b(), dir.path());
    frmMain &w = *dw;
    QVERIFY(w.port().isOpen());

    // "单次": address 1, function 3, 18 registers fill the grid.
    dw.box(QStringLiteral("txtStationID"))->setText(QStringLiteral("1"));
    dw.click(QStringLiteral("comDoOnce"));
    QTRY_COMPARE(dw.box(QStringLiteral("txtValue_17"))->text(), QStringLiteral("20.17"));
    for (int k = 0; k < 18; ++k)
        QCOMPARE(dw.box(QStringLiteral("txtValue_%1").arg(k))->text(), QStringLiteral("20.%1").arg(k, 2, 10, QLatin1Char('0')));

    // "读取" reads an input register (function 4 at 0x0100).
    dw.click(QStringLiteral("cmdReadSet_0"));
    QTRY_COMPARE(dw.box(QStringLiteral("txtSetValues_0"))->text(), QStringLiteral("7"));

    // "设置" writes a holding register (function 6 at 0x0200) that the slave then holds.
    dw.box(QStringLiteral("txtSetValues_1"))->setText(QStringLiteral("30"));
    dw.click(QStringLiteral("cmdSetV_1"));
    QByteArray said;
    QTRY_VERIFY((said += slave.readAll()).contains("fc 6 reg 512 value 30"));
    QTRY_COMPARE(w.form().CmdKind, Kind::Measurement); // the echo was handled

    slave.kill();
    slave.waitForFinished(2000);
}

QTEST_MAIN(tst_e2e_libmodbus)
#include "tst_e2e_libmodbus.moc"
