#include "DeviceWindow.h"
#include "core/link/PortMap.h"
#include "window/widgets/ListCombo.h"
#include "window/frmMain.h"

#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

using namespace vx;
using namespace vx::test;

// The peer disappears in the middle of a cycle and comes back: no crash, the
// operator is told once, the indicator shows it, and choosing the port again
// in the port list recovers.
class tst_e2e_peerlost : public QObject {
    Q_OBJECT
private slots:
    void cycleSurvivesThePeerGoingAway();
    void idleLinkNoticesThePeerGoingAway();
};

namespace {
// Devices 1 to 3 on a simulated bus, reached through a link that survives the simulator.
struct SimulatedBus {
    QTemporaryDir dir;
    QString link = dir.filePath(QStringLiteral("bus"));
    QProcess sim;

    bool start()
    {
        sim.start(QStringLiteral(VXSIM_PATH), {"--link", link, "--addresses", "1-3"});
        return sim.waitForReadyRead(5000) && QFileInfo::exists(link);
    }
    // The peer vanishes, its end of the line with it.
    void vanish()
    {
        sim.kill();
        sim.waitForFinished(3000);
    }
    ~SimulatedBus()
    {
        sim.terminate();
        sim.waitForFinished(3000);
    }
};

int replies(frmMain &w, int device)
{
    return w.findChild<QLabel *>(QStringLiteral("lblRCounter_%1").arg(device - 1))->text().toInt();
}
} // namespace

void tst_e2e_peerlost::cycleSurvivesThePeerGoingAway()
{
    SimulatedBus bus;
    QVERIFY(bus.start());
    DeviceWindow dw(bus.link, bus.dir.path());
    frmMain &w = *dw;
    FakeDialogs *boxes = dw.dialogs;
    QVERIFY(w.port().isOpen());

    w.findChild<QLineEdit *>(QStringLiteral("txtMaxID"))->setText(QStringLiteral("3"));
    w.findChild<QLineEdit *>(QStringLiteral("txtTimerSet"))->setText(QStringLiteral("20"));
    w.findChild<QPushButton *>(QStringLiteral("cmdCicleAll"))->click();
    QTRY_VERIFY(replies(w, 1) >= 2 && replies(w, 3) >= 2);

    bus.vanish();
    QTRY_COMPARE(w.indicator(), Indicator::NotConnected);
    QTRY_COMPARE(boxes->boxes.size(), 1);
    QCOMPARE(boxes->lastText(), QStringLiteral("打开串口出错，请确定串口是否已被占用"));
    QVERIFY(w.statusBar()->currentMessage().contains(QStringLiteral("已断开")));
    QTest::qWait(300); // the cycle goes on ticking
    QCOMPARE(boxes->boxes.size(), 1); // told once, not once per tick
    QCOMPARE(w.form().StatFlag, qint16(0));
    QVERIFY(!w.port().isOpen());

    QVERIFY(bus.start()); // the peer is back
    const int before = replies(w, 2);
    auto *ports = w.findChild<ListCombo *>(QStringLiteral("Combo1"));
    ports->setCurrentIndex(0);
    emit ports->activated(0); // the operator chooses COM1 again
    QVERIFY(w.port().isOpen());
    QTRY_VERIFY(replies(w, 2) > before);
    QCOMPARE(boxes->boxes.size(), 1);
    w.findChild<QPushButton *>(QStringLiteral("cmdStopOnce"))->click();
    QTRY_COMPARE(w.indicator(), Indicator::Connected); // the last request was answered
}

void tst_e2e_peerlost::idleLinkNoticesThePeerGoingAway()
{
    SimulatedBus bus;
    QVERIFY(bus.start());
    DeviceWindow dw(bus.link, bus.dir.path());
    frmMain &w = *dw;
    FakeDialogs *boxes = dw.dialogs;
    QVERIFY(w.port().isOpen());

    // Nothing is being sent: the hung-up line alone must close the port,
    // rather than fail every read while looking open.
    bus.vanish();
    QTRY_VERIFY(!w.port().isOpen());
    QCOMPARE(w.indicator(), Indicator::NotConnected);
    QVERIFY(w.statusBar()->currentMessage().contains(QStringLiteral("已断开")));
    QVERIFY(boxes->boxes.isEmpty());
}

QTEST_MAIN(tst_e2e_peerlost)
#include "tst_e2e_peerlost.moc"
