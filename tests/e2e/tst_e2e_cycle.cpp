#include "FakeDialogs.h"
#include "Frames.h"
#include "PtyPeer.h"
#include "core/link/PortMap.h"
#include "core/link/QtSerialPort.h"
#include "window/frmMain.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace vx;
using namespace vx::test;

// The multi-device cycle over a real pseudo-terminal: a scripted peer plays
// devices 1 to 3; the grid and the data logs must show what they answered.
class tst_e2e_cycle : public QObject {
    Q_OBJECT
private slots:
    void cycleFillsGridAndLogs();
};

void tst_e2e_cycle::cycleFillsGridAndLogs()
{
    PtyPeer peer;
    QVERIFY(peer.isValid());
    QTemporaryDir dir;
    qputenv("VXMON_COM1", peer.slavePath().toLocal8Bit());
    peer.setResponder([](const QByteArray &request) -> QByteArray {
        const auto address = quint8(request[0]);
        if (address < 1 || address > 3 || quint8(request[1]) != 0x03)
            return {};
        // Point p of device a reads a * 10 + p degrees.
        QList<quint16> regs;
        for (int p = 1; p <= quint8(request[5]); ++p)
            regs << quint16((address * 10 + p) * 100);
        return replyFrame(address, regs);
    });

    Platform p;
    auto map = std::make_shared<PortMap>(dir.path());
    p.port = std::make_unique<QtSerialPort>([map](int n) { return map->deviceFor(n); });
    p.dialogs = std::make_unique<FakeDialogs>();
    p.clock = [] { return QDateTime::currentDateTime(); };
    p.programDir = dir.path();
    frmMain w(std::move(p)); // no comm.set: COM1 at 9600
    qunsetenv("VXMON_COM1");
    QVERIFY(w.port().isOpen());

    w.findChild<QLineEdit *>(QStringLiteral("txtMaxID"))->setText(QStringLiteral("4"));
    w.findChild<QLineEdit *>(QStringLiteral("txtTimerSet"))->setText(QStringLiteral("40"));
    w.findChild<QPushButton *>(QStringLiteral("cmdCicleAll"))->click();
    // Two rounds over 2, 3, 4, 1: device 4 never answers.
    QTRY_VERIFY_WITH_TIMEOUT(peer.requests.size() >= 8, 5000);
    w.findChild<QPushButton *>(QStringLiteral("cmdStopOnce"))->click();
    QTest::qWait(100); // the last reply

    for (int a = 1; a <= 3; ++a) {
        for (int pnt = 1; pnt <= 18; ++pnt) {
            const auto *box = w.findChild<QLineEdit *>(QStringLiteral("txtValue_%1").arg((a - 1) * 18 + pnt - 1));
            QCOMPARE(box->text(), QStringLiteral("%1.00").arg(a * 10 + pnt));
        }
        QVERIFY(w.findChild<QLabel *>(QStringLiteral("lblRCounter_%1").arg(a - 1))->text().toInt() >= 2);
        QFile log(QDir(dir.path()).filePath(QStringLiteral("data/%1.txt").arg(a)));
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = log.readAll().split('\n');
        QVERIFY(lines.size() >= 3);
        QVERIFY(lines.first().contains(QStringLiteral(":  %1.00 ").arg(a * 10 + 1).toLatin1()));
    }
    QCOMPARE(w.findChild<QLineEdit *>(QStringLiteral("txtValue_54"))->text(), QStringLiteral("0"));
    QVERIFY(!QFile::exists(QDir(dir.path()).filePath(QStringLiteral("data/4.txt"))));
}

QTEST_MAIN(tst_e2e_cycle)
#include "tst_e2e_cycle.moc"
