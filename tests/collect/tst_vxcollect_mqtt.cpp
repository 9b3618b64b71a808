// vxcollect publishing to a real mosquitto broker the test starts, and its
// metrics endpoint read as a scraper reads it.
#include "ProcessSignal.h"
#include "HttpGet.h"
#include "MqttBroker.h"
#include "PromText.h"
#include "SimulatorLog.h"
#include "core/store/ReadingStore.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

using namespace vx;

class tst_vxcollect_mqtt : public QObject {
    Q_OBJECT
private slots:
    void topicsPayloadsStateAndWill();
    void brokerRestartLosesNothing();
    void metricsAgreeWithTheSimulator();
    void passwordAndTls();
    void refusedMessagesAreSetAside_data();
    void refusedMessagesAreSetAside();
    void crowdAtTheEndpointNeverStallsTheBus();
};

namespace {

struct Run {
    QTemporaryDir dir;
    QProcess sim, collect;
    QByteArray output; // the collector's, both channels

    QString bus() const { return dir.filePath(QStringLiteral("bus")); }
    bool start(const QStringList &simOptions, const QStringList &collectOptions)
    {
        sim.start(QStringLiteral(VXSIM_PATH), QStringList{"--link", bus()} + simOptions);
        if (!sim.waitForReadyRead(5000) || !QFileInfo::exists(bus()))
            return false;
        collect.setProcessChannelMode(QProcess::MergedChannels);
        collect.start(QStringLiteral(VXCOLLECT_PATH),
                      QStringList{"--port", bus(), "--dir", dir.path(), "--site", "north"} + collectOptions);
        return collect.waitForStarted(5000);
    }
    bool saw(const QByteArray &text, qsizetype from = 0)
    {
        output += collect.readAll();
        return output.indexOf(text, from) >= 0;
    }
    // The last status line since `from` shows at most `readings` waiting for the broker.
    bool drainedSince(qsizetype from, int readings)
    {
        static const QRegularExpression waiting(QStringLiteral("mqtt connected: (\\d+) readings waiting"));
        saw("");
        auto it = waiting.globalMatch(QString::fromUtf8(output.mid(from)));
        int last = -1;
        while (it.hasNext())
            last = it.next().captured(1).toInt();
        return last >= 0 && last <= readings;
    }
    ~Run()
    {
        for (QProcess *p : {&collect, &sim}) {
            p->terminate();
            if (!p->waitForFinished(5000))
                p->kill();
        }
    }
};

QJsonObject json(const QByteArray &payload)
{
    return QJsonDocument::fromJson(payload).object();
}

qint64 timeOf(const QJsonObject &o)
{
    return QDateTime::fromString(o.value(QStringLiteral("time")).toString(), Qt::ISODateWithMs).toMSecsSinceEpoch();
}


} // namespace

// Points, frames, retained state and status, and the last will when the
// collector dies without a word.
void tst_vxcollect_mqtt::topicsPayloadsStateAndWill()
{
    MqttBroker broker;
    VX_REQUIRE_BROKER(broker);
    MqttSubscriber watch(QStringLiteral("watch"), "vxmon/north/#", false);
    QVERIFY(watch.connectTo(broker.port()));
    QTRY_VERIFY(watch.subscribed());
    Run run;
    QVERIFY(run.start({"--pace", "--baud", "38400", "--addresses", "1-3"},
                      {"--baud", "38400", "--addresses", "1-3", "--mqtt", broker.address(), "--mqtt-keepalive", "5",
                       "--metrics", "off"}));
    QTRY_VERIFY_WITH_TIMEOUT(watch.on("vxmon/north/3").size() >= 3, 20000);

    static const QRegularExpression pointTopic(QStringLiteral("^vxmon/north/([1-3])/([0-9]+)$"));
    static const QRegularExpression otherTopic(QStringLiteral("^vxmon/north/(([1-3])|([1-3])/state|alarms|status)$"));
    QMap<QByteArray, QByteArray> points; // "address time point" -> payload
    const auto received = watch.messages(); // one snapshot: frames and points of the same moment
    for (const auto &m : received) {
        const auto p = pointTopic.match(QString::fromUtf8(m.topic));
        QVERIFY2(p.hasMatch() || otherTopic.match(QString::fromUtf8(m.topic)).hasMatch(), m.topic);
        if (p.hasMatch()) {
            const int point = p.captured(2).toInt();
            QVERIFY2(point >= 1 && point <= 18, m.topic);
            points.insert(p.captured(1).toUtf8() + ' ' + QByteArray::number(timeOf(json(m.payload))) + ' '
                              + QByteArray::number(point),
                          m.payload);
        }
    }
    for (int address = 1; address <= 3; ++address) {
        qint64 last = 0;
        const QByteArray topic = "vxmon/north/" + QByteArray::number(address);
        for (const auto &m : received) {
            if (m.topic != topic)
                continue;
            const QJsonObject frame = json(m.payload);
            const QJsonArray raw = frame.value("raw").toArray(), celsius = frame.value("celsius").toArray(),
                             status = frame.value("status").toArray();
            QCOMPARE(raw.size(), 18);
            QVERIFY2(timeOf(frame) > last, m.payload); // in the order taken
            last = timeOf(frame);
            // Each point of the frame also went on its own topic, saying the same.
            for (int k = 0; k < 18; ++k) {
                const QByteArray key = QByteArray::number(address) + ' ' + QByteArray::number(last) + ' '
                                       + QByteArray::number(k + 1);
                QVERIFY2(points.contains(key), key);
                const QJsonObject point = json(points.value(key));
                QCOMPARE(point.value("raw"), raw[k]);
                QCOMPARE(point.value("celsius"), celsius[k]);
                QCOMPARE(point.value("status"), status[k]);
                if (raw[k].toInt() != 65535)
                    QCOMPARE(point.value("celsius").toDouble(), raw[k].toInt() / 100.0);
            }
        }
    }
    QVERIFY(!watch.on("vxmon/north/status").isEmpty());
    QCOMPARE(watch.on("vxmon/north/status").first().payload, QByteArray("online"));

    // Somebody who comes later is told at once how things stand.
    MqttSubscriber late(QStringLiteral("late"), "vxmon/north/#", false);
    QVERIFY(late.connectTo(broker.port()));
    QTRY_VERIFY(late.on("vxmon/north/3/state").size() >= 1);
    QTRY_VERIFY(late.on("vxmon/north/status").size() >= 1);
    QCOMPARE(late.on("vxmon/north/status").first().payload, QByteArray("online"));
    QVERIFY(late.on("vxmon/north/status").first().retained);
    for (int address = 1; address <= 3; ++address) {
        const auto state = late.on("vxmon/north/" + QByteArray::number(address) + "/state");
        QVERIFY(!state.isEmpty());
        QVERIFY(state.first().retained);
        const QJsonObject o = json(state.first().payload);
        QCOMPARE(o.value("state").toString(), QStringLiteral("answering"));
        QVERIFY(o.value("requests").toInt() >= 1);
        QVERIFY(o.value("good_replies").toInt() >= 1);
    }

    // kill -9: the broker speaks the will.
    signalProcess(run.collect, SIGKILL);
    QVERIFY(run.collect.waitForFinished(5000));
    QTRY_VERIFY_WITH_TIMEOUT(watch.on("vxmon/north/status").last().payload == "offline", 15000);
    MqttSubscriber after(QStringLiteral("after"), "vxmon/north/status", false);
    QVERIFY(after.connectTo(broker.port()));
    QTRY_VERIFY(after.count() >= 1);
    QCOMPARE(after.messages().first().payload, QByteArray("offline"));
    QVERIFY(after.messages().first().retained);
}

// The broker stops for ten seconds in the middle of a run: every frame taken
// meanwhile waits in the outbox and arrives afterwards, in order, none missing.
void tst_vxcollect_mqtt::brokerRestartLosesNothing()
{
    MqttBroker broker;
    VX_REQUIRE_BROKER(broker);
    // A persistent session: what the collector publishes before this one is
    // back after the restart waits for it at the broker.
    MqttSubscriber keeper(QStringLiteral("keeper"), "vxmon/north/+", true);
    QVERIFY(keeper.connectTo(broker.port()));
    QTRY_VERIFY(keeper.subscribed());
    Run run;
    QVERIFY(run.start({"--pace", "--baud", "38400", "--addresses", "1-3"},
                      {"--baud", "38400", "--addresses", "1-3", "--mqtt", broker.address(), "--metrics", "off"}));
    QTRY_VERIFY_WITH_TIMEOUT(keeper.on("vxmon/north/1").size() >= 5, 20000);
    const qint64 downAt = QDateTime::currentMSecsSinceEpoch();
    QVERIFY(broker.stop());
    QTRY_VERIFY2_WITH_TIMEOUT(run.saw("MQTT broker " + broker.address().toUtf8() + " lost"),
                              run.output.right(1000).constData(), 10000);
    QTest::qWait(10000);
    const qint64 upAt = QDateTime::currentMSecsSinceEpoch();
    const qsizetype from = run.output.size();
    QVERIFY2(broker.start(), qPrintable(broker.why()));
    QTRY_VERIFY2_WITH_TIMEOUT(run.saw("reached", from), run.output.right(1000).constData(), 40000);
    // Caught up: a status line after the reconnection shows no more than a cycle's readings waiting
    // (how long the backlog takes is the machine's business; the stop's drain is bounded).
    QTRY_VERIFY2_WITH_TIMEOUT(run.drainedSince(from, 3 * 18), run.output.right(600).constData(), 60000);
    // ... and the outbox itself holds no more than that (the status line is the publisher's count; on a
    // loaded machine the outbox can still be behind it), so the stop's bounded drain has only a cycle left.
    QString why;
    const auto location = parseStoreLocation(run.dir.filePath(QStringLiteral("vxmon.db")), &why);
    const auto store = ReadingStore::open(*location, QString(), &why);
    QVERIFY2(store, qPrintable(why));
    QTRY_VERIFY_WITH_TIMEOUT(store->outboxReadings(MqttQueue) <= 3 * 18, 60000);
    signalProcess(run.collect, SIGTERM);
    QVERIFY(run.collect.waitForFinished(15000));
    QCOMPARE(run.collect.exitCode(), 0);
    QCOMPARE(store->outboxReadings(MqttQueue), 0);
    const QList<ReadingSet> stored = store->framesSince(0);
    int duringOutage = 0;
    QMap<int, QList<qint64>> expected;
    for (const ReadingSet &f : stored) {
        expected[f.address].append(f.timeMs);
        duringOutage += f.timeMs > downAt && f.timeMs < upAt;
    }
    QVERIFY2(duringOutage >= 30, QByteArray::number(duringOutage)); // the outage was real
    for (int address = 1; address <= 3; ++address) {
        const QByteArray topic = "vxmon/north/" + QByteArray::number(address);
        // At least once: a message in flight when the broker went away may come twice.
        QList<qint64> arrived;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                arrived.clear();
                for (const auto &m : keeper.on(topic)) {
                    const qint64 t = timeOf(json(m.payload));
                    if (arrived.isEmpty() || t > arrived.last())
                        arrived.append(t);
                    else if (!arrived.contains(t))
                        return false; // out of order: fails below with the lists
                }
                return arrived.size() >= expected[address].size();
            }(),
            20000);
        QCOMPARE(arrived, expected[address]);
    }
}

// The counters a scraper reads equal what the simulator says it did; health
// follows the port.
void tst_vxcollect_mqtt::metricsAgreeWithTheSimulator()
{
    Run run;
    QVERIFY(run.start({"--baud", "38400", "--addresses", "1-3", "--verbose", "--drop", "0.1", "--corrupt", "0.1",
                       "--seed", "11"},
                      {"--baud", "38400", "--addresses", "1-3", "--timeout", "250", "--metrics", "127.0.0.1:0"}));
    static const QRegularExpression listening(QStringLiteral("metrics on http://127\\.0\\.0\\.1:(\\d+)/metrics"));
    QTRY_VERIFY_WITH_TIMEOUT(run.saw("/metrics"), 10000);
    const int port = listening.match(QString::fromUtf8(run.output)).captured(1).toInt();
    QVERIFY(port > 0);
    auto scrape = [&] { return parsePromText(httpGet(port, "/metrics").second); };
    QTRY_VERIFY_WITH_TIMEOUT(scrape().value("vxcollect_exchanges_total").value_or(0) >= 90, 30000);
    const auto healthy = httpGet(port, "/healthz");
    QCOMPARE(healthy.first, 200);
    QCOMPARE(healthy.second, QByteArray("ok\n"));

    // The simulator goes away: the counters stop, health says why.
    run.sim.terminate();
    QVERIFY(run.sim.waitForFinished(5000));
    QTRY_VERIFY_WITH_TIMEOUT(httpGet(port, "/healthz").first == 503, 10000);
    QVERIFY(httpGet(port, "/healthz").second.contains("port closed"));
    // Once the exchange in flight has timed out, every request has its outcome.
    PromText text;
    auto settled = [&] {
        text = scrape();
        double asked = 0, ended = 0;
        for (const PromSample &s : text.family("vxcollect_requests_total"))
            asked += s.value;
        for (const char *outcome : {"vxcollect_good_replies_total", "vxcollect_timeouts_total",
                                    "vxcollect_crc_errors_total", "vxcollect_exceptions_total"})
            for (const PromSample &s : text.family(outcome))
                ended += s.value;
        return asked > 0 && asked == ended;
    };
    QTRY_VERIFY_WITH_TIMEOUT(settled(), 5000);
    QVERIFY2(text.errors.isEmpty(), qPrintable(text.errors.join('\n')));
    QCOMPARE(text.value("vxcollect_port_up"), 0.0);
    QCOMPARE(text.value("vxcollect_link_outages_total"), 1.0);

    const QMap<int, SimulatorCounts> did = simulatorCounts(run.sim.readAllStandardError());
    // The exchange in flight when the simulator went away may be logged by it
    // and not counted by the collector (the link's fault, not the device's),
    // or answered and not read: one device at most may be off, by one.
    int devicesOff = 0;
    qint64 faultsSeen = 0;
    for (int address = 1; address <= 3; ++address) {
        const QMap<QByteArray, QByteArray> labels{{"address", QByteArray::number(address)}};
        const SimulatorCounts d = did.value(address);
        const qint64 requests = qint64(text.value("vxcollect_requests_total", labels).value_or(-1));
        const qint64 good = qint64(text.value("vxcollect_good_replies_total", labels).value_or(-1));
        const qint64 failed = qint64(text.value("vxcollect_timeouts_total", labels).value_or(-1)
                                     + text.value("vxcollect_crc_errors_total", labels).value_or(-1));
        const QByteArray counts = QStringLiteral("address %1: collector %2 requests, %3 good, %4 failed; "
                                                 "simulator %5 requests, %6 clean, %7 faulty")
                                      .arg(address).arg(requests).arg(good).arg(failed)
                                      .arg(d.requests).arg(d.clean).arg(d.faulty()).toUtf8();
        QVERIFY2(d.requests >= 20, counts);
        QVERIFY2(qAbs(requests - d.requests) <= 1 && qAbs(good - d.clean) <= 1 && qAbs(failed - d.faulty()) <= 1, counts);
        devicesOff += requests != d.requests || good != d.clean || failed != d.faulty();
        QCOMPARE(requests, good + failed + qint64(text.value("vxcollect_exceptions_total", labels).value_or(-1)));
        faultsSeen += d.faulty();
        // The gauge holds the device's last good reading of point 1.
        const auto celsius = text.value("vxcollect_temperature_celsius", {{"address", QByteArray::number(address)}, {"point", "1"}});
        QVERIFY(celsius && *celsius > 10 && *celsius < 40);
    }
    QVERIFY(devicesOff <= 1);
    QVERIFY(faultsSeen > 0);
}

// A broker that wants TLS and a password: a wrong password is said and
// nothing is lost meanwhile; the right one, after a restart of the
// collector, publishes what waited in the outbox, then what comes.
void tst_vxcollect_mqtt::passwordAndTls()
{
    QTemporaryDir keys;
    auto run = [&](const QString &program, const QStringList &arguments) {
        QProcess p;
        p.setWorkingDirectory(keys.path());
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(program, arguments);
        const bool ok = p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
        if (!ok)
            qWarning().noquote() << program << arguments.join(' ') << p.readAll();
        return ok;
    };
    const QString openssl = QStandardPaths::findExecutable(QStringLiteral("openssl"));
    const QString passwd = QStandardPaths::findExecutable(QStringLiteral("mosquitto_passwd"));
    if (openssl.isEmpty() || passwd.isEmpty()) {
        if (qEnvironmentVariable("CI") == QLatin1String("true"))
            QFAIL("openssl and mosquitto_passwd are needed");
        QSKIP("openssl and mosquitto_passwd are needed");
    }
    QFile ext(keys.filePath(QStringLiteral("ext.cnf")));
    QVERIFY(ext.open(QIODevice::WriteOnly));
    ext.write("subjectAltName=IP:127.0.0.1\n");
    ext.close();
    QVERIFY(run(openssl, {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.pem",
                          "-days", "2", "-subj", "/CN=vx test CA"}));
    QVERIFY(run(openssl, {"req", "-newkey", "rsa:2048", "-nodes", "-keyout", "server.key", "-out", "server.csr",
                          "-subj", "/CN=127.0.0.1"}));
    QVERIFY(run(openssl, {"x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
                          "-out", "server.pem", "-days", "2", "-extfile", "ext.cnf"}));
    QVERIFY(run(passwd, {"-c", "-b", "passwd", "north", "s3cret"}));
    MqttBroker broker;
    broker.setListenerOptions(QStringLiteral("cafile %1\ncertfile %2\nkeyfile %3\npassword_file %4\nallow_anonymous false")
                                  .arg(keys.filePath("ca.pem"), keys.filePath("server.pem"), keys.filePath("server.key"),
                                       keys.filePath("passwd")));
    VX_REQUIRE_BROKER(broker);
    MqttSubscriber watch(QStringLiteral("watch"), "vxmon/north/#", false);
    watch.setLogin(QStringLiteral("north"), QStringLiteral("s3cret"));
    watch.setCaFile(keys.filePath("ca.pem"));
    QVERIFY(watch.connectTo(broker.port()));
    QTRY_VERIFY(watch.subscribed());

    Run bad;
    const QStringList tls{"--baud", "38400", "--addresses", "1-2", "--mqtt", broker.address(), "--mqtt-ca",
                          keys.filePath("ca.pem"), "--mqtt-user", "north", "--metrics", "off"};
    QVERIFY(bad.start({"--pace", "--baud", "38400", "--addresses", "1-2"}, tls + QStringList{"--mqtt-password", "wrong"}));
    QTRY_VERIFY2_WITH_TIMEOUT(bad.saw("not reachable"), bad.output.constData(), 15000);
    QVERIFY2(bad.output.toLower().contains("not authori"), bad.output.constData());
    QTRY_VERIFY_WITH_TIMEOUT(bad.saw("readings waiting") && bad.output.contains("mqtt unreachable"), 15000);
    signalProcess(bad.collect, SIGTERM);
    QVERIFY(bad.collect.waitForFinished(10000));
    QCOMPARE(bad.collect.exitCode(), 0);
    bad.sim.terminate();
    QVERIFY(bad.sim.waitForFinished(5000));
    QVERIFY(watch.on("vxmon/north/1").isEmpty());
    const qint64 restartedAt = QDateTime::currentMSecsSinceEpoch();

    // The same directory, so the same store and outbox.
    QProcess sim, collect;
    sim.start(QStringLiteral(VXSIM_PATH), {"--link", bad.bus(), "--pace", "--baud", "38400", "--addresses", "1-2"});
    QVERIFY(sim.waitForReadyRead(5000));
    collect.setProcessChannelMode(QProcess::MergedChannels);
    collect.start(QStringLiteral(VXCOLLECT_PATH), QStringList{"--port", bad.bus(), "--dir", bad.dir.path(), "--site", "north"}
                                                      + tls + QStringList{"--mqtt-password", "s3cret"});
    auto stop = qScopeGuard([&] {
        collect.terminate();
        collect.waitForFinished(10000);
        sim.terminate();
        sim.waitForFinished(5000);
    });
    QTRY_VERIFY_WITH_TIMEOUT(!watch.on("vxmon/north/1").isEmpty()
                                 && timeOf(json(watch.on("vxmon/north/1").last().payload)) > restartedAt + 500,
                             20000);
    const auto frames = watch.on("vxmon/north/1");
    QVERIFY2(timeOf(json(frames.first().payload)) < restartedAt, "what waited came first");
    for (int i = 1; i < frames.size(); ++i)
        QVERIFY(timeOf(json(frames[i].payload)) > timeOf(json(frames[i - 1].payload)));
}

// A broker that refuses messages over 300 bytes (every frame message): the
// points still go, the outbox drains, the refusals are counted and stored,
// and the collector neither loops nor floods its output. MQTT 5 learns the
// limit from the broker; 3.1.1 only from being disconnected.
void tst_vxcollect_mqtt::refusedMessagesAreSetAside_data()
{
    QTest::addColumn<QString>("version");
    QTest::newRow("MQTT 5") << "5";
    QTest::newRow("MQTT 3.1.1") << "3.1.1";
}

void tst_vxcollect_mqtt::refusedMessagesAreSetAside()
{
    QFETCH(QString, version);
    MqttBroker broker;
    broker.setListenerOptions(QStringLiteral("max_packet_size 300\n"));
    VX_REQUIRE_BROKER(broker);
    MqttSubscriber watch(QStringLiteral("watch"), "vxmon/north/#", false);
    QVERIFY(watch.connectTo(broker.port()));
    QTRY_VERIFY(watch.subscribed());
    Run run;
    QVERIFY(run.start({"--pace", "--baud", "38400", "--addresses", "1-2"},
                      {"--baud", "38400", "--addresses", "1-2", "--mqtt", broker.address(), "--mqtt-version", version,
                       "--metrics", "off"}));
    QTRY_VERIFY_WITH_TIMEOUT(watch.on("vxmon/north/2/18").size() >= 30, 40000);
    // Drained: the status line's backlog comes down to what one cycle adds.
    const qsizetype from = run.output.size();
    QTRY_VERIFY2_WITH_TIMEOUT(run.drainedSince(from, 4 * 18), run.output.right(600).constData(), 30000);
    signalProcess(run.collect, SIGTERM);
    QVERIFY(run.collect.waitForFinished(15000));
    run.saw("");
    QVERIFY(watch.on("vxmon/north/1").isEmpty()); // no frame message got through
    const qsizetype mqttLines = run.output.count("vxcollect: MQTT");
    QVERIFY2(mqttLines <= 6, run.output.right(2000).constData());

    QString why;
    const auto location = parseStoreLocation(run.dir.filePath(QStringLiteral("vxmon.db")), &why);
    const auto store = ReadingStore::open(*location, QString(), &why);
    QVERIFY2(store, qPrintable(why));
    QCOMPARE(store->outboxReadings(MqttQueue), 0);
    int refused = 0;
    for (const StoreEvent &e : store->events(0, QDateTime::currentMSecsSinceEpoch() + 1))
        refused += e.kind == QLatin1String("mqtt_refused") && e.detail.contains(QLatin1String("set aside"));
    QVERIFY(refused >= 1);
}

// 300 idle connections and 100 clients scraping as fast as they are answered:
// the bus neither loses an exchange nor times one out (the rate beside it is
// bench/collect's figure), and the endpoint serves again once they are gone.
void tst_vxcollect_mqtt::crowdAtTheEndpointNeverStallsTheBus()
{
    Run run;
    QVERIFY(run.start({"--pace", "--baud", "38400", "--addresses", "1-3"},
                      {"--baud", "38400", "--addresses", "1-3", "--timeout", "500", "--metrics", "127.0.0.1:0"}));
    static const QRegularExpression listening(QStringLiteral("metrics on http://127\\.0\\.0\\.1:(\\d+)/metrics"));
    QTRY_VERIFY_WITH_TIMEOUT(run.saw("/metrics"), 10000);
    const quint16 port = quint16(listening.match(QString::fromUtf8(run.output)).captured(1).toInt());
    std::vector<std::unique_ptr<QTcpSocket>> crowd;
    for (int i = 0; i < 300; ++i) {
        crowd.push_back(std::make_unique<QTcpSocket>());
        crowd.back()->connectToHost(QHostAddress::LocalHost, port);
    }
    int scrapes = 0;
    for (int i = 0; i < 100; ++i) {
        crowd.push_back(std::make_unique<QTcpSocket>());
        QTcpSocket *s = crowd.back().get();
        auto ask = [s] { s->write("GET /metrics HTTP/1.1\r\nHost: t\r\n\r\n"); };
        connect(s, &QTcpSocket::connected, s, ask);
        connect(s, &QTcpSocket::readyRead, s, [s, ask, &scrapes] {
            // Each answer asks for the next; how much came back is not this test's business.
            if (s->readAll().contains("HTTP/1.1 ")) {
                ++scrapes;
                ask();
            }
        });
        s->connectToHost(QHostAddress::LocalHost, port);
    }
    QTest::qWait(4000);
    const qsizetype cycleLine = run.output.size();
    QTRY_VERIFY_WITH_TIMEOUT(run.saw("cycle ", cycleLine), 5000); // the bus went on meanwhile
    crowd.clear();
    QVERIFY(scrapes > 0);
    PromText text;
    QTRY_VERIFY_WITH_TIMEOUT((text = parsePromText(httpGet(port, "/metrics").second)).value("vxcollect_exchanges_total"),
                             15000);
    for (int address = 1; address <= 3; ++address) {
        const QMap<QByteArray, QByteArray> labels{{"address", QByteArray::number(address)}};
        QCOMPARE(text.value("vxcollect_timeouts_total", labels), 0.0);
        QCOMPARE(text.value("vxcollect_crc_errors_total", labels), 0.0);
        QVERIFY(text.value("vxcollect_good_replies_total", labels).value_or(0) >= 10);
    }
    QCOMPARE(httpGet(port, "/healthz").first, 200);
}

QTEST_GUILESS_MAIN(tst_vxcollect_mqtt)
#include "tst_vxcollect_mqtt.moc"
