#include "core/frames/Crc16.h"
#include "core/frames/FrameScan.h"

#include <QTest>

using namespace vx;

namespace {
// A 9-byte measurement frame (two registers) from address a.
QByteArray frame(quint8 a, quint8 function = 0x03, quint8 first = 0x09)
{
    QByteArray payload = QByteArray::fromHex("00000409C4FFFF");
    payload[0] = char(a);
    payload[1] = char(function);
    payload[3] = char(first);
    return withCrc(payload);
}

// A read reply of n registers from address a.
QByteArray replyOf(quint8 a, int n)
{
    QByteArray payload;
    payload.append(char(a)).append(char(0x03)).append(char(2 * n));
    for (int k = 0; k < n; ++k)
        payload.append(char(0x09)).append(char(k));
    return withCrc(payload);
}

QByteArray corrupt(QByteArray f)
{
    f[4] = char(f[4] ^ 0x01);
    return f;
}
} // namespace

class tst_framescan : public QObject {
    Q_OBJECT
private slots:
    void scan_data();
    void scan();
    void tooShortARule();
    void byByteCount_data();
    void byByteCount();
};

void tst_framescan::scan_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QList<QByteArray>>("frames");
    QTest::addColumn<QByteArray>("tail");

    const QByteArray f1 = frame(1), f2 = frame(2), f36 = frame(36);
    QTest::newRow("one frame") << f1 << QList<QByteArray>{f1} << QByteArray();
    QTest::newRow("back to back") << f1 + f2 + f36 << QList<QByteArray>{f1, f2, f36} << QByteArray();
    QTest::newRow("noise between") << QByteArray::fromHex("FF00") + f1 + QByteArray::fromHex("55") + f2
                                   << QList<QByteArray>{f1, f2} << QByteArray();
    QTest::newRow("truncated, then whole") << f1.left(5) + f2 << QList<QByteArray>{f2} << QByteArray();
    QTest::newRow("corrupted, then whole") << corrupt(f1) + f2 << QList<QByteArray>{f2} << QByteArray();
    QTest::newRow("frame and the start of the next") << f1 + f2.left(4) << QList<QByteArray>{f1} << f2.left(4);
    QTest::newRow("only a start") << f2.left(1) << QList<QByteArray>{} << f2.left(1);
    QTest::newRow("tail after noise") << QByteArray::fromHex("FFEE") + f2.left(6) << QList<QByteArray>{}
                                      << f2.left(6);
    QTest::newRow("bad CRC") << corrupt(f1) << QList<QByteArray>{} << QByteArray();
    QTest::newRow("function 4") << frame(1, 0x04) << QList<QByteArray>{} << QByteArray();
    QTest::newRow("address 0") << frame(0, 0x03, 0x0A) << QList<QByteArray>{} << QByteArray();
    QTest::newRow("address 37") << frame(37) << QList<QByteArray>{} << QByteArray();
    QTest::newRow("nothing") << QByteArray() << QList<QByteArray>{} << QByteArray();
}

// Scans the row's bytes with a rule and compares frames and tail.
void checkScan(const FrameRule &rule)
{
    QFETCH(QByteArray, bytes);
    QFETCH(QList<QByteArray>, frames);
    QFETCH(QByteArray, tail);
    const FrameScan scan = scanFrames(bytes, rule);
    QCOMPARE(scan.frames, frames);
    QCOMPARE(scan.tail, tail);
    qsizetype framed = 0;
    for (qsizetype i = 0; i < scan.frames.size(); ++i) {
        QCOMPARE(bytes.mid(scan.starts[i], scan.frames[i].size()), scan.frames[i]);
        framed += scan.frames[i].size();
    }
    // Every byte is in a frame, in the tail, or counted as skipped.
    QCOMPARE(framed + scan.tail.size() + scan.skipped, bytes.size());
}

void tst_framescan::scan()
{
    checkScan({9, 0x03, 36});
}

void tst_framescan::tooShortARule()
{
    const FrameScan scan = scanFrames(frame(1), {4, 0x03, 36});
    QVERIFY(scan.frames.isEmpty());
    QVERIFY(scan.tail.isEmpty());
}

// Frames of several lengths in one stream, each framed by its byte count.
void tst_framescan::byByteCount_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QList<QByteArray>>("frames");
    QTest::addColumn<QByteArray>("tail");

    const QByteArray upload = replyOf(1, 13), query = replyOf(2, 18), one = replyOf(3, 1), big = replyOf(4, 125);
    QTest::newRow("upload then query") << upload + query << QList<QByteArray>{upload, query} << QByteArray();
    QTest::newRow("query then upload") << query + upload << QList<QByteArray>{query, upload} << QByteArray();
    QTest::newRow("1 then 125 registers") << one + big << QList<QByteArray>{one, big} << QByteArray();
    QTest::newRow("upload, start of a query") << upload + query.left(20) << QList<QByteArray>{upload} << query.left(20);
    QTest::newRow("header only") << query.left(3) << QList<QByteArray>{} << query.left(3);
    QTest::newRow("address and function") << query.left(2) << QList<QByteArray>{} << query.left(2);
    QTest::newRow("noise then frame") << QByteArray::fromHex("0103") + upload << QList<QByteArray>{upload} << QByteArray();
    // A plausible header whose frame never completes does not hold back a whole frame after it.
    QTest::newRow("false header before a frame") << QByteArray::fromHex("0203F0") + upload
                                                 << QList<QByteArray>{upload} << QByteArray();
    QTest::newRow("odd count") << QByteArray::fromHex("010327") << QList<QByteArray>{} << QByteArray();
    QTest::newRow("zero count") << QByteArray::fromHex("010300") << QList<QByteArray>{} << QByteArray();
    QTest::newRow("count over 250") << QByteArray::fromHex("0103FC") << QList<QByteArray>{} << QByteArray();
    QTest::newRow("odd count, then frame") << QByteArray::fromHex("010327") + upload << QList<QByteArray>{upload} << QByteArray();
    // Ten bytes announced, two came: the rest may still be on the wire.
    const QByteArray started = withCrc(QByteArray::fromHex("01030A09C4"));
    QTest::newRow("count larger than what came") << started << QList<QByteArray>{} << started;
    QTest::newRow("its rest came with noise") << started + QByteArray::fromHex("27") << QList<QByteArray>{} << started + QByteArray::fromHex("27");
}

void tst_framescan::byByteCount()
{
    checkScan({0, 0x03, 36});
}

QTEST_APPLESS_MAIN(tst_framescan)
#include "tst_framescan.moc"
