#include "DeviceWindow.h"
#include "window/frmMain.h"

#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>

using namespace vx;
using namespace vx::test;

// The program against the simulator: the cycle over a simulated bus, and
// active upload through noise and replies split in pieces.
class tst_e2e_vxsim : public QObject {
    Q_OBJECT
private slots:
    void cycleOverASimulatedBus();
    void activeUploadThroughNoiseAndSplits();
    void savedCodesImportAsValid();

private:
    bool startSimulator(QProcess &sim, const QStringList &options);
    std::unique_ptr<frmMain> window();

    QTemporaryDir m_dir;
};

bool tst_e2e_vxsim::startSimulator(QProcess &sim, const QStringList &options)
{
    const QString link = m_dir.filePath(QStringLiteral("bus"));
    sim.start(QStringLiteral(VXSIM_PATH), QStringList{"--link", link} + options);
    return sim.waitForReadyRead(5000) && QFileInfo::exists(link);
}

std::unique_ptr<frmMain> tst_e2e_vxsim::window()
{
    return std::move(DeviceWindow(m_dir.filePath(QStringLiteral("bus")), m_dir.path()).window);
}

void tst_e2e_vxsim::cycleOverASimulatedBus()
{
    QProcess sim;
    QVERIFY(startSimulator(sim, {"--addresses", "1-5", "--base", "-10", "--pace", "--baud", "19200"}));
    auto w = window();
    QVERIFY(w->port().isOpen());
    w->findChild<QLineEdit *>(QStringLiteral("txtMaxID"))->setText(QStringLiteral("5"));
    w->findChild<QLineEdit *>(QStringLiteral("txtTimerSet"))->setText(QStringLiteral("40"));
    w->findChild<QPushButton *>(QStringLiteral("cmdCicleAll"))->click();
    for (int k = 0; k < 5; ++k)
        QTRY_VERIFY_WITH_TIMEOUT(w->findChild<QLabel *>(QStringLiteral("lblRCounter_%1").arg(k))->text() != "0", 5000);
    w->findChild<QPushButton *>(QStringLiteral("cmdStopOnce"))->click();
    for (int k = 0; k < 5 * 18; ++k) {
        const QString text = w->findChild<QLineEdit *>(QStringLiteral("txtValue_%1").arg(k))->text();
        if (k % 18 >= 16) {
            QCOMPARE(text, QStringLiteral("0")); // no reading: the box keeps its text
        } else {
            const double v = text.toDouble();
            QVERIFY2(v < -5 && v > -15, qPrintable(text)); // negative temperatures come through
        }
    }
    sim.terminate();
    sim.waitForFinished(3000);
}

void tst_e2e_vxsim::activeUploadThroughNoiseAndSplits()
{
    QProcess sim;
    QVERIFY(startSimulator(sim, {"--addresses", "1-6", "--upload", "--upload-interval", "60", "--upload-rounds", "20", "--upload-after", "1000",
                                 "--noise", "0.5", "--split", "7", "--gap", "2", "--verbose"}));
    auto w = window();
    w->findChild<QPushButton *>(QStringLiteral("Command1"))->click(); // before the first frame
    QByteArray log;
    QVERIFY(!(log += sim.readAllStandardError()).contains("vxsim: upload"));
    QTRY_VERIFY_WITH_TIMEOUT((log += sim.readAllStandardError()).count("vxsim: upload") == 120, 10000);
    auto *replies = w->findChild<QLabel *>(QStringLiteral("lblErrCounter"));
    QTRY_COMPARE_WITH_TIMEOUT(replies->text(), QStringLiteral("120"), 5000); // none lost
    for (int a = 1; a <= 6; ++a)
        QCOMPARE(w->findChild<QLabel *>(QStringLiteral("lblRCounter_%1").arg(a - 1))->text(), QStringLiteral("20"));
    sim.terminate();
    sim.waitForFinished(3000);
}

// The simulator's codes are real 1-Wire ROM codes: a list saved from a read
// imports with every entry valid.
void tst_e2e_vxsim::savedCodesImportAsValid()
{
    QProcess sim;
    QVERIFY(startSimulator(sim, {"--addresses", "1-3", "--channels", "2", "--sensors", "12"}));
    DeviceWindow dw(m_dir.filePath(QStringLiteral("bus")), m_dir.path());
    QVERIFY(dw->port().isOpen());
    auto *sn = dw->findChild<QTextEdit *>(QStringLiteral("txtSn"));
    dw.box("txtStationID")->setText(QStringLiteral("2"));
    dw.box("txtChnId")->setText(QStringLiteral("1"));
    dw.box("TXTsensorID")->setText(QStringLiteral("12"));
    dw.click("cmdReadSensorID");
    QTRY_COMPARE_WITH_TIMEOUT(sn->toPlainText().count(QStringLiteral("\"28 ")), 12, 5000);

    const QString list = m_dir.filePath(QStringLiteral("read.txt"));
    dw.dialogs->saveAnswers << list;
    dw.click("cmdSaveSn");
    QVERIFY(QFileInfo(list).size() > 0);
    dw.dialogs->openAnswers << list;
    dw.click("cmdOpenFile");
    QVERIFY2(!sn->toPlainText().contains(QStringLiteral("[无效]")), qPrintable(sn->toPlainText()));
    QCOMPARE(sn->toPlainText().count(QStringLiteral("\"28 ")), 12);
    sim.terminate();
    sim.waitForFinished(3000);
}

QTEST_MAIN(tst_e2e_vxsim)
#include "tst_e2e_vxsim.moc"
