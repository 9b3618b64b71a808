#include "FakeDialogs.h"
#include "PtyPeer.h"
#include "core/frames/Crc16.h"
#include "core/frames/HexText.h"
#include "core/link/PortMap.h"
#include "core/link/QtSerialPort.h"
#include "window/frmMain.h"

#include <QFile>
#include <QLineEdit>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace vx;
using namespace vx::test;

// The real window on a real serial port (a pseudo-terminal), answered by a
// small scripted peer.
class tst_e2e_query : public QObject {
    Q_OBJECT
private slots:
    void singleQueryRoundTrip();
};

void tst_e2e_query::singleQueryRoundTrip()
{
    PtyPeer peer;
    QVERIFY(peer.isValid());
    QTemporaryDir dir;
    {
        QFile conf(dir.filePath(QStringLiteral("ports.conf")));
        QVERIFY(conf.open(QIODevice::WriteOnly));
        conf.write("COM2=" + peer.slavePath().toLocal8Bit() + "\n");
        QFile set(dir.filePath(QStringLiteral("comm.set")));
        QVERIFY(set.open(QIODevice::WriteOnly));
        set.write("2,19200\r\n");
    }
    peer.setResponder([](const QByteArray &request) -> QByteArray {
        if (request != withCrc(QByteArray::fromHex("010300000002")))
            return {};
        return withCrc(QByteArray::fromHex("01030409C4FFFF"));
    });

    Platform p;
    auto map = std::make_shared<PortMap>(dir.path());
    p.port = std::make_unique<QtSerialPort>([map](int n) { return map->deviceFor(n); });
    auto dialogs = std::make_unique<FakeDialogs>();
    FakeDialogs *boxes = dialogs.get();
    p.dialogs = std::move(dialogs);
    p.clock = [] { return QDateTime::currentDateTime(); };
    p.programDir = dir.path();
    frmMain w(std::move(p));
    QVERIFY2(w.port().isOpen(), "the window opened COM2 on the pseudo-terminal");
    QVERIFY(boxes->boxes.isEmpty());

    w.findChild<QLineEdit *>(QStringLiteral("txtDataLength"))->setText(QStringLiteral("2"));
    w.findChild<QPushButton *>(QStringLiteral("comDoOnce"))->click();
    QTRY_COMPARE(peer.requests.size(), 1);
    const QByteArray reply = withCrc(QByteArray::fromHex("01030409C4FFFF"));
    auto *state = w.findChild<QLabel *>(QStringLiteral("txtState"));
    QTRY_COMPARE(state->text(), RecHex(reply));
    QCOMPARE(w.form().CmdKind, Kind::Measurement);
    QCOMPARE(w.indicator(), Indicator::Connected);
    QFile log(dir.filePath(QStringLiteral("dataGet.txt")));
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(log.readAll().endsWith(RecHex(reply).toLatin1() + "   \"\r\n"));
}

QTEST_MAIN(tst_e2e_query)
#include "tst_e2e_query.moc"
