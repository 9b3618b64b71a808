#include "core/frames/Measurement.h"
#include "core/frames/QueryFrame.h"
#include "core/frames/Crc16.h"
#include "core/frames/FrameScan.h"
#include "core/records/Records.h"

#include <QTemporaryDir>
#include <QTest>

using namespace vx;

// Linked with vxcore and QtCore only (no GUI module, no widgets): the core
// builds and works where there is no display, as a service needs.
class tst_vxcore_alone : public QObject {
    Q_OBJECT
private slots:
    void requestToDataLogWithoutTheWindow();
};

void tst_vxcore_alone::requestToDataLogWithoutTheWindow()
{
    const QueryBuild built = buildQuery({QStringLiteral("1"), QStringLiteral("3"), QStringLiteral("0"), QStringLiteral("2")});
    QVERIFY(built.request);
    QCOMPARE(built.request->frame, QByteArray::fromHex("010300000002C40B"));
    const QByteArray reply = withCrc(QByteArray::fromHex("01030409C4FFFF"));
    const FrameScan scan = scanFrames(reply, {0, 0x03, 36});
    QCOMPARE(scan.frames.size(), 1);
    const QStringList texts = valueTexts(decodeRegisters(scan.frames.first(), int(reply.size())));
    QCOMPARE(texts, QStringList({"25.00", "655.35"}));
    QTemporaryDir dir;
    RecordFiles files;
    files.setProgramDir(dir.path());
    QVERIFY(files.append(dir.filePath(QStringLiteral("data/1.txt")),
                         dataLogRecord(QDateTime(QDate(2026, 12, 7), QTime(8, 0, 0)), texts)));
}

QTEST_GUILESS_MAIN(tst_vxcore_alone)
#include "tst_vxcore_alone.moc"
