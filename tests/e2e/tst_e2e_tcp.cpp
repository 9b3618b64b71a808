// The window on a bus behind a serial device server: vxsim serving over TCP
// on 127.0.0.1, and gateways that refuse, drop the connection or never answer.
#include "DeviceWindow.h"
#include "window/handlers/PortSettings.h"
#include "window/frmMain.h"

#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>

using namespace vx;
using namespace vx::test;

class tst_e2e_tcp : public QObject {
    Q_OBJECT
private slots:
    void queryCycleAndSensorRead();
    void uploadInPiecesWithGaps();
    void gatewayDropsAndComesBack();
    void refusedLikeAPortThatCannotOpen();
    void listenerThatNeverAnswers();

private:
    QTemporaryDir m_dir;
};

namespace {

// vxsim on TCP; the address it serves on, from its first line (port 0: any free one).
QString startSimulator(QProcess &sim, const QStringList &options, const QString &listen = QStringLiteral("0"))
{
    sim.start(QStringLiteral(VXSIM_PATH), QStringList{"--tcp", listen} + options);
    if (!sim.waitForReadyRead(5000))
        return QString();
    const auto m = QRegularExpression(QStringLiteral("on (tcp://\\S+)")).match(QString::fromUtf8(sim.readAllStandardOutput()));
    return m.hasMatch() ? m.captured(1) : QString();
}

void stop(QProcess &sim)
{
    sim.terminate();
    sim.waitForFinished(3000);
}

QString label(frmMain &w, const QString &name)
{
    return w.findChild<QLabel *>(name)->text();
}

int closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort(); // free again once probe goes
}

} // namespace

void tst_e2e_tcp::queryCycleAndSensorRead()
{
    QProcess sim;
    const QString url = startSimulator(sim, {"--addresses", "1-5"});
    QVERIFY(!url.isEmpty());
    DeviceWindow dw(url, m_dir.path());
    frmMain &w = *dw;
    QVERIFY(w.port().isOpen());

    dw.box("txtStationID")->setText(QStringLiteral("2"));
    dw.click("comDoOnce");
    QTRY_COMPARE(label(w, QStringLiteral("lblRCounter_1")), QStringLiteral("1"));
    QCOMPARE(w.indicator(), Indicator::Connected);

    dw.box("txtMaxID")->setText(QStringLiteral("5"));
    dw.box("txtTimerSet")->setText(QStringLiteral("60"));
    dw.click("cmdCicleAll");
    for (int k = 0; k < 5; ++k)
        QTRY_VERIFY_WITH_TIMEOUT(label(w, QStringLiteral("lblRCounter_%1").arg(k)).toInt() >= 2, 5000);
    dw.click("cmdStopOnce");
    QTest::qWait(200); // the cycle's last reply has come: the read that follows is answered alone

    dw.box("txtStationID")->setText(QStringLiteral("3"));
    dw.box("TXTsensorID")->setText(QStringLiteral("2"));
    dw.click("cmdReadSensorID");
    auto *sn = w.findChild<QTextEdit *>(QStringLiteral("txtSn"));
    QTRY_VERIFY_WITH_TIMEOUT(QRegularExpression(QStringLiteral("\"28( [0-9A-F]{2}){7}\"")).match(sn->toPlainText()).hasMatch(),
                             10000);
    stop(sim);
}

void tst_e2e_tcp::uploadInPiecesWithGaps()
{
    QProcess sim;
    // Every frame in pieces of 5 bytes, 3 ms apart: several TCP segments a frame.
    const QString url = startSimulator(sim, {"--addresses", "1-6", "--upload", "--upload-interval", "80",
                                             "--upload-rounds", "10", "--upload-after", "800", "--split", "5",
                                             "--gap", "3"});
    QVERIFY(!url.isEmpty());
    DeviceWindow dw(url, m_dir.path());
    frmMain &w = *dw;
    dw.click("Command1");
    QTRY_COMPARE_WITH_TIMEOUT(label(w, QStringLiteral("lblErrCounter")), QStringLiteral("60"), 10000); // none lost
    for (int k = 0; k < 6; ++k)
        QCOMPARE(label(w, QStringLiteral("lblRCounter_%1").arg(k)), QStringLiteral("10"));
    stop(sim);
}

// The gateway goes away in the middle of a cycle: one notice, the red lamp;
// back on the same address, choosing the port again recovers.
void tst_e2e_tcp::gatewayDropsAndComesBack()
{
    QProcess sim;
    const QString url = startSimulator(sim, {"--addresses", "1-3"});
    QVERIFY(!url.isEmpty());
    DeviceWindow dw(url, m_dir.path());
    frmMain &w = *dw;
    dw.box("txtMaxID")->setText(QStringLiteral("3"));
    dw.box("txtTimerSet")->setText(QStringLiteral("50"));
    dw.click("cmdCicleAll");
    QTRY_VERIFY(label(w, QStringLiteral("lblRCounter_2")).toInt() >= 1);
    stop(sim);
    QTRY_COMPARE(w.indicator(), Indicator::NotConnected);
    QVERIFY(!w.port().isOpen());
    QVERIFY(w.statusBar()->currentMessage().contains(QStringLiteral("已断开")));
    dw.click("cmdStopOnce");

    QProcess again;
    const QString port = url.section(QLatin1Char(':'), -1);
    QCOMPARE(startSimulator(again, {"--addresses", "1-3"}, port), url);
    w.portSettings().Combo1_Click();
    QVERIFY(w.port().isOpen());
    const int before = label(w, QStringLiteral("lblRCounter_0")).toInt();
    dw.box("txtStationID")->setText(QStringLiteral("1"));
    dw.click("comDoOnce");
    QTRY_COMPARE(label(w, QStringLiteral("lblRCounter_0")).toInt(), before + 1);
    stop(again);
}

void tst_e2e_tcp::refusedLikeAPortThatCannotOpen()
{
    const QString url = QStringLiteral("tcp://127.0.0.1:%1").arg(closedPort());
    QElapsedTimer clock;
    clock.start();
    DeviceWindow dw(url, m_dir.path());
    QVERIFY(clock.elapsed() < 2000); // refused at once, no hang
    QVERIFY(!dw->port().isOpen());
    QVERIFY(dw.dialogs->texts().contains(QStringLiteral("请检查串口端口,串口端口1无法打开!")));
}

// Accepts and stays silent: the window waits as for a silent serial device.
void tst_e2e_tcp::listenerThatNeverAnswers()
{
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
    DeviceWindow dw(QStringLiteral("tcp://127.0.0.1:%1").arg(silent.serverPort()), m_dir.path());
    frmMain &w = *dw;
    QVERIFY(w.port().isOpen());
    QTRY_VERIFY(silent.hasPendingConnections());
    QTcpSocket *peer = silent.nextPendingConnection();
    dw.box("txtStationID")->setText(QStringLiteral("1"));
    dw.click("comDoOnce");
    QTRY_COMPARE(peer->bytesAvailable(), qint64(8)); // the request went out whole
    QTest::qWait(300);
    QCOMPARE(w.indicator(), Indicator::Pending);
    QCOMPARE(label(w, QStringLiteral("lblRCounter_0")), QStringLiteral("0"));
}

QTEST_MAIN(tst_e2e_tcp)
#include "tst_e2e_tcp.moc"
