#include "DeviceWindow.h"
#include "PtyPeer.h"
#include "core/frames/Crc16.h"
#include "core/link/PortMap.h"
#include "window/frmMain.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace vx;
using namespace vx::test;

namespace {
// One device on the bus: its address and the six parameter registers.
struct ScriptedDevice {
    quint8 address = 7;
    quint16 params[6] = {0, 22, 10, 200, 50, 18};

    QByteArray answer(const QByteArray &request)
    {
        if (!hasValidCrc(request))
            return {};
        const auto to = quint8(request[0]);
        const auto fun = quint8(request[1]);
        if (to == 0xFA && fun == 0x25) { // address, 0x25, 0x02, address, 0x00, CRC
            const char reply[5] = {char(address), 0x25, 0x02, char(address), 0x00};
            return withCrc(QByteArray(reply, 5));
        }
        if (to != address)
            return {};
        const int row = quint8(request[2]) - 1;
        if (fun == 0x04 && row >= 0 && row < 6) {
            QByteArray r = QByteArray::fromHex("000402");
            r[0] = char(address);
            r.append(char(params[row] >> 8)).append(char(params[row] & 0xFF));
            return withCrc(r);
        }
        if (fun == 0x06 && quint8(request[2]) == 0x0B) {
            address = quint8(request[5]);
            return request.left(6);
        }
        if (fun == 0x06 && row >= 0 && row < 6) {
            params[row] = quint16(quint8(request[4]) << 8 | quint8(request[5]));
            return request.left(6);
        }
        return {};
    }
};
} // namespace

class tst_e2e_config : public QObject {
    Q_OBJECT
private slots:
    void readChangeAndSet();
};

void tst_e2e_config::readChangeAndSet()
{
    PtyPeer peer;
    QVERIFY(peer.isValid());
    ScriptedDevice device;
    peer.setResponder([&](const QByteArray &request) { return device.answer(request); });
    QTemporaryDir dir;
    DeviceWindow dw(peer.slavePath(), dir.path());
    frmMain &w = *dw;
    QVERIFY(w.port().isOpen());

    dw.click("cmdReadAdd");
    QTRY_COMPARE(dw.box("txtStationID")->text(), QStringLiteral("7"));
    QCOMPARE(dw.box("txtSetID_0")->text(), QStringLiteral("7"));

    dw.box("txtSetID_1")->setText(QStringLiteral("12"));
    dw.click("cmdChangeID");
    QTRY_COMPARE(device.address, quint8(12));
    QTRY_COMPARE(w.form().CmdKind, Kind::Measurement);

    dw.box("txtStationID")->setText(QStringLiteral("12"));
    dw.click("cmdReadSet_3");
    QTRY_COMPARE(dw.box("txtSetValues_3")->text(), QStringLiteral("200"));

    dw.box("txtSetValues_1")->setText(QStringLiteral("30"));
    dw.click("cmdSetV_1");
    QTRY_COMPARE(device.params[1], quint16(30));
    QTRY_COMPARE(w.form().CmdKind, Kind::Measurement);
    dw.box("txtSetValues_1")->setText(QString());
    dw.click("cmdReadSet_1");
    QTRY_COMPARE(dw.box("txtSetValues_1")->text(), QStringLiteral("30"));
}

QTEST_MAIN(tst_e2e_config)
#include "tst_e2e_config.moc"
