#include "SimulatorLog.h"
#include "core/air/AirDevices.h"
#include "core/bus/BusEngine.h"
#include "core/frames/Crc16.h"
#include "core/link/QtSerialPort.h"

#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace vx;

// The bus engine against the simulator on a pseudo-terminal.
class tst_busengine : public QObject {
    Q_OBJECT
private slots:
    void healthyBusAtTheWireRate();
    void faultsNeverBecomeReadings();
    void statisticsEqualWhatTheSimulatorDid_data();
    void statisticsEqualWhatTheSimulatorDid();
    void silentDevicesBackOff();
    void exceptionIsNoTimeout();
    void deviceThatComesBackIsPolledAgain();
    void transmittersAndRelays();

private:
    struct Run {
        QProcess sim;
        std::unique_ptr<QtSerialPort> port;
        std::unique_ptr<BusEngine> engine;
        QList<QByteArray> frames;

        ~Run()
        {
            sim.terminate();
            sim.waitForFinished(3000);
        }
        // Stops the engine, the exchange in flight ended first.
        void stop()
        {
            engine->stop();
            QTRY_VERIFY(!engine->running());
        }
    };
    bool start(Run &run, const QStringList &simOptions, BusSettings settings);
    QTemporaryDir m_dir;
};

bool tst_busengine::start(Run &run, const QStringList &simOptions, BusSettings settings)
{
    const QString link = m_dir.filePath(QStringLiteral("bus%1").arg(QRandomGenerator::global()->generate()));
    run.sim.start(QStringLiteral(VXSIM_PATH), QStringList{"--link", link, "--baud", "19200"} + simOptions);
    if (!run.sim.waitForReadyRead(5000) || !QFileInfo::exists(link))
        return false;
    run.port = std::make_unique<QtSerialPort>([link](int) { return link; });
    run.port->setSettings(QStringLiteral("19200,N,8,1"));
    if (!run.port->open())
        return false;
    settings.baud = 19200;
    run.engine = std::make_unique<BusEngine>(*run.port, settings);
    connect(run.engine.get(), &BusEngine::readings, this,
            [&run](int, const QList<quint16> &, const QDateTime &, const QByteArray &frame) { run.frames << frame; });
    run.engine->start();
    return true;
}

void tst_busengine::healthyBusAtTheWireRate()
{
    Run run;
    BusSettings s;
    s.addresses = {1, 2, 3};
    QVERIFY(start(run, {"--addresses", "1-3", "--pace"}, s));
    QTRY_VERIFY_WITH_TIMEOUT(run.engine->exchanges() >= 60, 10000);
    run.stop();
    qint64 good = 0;
    for (int a : {1, 2, 3}) {
        const DeviceStats &st = run.engine->stats()[a];
        QCOMPARE(st.timeouts + st.crcErrors + st.exceptions, 0);
        QCOMPARE(st.goodReplies, st.requests);
        // Response times are benchmark figures (a loaded machine shifts them); here only that they were taken.
        QVERIFY(st.responseMinMs > 0 && st.responseMinMs <= st.responseMaxMs);
        QVERIFY(st.lastSeen.isValid());
        good += st.goodReplies;
    }
    QCOMPARE(qint64(run.frames.size()), good);
    for (const QByteArray &f : run.frames)
        QCOMPARE(f.size(), 41);
}

void tst_busengine::faultsNeverBecomeReadings()
{
    Run run;
    BusSettings s;
    s.addresses = {1, 2, 3, 4};
    s.timeoutMs = 60;
    QVERIFY(start(run, {"--addresses", "1-4", "--drop", "0.2", "--corrupt", "0.2", "--noise", "0.3", "--split", "7",
                        "--gap", "2", "--latency", "3", "--seed", "11"}, s));
    QTRY_VERIFY_WITH_TIMEOUT(run.engine->exchanges() >= 80, 20000);
    run.stop();
    qint64 outcomes = 0, requests = 0, good = 0;
    for (int a : {1, 2, 3, 4}) {
        const DeviceStats &st = run.engine->stats()[a];
        // Every request ends one way: a good reply, an exception, a bad CRC or a timeout.
        outcomes += st.goodReplies + st.exceptions + st.crcErrors + st.timeouts;
        requests += st.requests;
        good += st.goodReplies;
    }
    QCOMPARE(outcomes, requests);
    QVERIFY(run.engine->stats()[1].timeouts + run.engine->stats()[2].timeouts > 0);
    QVERIFY(run.engine->stats()[1].crcErrors + run.engine->stats()[2].crcErrors + run.engine->stats()[3].crcErrors > 0);
    QCOMPARE(qint64(run.frames.size()), good);
    for (const QByteArray &f : run.frames) { // not one corrupted or misframed reply became a reading
        QVERIFY(hasValidCrc(f));
        QCOMPARE(f.size(), 41);
        QCOMPARE(quint8(f[2]), quint8(36));
    }
}

void tst_busengine::statisticsEqualWhatTheSimulatorDid_data()
{
    QTest::addColumn<QStringList>("faults");
    QTest::newRow("drop") << QStringList{"--drop", "0.2", "--seed", "3"};
    QTest::newRow("corrupt") << QStringList{"--corrupt", "0.25", "--seed", "4"};
    QTest::newRow("noise") << QStringList{"--noise", "0.4", "--seed", "5"};
    QTest::newRow("split with gaps") << QStringList{"--split", "6", "--gap", "3", "--seed", "6"};
    QTest::newRow("latency") << QStringList{"--latency", "15", "--seed", "7"};
    QTest::newRow("all at once") << QStringList{"--drop", "0.1", "--corrupt", "0.15", "--noise", "0.3", "--split", "9",
                                                "--gap", "2", "--latency", "4", "--seed", "8"};
}

// The simulator logs what it did to every reply; the engine's statistics
// must say the same, device by device.
void tst_busengine::statisticsEqualWhatTheSimulatorDid()
{
    QFETCH(QStringList, faults);
    Run run;
    BusSettings s;
    s.addresses = {1, 2, 3};
    s.timeoutMs = 250; // far above any delay here: a timeout is a reply that never came whole
    QVERIFY(start(run, QStringList{"--addresses", "1-3", "--verbose"} + faults, s));
    QTRY_VERIFY_WITH_TIMEOUT(run.engine->exchanges() >= 60, 30000);
    run.stop();
    QTest::qWait(50);
    const QMap<int, SimulatorCounts> did = simulatorCounts(run.sim.readAllStandardError());
    qint64 faultsSeen = 0;
    for (int a : s.addresses) {
        const DeviceStats &st = run.engine->stats()[a];
        const SimulatorCounts d = did.value(a);
        const QByteArray where = QByteArray::number(a);
        QVERIFY2(d.requests > 0, where);
        QCOMPARE(st.requests, d.requests);
        QCOMPARE(st.goodReplies, d.clean);
        QCOMPARE(st.exceptions, 0);
        // A damaged body fails its CRC; a lost reply times out. A damaged
        // address or function is not this reply's header: it ends as one or the other.
        QCOMPARE(st.crcErrors + st.timeouts, d.dropped + d.corruptedHeader + d.corruptedBody);
        QVERIFY2(st.crcErrors >= d.corruptedBody && st.timeouts >= d.dropped, where);
        faultsSeen += d.dropped + d.corruptedHeader + d.corruptedBody;
    }
    if (faults.contains(QStringLiteral("--drop")) || faults.contains(QStringLiteral("--corrupt")))
        QVERIFY(faultsSeen > 0);
    for (const QByteArray &f : run.frames)
        QVERIFY(hasValidCrc(f) && f.size() == 41);
}

void tst_busengine::silentDevicesBackOff()
{
    Run run;
    BusSettings s;
    s.addresses = {1, 2, 3, 4};
    s.timeoutMs = 150; // short enough for the silent ones, long enough for a live reply on a loaded machine
    s.backoffCeiling = 8;
    QVERIFY(start(run, {"--addresses", "1-2"}, s));
    QSignalSpy changes(run.engine.get(), &BusEngine::deviceAnswering);
    QTRY_VERIFY_WITH_TIMEOUT(run.engine->stats()[1].goodReplies >= 100, 20000);
    run.stop();
    const auto &st = run.engine->stats();
    // A silent device is asked every few cycles (each time with its retry), the live ones every cycle.
    const qint64 silentPolls = st[3].requests / (s.retries + 1);
    QVERIFY2(silentPolls * 5 < st[1].requests,
             qPrintable(QStringLiteral("silent %1 polls, live %2").arg(silentPolls).arg(st[1].requests)));
    QCOMPARE(st[1].timeouts, 0);
    QCOMPARE(changes.count(), 2); // 3 and 4 fall silent, once each
}

void tst_busengine::exceptionIsNoTimeout()
{
    Run run;
    BusSettings s;
    s.addresses = {1};
    s.function = 0x41; // a function the devices do not know
    QVERIFY(start(run, {"--addresses", "1"}, s));
    QTRY_VERIFY_WITH_TIMEOUT(run.engine->exchanges() >= 5, 10000);
    run.stop();
    const DeviceStats &st = run.engine->stats()[1];
    QVERIFY(st.exceptions >= 5);
    QCOMPARE(st.timeouts, 0);
    QVERIFY(run.frames.isEmpty());
    QVERIFY(st.answering);
}

// A device switched on late: silent and backed off first, then, once it
// answers, polled every cycle again.
void tst_busengine::deviceThatComesBackIsPolledAgain()
{
    Run run;
    BusSettings s;
    s.addresses = {1, 2, 3};
    s.timeoutMs = 40;
    s.backoffCeiling = 4;
    QVERIFY(start(run, {"--addresses", "1-3", "--silent-until", "3:1500"}, s));
    QSignalSpy changes(run.engine.get(), &BusEngine::deviceAnswering);
    QTRY_VERIFY_WITH_TIMEOUT(changes.count() == 2, 10000); // silent, then answering
    QCOMPARE(changes.at(0), QVariantList({3, false}));
    QCOMPARE(changes.at(1), QVariantList({3, true}));
    const qint64 back1 = run.engine->stats()[1].goodReplies, back3 = run.engine->stats()[3].goodReplies;
    QTRY_VERIFY_WITH_TIMEOUT(run.engine->stats()[1].goodReplies >= back1 + 30, 10000);
    run.stop();
    const qint64 since1 = run.engine->stats()[1].goodReplies - back1, since3 = run.engine->stats()[3].goodReplies - back3;
    QVERIFY2(qAbs(since1 - since3) <= 1, qPrintable(QStringLiteral("%1 against %2").arg(since3).arg(since1)));
    QVERIFY(run.engine->stats()[3].answering);
}

// Transmitters read in the collectors' cycle by their own request, a relay's
// coil written between polls; an exception is never a reading.
void tst_busengine::transmittersAndRelays()
{
    Run run;
    BusSettings s;
    s.addresses = {1, 50, 51, 52};
    s.reads.insert(50, {0x03, 0, 2});
    s.reads.insert(51, {0x03, 0, 2});
    s.reads.insert(52, {0x03, 5, 2}); // registers it does not have
    QVERIFY(start(run, {"--addresses", "1", "--air", "50:th", "--air", "51:ht:headspace", "--air", "52:th", "--relay", "60",
                        "--weather", "5,0,40,0"},
                  s));
    QSignalSpy exceptions(run.engine.get(), &BusEngine::exceptionReply);
    QSignalSpy written(run.engine.get(), &BusEngine::written);
    run.engine->write(writeCoilRequest(60, 3, true));
    run.engine->write(writeCoilRequest(60, 9, true)); // no such coil: refused
    QTRY_VERIFY_WITH_TIMEOUT(written.count() == 2 && exceptions.count() >= 2, 10000);
    run.stop();
    QCOMPARE(written.at(0), QVariantList({writeCoilRequest(60, 3, true), true}));
    QCOMPARE(written.at(1), QVariantList({writeCoilRequest(60, 9, true), false}));
    QCOMPARE(exceptions.at(0), QVariantList({52, quint8(2)}));
    QByteArray said;
    QTRY_VERIFY_WITH_TIMEOUT((said += run.sim.readAllStandardOutput()).contains("vxsim: relay 60 coil 3 on"), 5000);
    int outside = 0, headspace = 0;
    for (const QByteArray &frame : run.frames) {
        const int address = quint8(frame[0]);
        QVERIFY(address != 52);
        if (address != 50 && address != 51)
            continue;
        const AirReading r = decodeAir(*airProfileNamed(address == 50 ? "th" : "ht"), replyRegisters(frame));
        QVERIFY2(r.ok(), qPrintable(r.fault));
        if (address == 50) {
            QCOMPARE(*r.celsius, 5.0);
            QCOMPARE(*r.relativeHumidity, 40.0);
            ++outside;
        } else {
            QVERIFY(*r.celsius > 5); // between the 20 °C grain and the air
            ++headspace;
        }
    }
    QVERIFY(outside > 0 && headspace > 0);
}

QTEST_GUILESS_MAIN(tst_busengine)
#include "tst_busengine.moc"
