#include "DeviceWindow.h"
#include "PtyPeer.h"
#include "core/frames/Crc16.h"
#include "window/handlers/SensorWriting.h"
#include "window/frmMain.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>

using namespace vx;
using namespace vx::test;

namespace {
// Device 3 with channel 1 holding two sensors; it answers reads, searches and writes.
struct SensorDevice {
    QList<QByteArray> channel1 = {QByteArray::fromHex("28FF4A3B0500009C"), QByteArray::fromHex("28AA01020300004F")};
    QByteArray lastWrite;

    QByteArray answer(const QByteArray &request)
    {
        if (quint8(request[0]) != 3)
            return {};
        const QByteArray head = request.left(3);
        if (request.size() == 8 && request.startsWith(QByteArray::fromHex("032202"))) {
            QByteArray r = head;
            for (int i = 0; i < quint8(request[5]); ++i)
                r += i < channel1.size() ? channel1[i] : QByteArray(8, '\xFF');
            return withCrc(r);
        }
        if (request.size() == 9 && request.startsWith(QByteArray::fromHex("03060C"))) {
            QByteArray r = head;
            for (int c = 0; c < quint8(request[5]); ++c)
                r.append(char(quint8(request[3]) + c == 1 ? channel1.size() : 0));
            return withCrc(r);
        }
        if (request.size() == 15 && request.startsWith(QByteArray::fromHex("03220C"))) {
            lastWrite = request.mid(5, 8);
            return withCrc(head + lastWrite);
        }
        return {};
    }
};
} // namespace

class tst_e2e_sensors : public QObject {
    Q_OBJECT
private slots:
    void readSearchAndWrite();
};

void tst_e2e_sensors::readSearchAndWrite()
{
    PtyPeer peer;
    QVERIFY(peer.isValid());
    SensorDevice device;
    peer.setResponder([&](const QByteArray &request) { return device.answer(request); });
    QTemporaryDir dir;
    DeviceWindow dw(peer.slavePath(), dir.path());
    frmMain &w = *dw;
    QVERIFY(w.port().isOpen());
    auto *sn = w.findChild<QTextEdit *>(QStringLiteral("txtSn"));

    dw.box("txtStationID")->setText(QStringLiteral("3"));
    dw.box("TXTsensorID")->setText(QStringLiteral("2"));
    dw.click("cmdReadSensorID");
    QTRY_VERIFY(sn->toPlainText().contains(QStringLiteral("\"28 AA 01 02 03 00 00 4F\"")));
    QCOMPARE(w.form().FoundSn[0], QStringLiteral("28 FF 4A 3B 05 00 00 9C"));

    dw.box("txtSearchNum")->setText(QStringLiteral("2"));
    dw.click("cmdAutoSearch");
    QTRY_VERIFY(sn->toPlainText().contains(QStringLiteral("通道2 发现传感器个数为：00")));
    QVERIFY(sn->toPlainText().contains(QStringLiteral("通道1 发现传感器个数为：02")));

    // Write the proof-reading boxes to channel 1, position 1.
    const char *bytes[] = {"28", "11", "22", "33", "44", "00", "00", "55"};
    for (int i = 0; i < 8; ++i)
        dw.box(qPrintable(QStringLiteral("txtSenseSn_%1").arg(i)))->setText(QString::fromLatin1(bytes[i]));
    w.sensorWriting().WriteSensorID();
    QTRY_VERIFY(sn->toPlainText().contains(QStringLiteral("导入到 01通道 01#位置 [成功]")));
    QCOMPARE(device.lastWrite, QByteArray::fromHex("2811223344000055"));
}

QTEST_MAIN(tst_e2e_sensors)
#include "tst_e2e_sensors.moc"
