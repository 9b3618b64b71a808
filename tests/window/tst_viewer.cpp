// Viewer mode: vxcollect owns the bus and writes the store; the window reads
// it, follows within its refresh period, and sends nothing anywhere.
#include "ProcessSignal.h"
#include "TestWindow.h"
#include "window/tabs/GrainOverview.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QPushButton>
#include <QtTest>

#include <csignal>

using namespace vx;
using namespace vx::test;

namespace {
// The newest frame time (ms) vxcollect printed for `device` so far; -1 before any.
qint64 printedFrameMs(QProcess &collect, QByteArray &said, int device)
{
    said += collect.readAllStandardOutput();
    qint64 newest = -1;
    for (const QByteArray &line : said.split('\n')) {
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        if (o.value(QStringLiteral("device")).toInt() == device && o.contains(QStringLiteral("raw")))
            newest = qMax(newest, QDateTime::fromString(o.value(QStringLiteral("time")).toString(), Qt::ISODateWithMs)
                                      .toMSecsSinceEpoch());
    }
    return newest;
}
} // namespace

class tst_viewer : public QObject {
    Q_OBJECT
private slots:
    void followsWhatTheCollectorStores();
};

void tst_viewer::followsWhatTheCollectorStores()
{
    QTemporaryDir dir;
    QProcess sim;
    const QString bus = dir.filePath(QStringLiteral("bus"));
    const QString control = dir.filePath(QStringLiteral("control"));
    sim.start(QStringLiteral(VXSIM_PATH), {"--link", bus, "--addresses", "1-3", "--pace", "--baud", "9600", "--control", control});
    QVERIFY(sim.waitForReadyRead(5000) && QFileInfo::exists(bus));
    QProcess collect;
    collect.start(QStringLiteral(VXCOLLECT_PATH), {"--port", bus, "--addresses", "1-3", "--dir", dir.path(), "--json"});
    QVERIFY(collect.waitForStarted());

    TestWindow::Options options;
    options.viewerStore = dir.filePath(QStringLiteral("vxmon.db"));
    options.prepare = [](const QString &) {};
    TestWindow t(options);
    QVERIFY(t.w().viewer());
    const GrainSnapshot &seen = t.w().pipeline().snapshot();
    // Once the collector has taken a frame from each device, the viewer has
    // every cable within two refresh periods, and the grid shows its values.
    QByteArray said;
    QTRY_VERIFY_WITH_TIMEOUT(printedFrameMs(collect, said, 1) > 0 && printedFrameMs(collect, said, 2) > 0
                                 && printedFrameMs(collect, said, 3) > 0,
                             30000);
    QTRY_VERIFY_WITH_TIMEOUT(seen.lastSeen[0] && seen.lastSeen[1] && seen.lastSeen[2], 2 * frmMain::kViewerRefreshMs + 3000);
    QVERIFY(t.text(QStringLiteral("txtValue_0")) != QStringLiteral("0"));
    QVERIFY(t.text(QStringLiteral("LBLrecTime_2")) != QStringLiteral("00:00:00"));
    // And it keeps following: a newer frame of the collector's reaches it.
    const qint64 first = *seen.lastSeen[0];
    QTRY_VERIFY_WITH_TIMEOUT(printedFrameMs(collect, said, 1) > first, 30000);
    QTRY_VERIFY_WITH_TIMEOUT(*seen.lastSeen[0] > first, 2 * frmMain::kViewerRefreshMs + 3000);

    // A device falls silent: once the collector has stored it so, the viewer
    // shows the cable silent within a refresh, not after its own ten minutes.
    QCOMPARE(t.w().overview()->map()->stateOf(3), CableState::Answering);
    QFile fifo(control);
    QVERIFY(fifo.open(QIODevice::WriteOnly));
    fifo.write("silence 3\n");
    fifo.close();
    QTRY_VERIFY_WITH_TIMEOUT((said += collect.readAllStandardOutput()).contains("\"alarm\":\"cable_silent\""), 30000);
    QTRY_COMPARE_WITH_TIMEOUT(t.w().overview()->map()->stateOf(3), CableState::Silent, 2 * frmMain::kViewerRefreshMs + 3000);
    QCOMPARE(t.w().overview()->map()->stateOf(2), CableState::Answering);
    QTRY_VERIFY_WITH_TIMEOUT(std::any_of(t.w().alarms().alarms().begin(), t.w().alarms().alarms().end(),
                                         [](const Alarm &a) {
                                             return a.condition.rule == AlarmRule::CableSilent && a.condition.cable == 3
                                                    && a.state != Alarm::State::Cleared;
                                         }),
                             2 * frmMain::kViewerRefreshMs + 3000);
    QVERIFY(t.w().windowTitle().contains(QStringLiteral("查看模式：")));

    // Nothing was opened or sent, and whatever would send says why it cannot.
    QVERIFY(t.port().opens.isEmpty());
    QVERIFY(t.port().written.isEmpty());
    for (const char *name : {"comDoOnce", "cmdCicleAll", "Command1", "cmdCom", "cmdReadSensorID", "cmdSetV_0"}) {
        auto *control = t.w().findChild<QWidget *>(QString::fromLatin1(name));
        QVERIFY2(control && !control->isEnabled(), name);
        QCOMPARE(control->toolTip(), QStringLiteral("查看模式：数据来自数据库，不向总线发送"));
    }
    signalProcess(collect, SIGTERM);
    QVERIFY(collect.waitForFinished(5000));
    sim.terminate();
    sim.waitForFinished(3000);
}

QTEST_MAIN(tst_viewer)
#include "tst_viewer.moc"
