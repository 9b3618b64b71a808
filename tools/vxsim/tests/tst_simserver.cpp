#include "SimServer.h"
#include "Wire.h"
#include "core/frames/Crc16.h"
#include "core/frames/FrameScan.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QSignalSpy>
#include <QTest>

using namespace vxsim;
using vx::withCrc;

namespace {
// A wire in memory: the test feeds requests and sees every write with its time.
class MemoryWire : public Wire {
public:
    struct Write {
        qint64 atMs;
        QByteArray bytes;
    };
    QList<Write> writes;
    QElapsedTimer clock;

    std::function<void()> afterWrite;

    MemoryWire() { clock.start(); }
    bool isOpen() const override { return true; }
    void write(const QByteArray &bytes) override
    {
        writes.append({clock.elapsed(), bytes});
        if (afterWrite)
            afterWrite();
    }
    QString description() const override { return QStringLiteral("memory"); }
    void feed(const QByteArray &bytes) { emit received(bytes); }

    QByteArray all() const
    {
        QByteArray b;
        for (const Write &w : writes)
            b += w.bytes;
        return b;
    }
};

ServerOptions options(const Faults &faults = {})
{
    ServerOptions o;
    o.bus.addresses = {1, 2};
    o.faults = faults;
    o.uploadIntervalMs = 3600000;
    return o;
}

const QByteArray kRead = withCrc(QByteArray::fromHex("010300000012")); // 41-byte reply
} // namespace

class tst_simserver : public QObject {
    Q_OBJECT
private slots:
    void repliesAtOnceByDefault();
    void latencyDelaysTheReply();
    void pacingTakesTheLineTime();
    void pacedExchangesRunAtTheWireRate();
    void dropLosesReplies();
    void corruptBreaksTheCrc();
    void splitSendsPiecesWithGaps();
    void noiseGoesBeforeFrames();
    void activeUploadEveryInterval();
    void brokenRequestIsForgottenAfterSilence();
};

void tst_simserver::repliesAtOnceByDefault()
{
    MemoryWire wire;
    SimServer server(wire, options());
    wire.feed(kRead.left(3));
    wire.feed(kRead.mid(3));
    QCOMPARE(wire.writes.size(), 1);
    QCOMPARE(wire.writes.first().bytes.size(), 41);
    QVERIFY(vx::hasValidCrc(wire.writes.first().bytes));
    QCOMPARE(server.requestsHandled(), 1);
}

void tst_simserver::latencyDelaysTheReply()
{
    Faults f;
    f.latencyMs = 80;
    MemoryWire wire;
    SimServer server(wire, options(f));
    const qint64 sent = wire.clock.elapsed();
    wire.feed(kRead);
    QVERIFY(wire.writes.isEmpty());
    QTRY_COMPARE(wire.writes.size(), 1);
    QVERIFY(wire.writes.first().atMs - sent >= 80);
}

void tst_simserver::pacingTakesTheLineTime()
{
    Faults f;
    f.pace = true;
    f.baud = 4800; // 480 bytes a second: 41 bytes take about 85 ms
    MemoryWire wire;
    SimServer server(wire, options(f));
    const qint64 sent = wire.clock.elapsed();
    wire.feed(kRead);
    QTRY_COMPARE(wire.all().size(), 41);
    QVERIFY(wire.writes.size() > 10); // it trickles out
    QVERIFY(wire.writes.last().atMs - sent >= 80);
    QVERIFY(vx::hasValidCrc(wire.all()));
}

// A master that asks again the moment a reply is complete: request 8 bytes
// plus reply 41 bytes at 19200 baud is 25.5 ms an exchange, 39 a second.
void tst_simserver::pacedExchangesRunAtTheWireRate()
{
    Faults f;
    f.pace = true;
    f.baud = 19200;
    MemoryWire wire;
    SimServer server(wire, options(f));
    constexpr int kExchanges = 40;
    int received = 0;
    QElapsedTimer clock;
    QEventLoop loop;
    wire.afterWrite = [&] {
        received = int(wire.all().size());
        if (received % 41 != 0)
            return;
        if (received / 41 == kExchanges)
            loop.quit();
        else
            QTimer::singleShot(0, &wire, [&] { wire.feed(kRead); });
    };
    clock.start();
    const qint64 firstSent = wire.clock.elapsed();
    wire.feed(kRead);
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    loop.exec();
    QCOMPARE(received, 41 * kExchanges);
    const double msPerExchange = double(clock.nsecsElapsed()) / 1e6 / kExchanges;
    qInfo("%.2f ms an exchange (the wire's own: 25.52)", msPerExchange);
    QVERIFY2(msPerExchange >= 25.0, "faster than the wire allows"); // the request's own time counts
    QVERIFY(msPerExchange < 60.0);                                    // generous: a busy machine is slower
    // The first reply byte leaves after the request (8 bytes) and itself (1 byte) were on the line.
    QVERIFY(wire.writes.first().atMs - firstSent >= 4);
}

void tst_simserver::dropLosesReplies()
{
    Faults f;
    f.drop = 1.0;
    MemoryWire wire;
    SimServer server(wire, options(f));
    for (int i = 0; i < 5; ++i)
        wire.feed(kRead);
    QTest::qWait(20);
    QVERIFY(wire.writes.isEmpty());
    QCOMPARE(server.transmitter().dropped(), 5);
}

void tst_simserver::corruptBreaksTheCrc()
{
    Faults f;
    f.corrupt = 1.0;
    MemoryWire wire;
    SimServer server(wire, options(f));
    for (int i = 0; i < 20; ++i)
        wire.feed(kRead);
    QCOMPARE(wire.writes.size(), 20);
    QCOMPARE(server.transmitter().corrupted(), 20);
    for (const auto &w : wire.writes) {
        QCOMPARE(w.bytes.size(), 41);
        QVERIFY(!vx::hasValidCrc(w.bytes));
    }
}

void tst_simserver::splitSendsPiecesWithGaps()
{
    Faults f;
    f.splitBytes = 10;
    f.gapMs = 15;
    MemoryWire wire;
    SimServer server(wire, options(f));
    wire.feed(kRead);
    QTRY_COMPARE(wire.writes.size(), 5); // 10 + 10 + 10 + 10 + 1
    QCOMPARE(wire.writes[0].bytes.size(), 10);
    QCOMPARE(wire.writes[4].bytes.size(), 1);
    for (int i = 1; i < 5; ++i)
        QVERIFY2(wire.writes[i].atMs - wire.writes[i - 1].atMs >= 14,
                 qPrintable(QStringLiteral("piece %1 at %2, previous at %3").arg(i).arg(wire.writes[i].atMs).arg(wire.writes[i - 1].atMs)));
    QVERIFY(vx::hasValidCrc(wire.all()));
}

void tst_simserver::noiseGoesBeforeFrames()
{
    Faults f;
    f.noise = 1.0;
    MemoryWire wire;
    SimServer server(wire, options(f));
    wire.feed(kRead);
    const QByteArray out = wire.all();
    QVERIFY(out.size() >= 42 && out.size() <= 45);
    QVERIFY(vx::hasValidCrc(out.right(41))); // the frame itself is intact
    // A receiver that resynchronises still finds it.
    const vx::FrameScan scan = vx::scanFrames(out, {41, 0x03, 36});
    QCOMPARE(scan.frames.size(), 1);
}

void tst_simserver::activeUploadEveryInterval()
{
    ServerOptions o = options();
    o.bus.runMode = 1;
    o.uploadIntervalMs = 100;
    MemoryWire wire;
    SimServer server(wire, o);
    QTRY_VERIFY_WITH_TIMEOUT(wire.writes.size() >= 8, 3000);
    QList<qint64> fromDevice1;
    for (const auto &w : wire.writes) {
        QCOMPARE(w.bytes.size(), 31);
        QVERIFY(vx::hasValidCrc(w.bytes));
        if (quint8(w.bytes[0]) == 1)
            fromDevice1 << w.atMs;
    }
    QVERIFY(fromDevice1.size() >= 3);
    for (int i = 1; i < fromDevice1.size(); ++i)
        QVERIFY(fromDevice1[i] - fromDevice1[i - 1] >= 80); // no faster than the interval
    // A device switched to run mode 0 stops uploading.
    wire.feed(withCrc(QByteArray::fromHex("010601000000")));
    wire.writes.clear();
    QTest::qWait(350);
    for (const auto &w : wire.writes)
        QCOMPARE(quint8(w.bytes[0]), quint8(2));
}

void tst_simserver::brokenRequestIsForgottenAfterSilence()
{
    MemoryWire wire;
    ServerOptions o = options();
    o.frameGapMs = 20;
    SimServer server(wire, o);
    wire.feed(kRead.left(5)); // a request cut short
    QTest::qWait(60);
    wire.feed(kRead);
    QCOMPARE(wire.writes.size(), 1);
}

QTEST_GUILESS_MAIN(tst_simserver)
#include "tst_simserver.moc"
