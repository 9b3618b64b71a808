#include "core/central/Metrics.h"
#include "core/central/MqttMessages.h"
#include "collect/CollectorSettings.h"

#include "PromText.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace vx;

// What a collector tells central systems, as bytes: MQTT topics and payloads,
// the metrics text, and the options that name brokers and listeners.
class tst_central : public QObject {
    Q_OBJECT
private slots:
    void pointPayload_data();
    void pointPayload();
    void framePayloadMatchesItsPoints();
    void topicLevels_data();
    void topicLevels();
    void outboxEntriesBecomeMessages();
    void alarmAndStatePayloads();
    void metricsTextParses();
    void metricsLeaveOutWhatIsNotThere();
    void hostPort_data();
    void hostPort();
    void mqttOptions_data();
    void mqttOptions();
};

namespace {
constexpr qint64 kT0 = 1796633415123; // 2026-12-07T08:50:15.123Z
}

void tst_central::pointPayload_data()
{
    QTest::addColumn<int>("raw");
    QTest::addColumn<QJsonValue>("celsius");
    QTest::addColumn<QString>("status");
    QTest::newRow("ok") << 2150 << QJsonValue(21.5) << "ok";
    QTest::newRow("below zero") << int(quint16(-1050)) << QJsonValue(-10.5) << "ok";
    QTest::newRow("no reading") << 65535 << QJsonValue(QJsonValue::Null) << "no_reading";
    QTest::newRow("power-on value") << 8500 << QJsonValue(85.0) << "power_on";
    QTest::newRow("out of range") << 13000 << QJsonValue(130.0) << "out_of_range";
    QTest::newRow("hundredths kept") << 2001 << QJsonValue(20.01) << "ok";
}

void tst_central::pointPayload()
{
    QFETCH(int, raw);
    QFETCH(QJsonValue, celsius);
    QFETCH(QString, status);
    const QByteArray payload = vx::pointPayload(kT0, quint16(raw));
    QJsonParseError error;
    const QJsonObject o = QJsonDocument::fromJson(payload, &error).object();
    QVERIFY2(error.error == QJsonParseError::NoError, payload);
    QCOMPARE(o.size(), 4);
    QCOMPARE(o.value("time").toString(), QStringLiteral("2026-12-07T08:50:15.123Z"));
    QCOMPARE(QDateTime::fromString(o.value("time").toString(), Qt::ISODateWithMs).toMSecsSinceEpoch(), kT0);
    QCOMPARE(o.value("raw").toInt(), raw);
    QCOMPARE(o.value("status").toString(), status);
    if (celsius.isNull())
        QVERIFY(o.value("celsius").isNull());
    else
        QCOMPARE(o.value("celsius").toDouble(), celsius.toDouble());
}

void tst_central::framePayloadMatchesItsPoints()
{
    const ReadingSet frame{kT0, 7, {2150, 65535, 8500}};
    const QJsonObject o = QJsonDocument::fromJson(framePayload(frame)).object();
    QCOMPARE(o.value("time").toString(), QStringLiteral("2026-12-07T08:50:15.123Z"));
    const QJsonArray celsius = o.value("celsius").toArray(), raw = o.value("raw").toArray(),
                     status = o.value("status").toArray();
    QCOMPARE(raw.size(), 3);
    for (int k = 0; k < 3; ++k) {
        const QJsonObject point = QJsonDocument::fromJson(vx::pointPayload(kT0, frame.raw[k])).object();
        QCOMPARE(celsius[k], point.value("celsius"));
        QCOMPARE(raw[k], point.value("raw"));
        QCOMPARE(status[k], point.value("status"));
    }
}

void tst_central::topicLevels_data()
{
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QString>("site");
    QTest::addColumn<bool>("prefixOk");
    QTest::addColumn<bool>("siteOk");
    QTest::newRow("plain") << "vxmon" << "depot-3" << true << true;
    QTest::newRow("prefix of levels") << "acme/grain" << "北仓" << true << true;
    QTest::newRow("wildcards") << "vx+" << "a#b" << false << false;
    QTest::newRow("empty levels") << "acme//grain" << "" << false << false;
    QTest::newRow("site of two levels") << "/vxmon" << "a/b" << false << false;
    // What libmosquitto's own check refuses (it then closed descriptor 0 when creating a client).
    QTest::newRow("control characters") << "vx\tmon" << QString("a") + QChar(1) << false << false;
    QTest::newRow("C1 control, DEL") << QString("vx") + QChar(0x85) << QString("a") + QChar(0x7F) << false << false;
    QTest::newRow("non-characters") << QString(QChar(0xFDD0)) << QString(QChar(0xFFFE)) << false << false;
    QTest::newRow("plane 1 non-character") << QString::fromUcs4(U"\U0001FFFF") << QString::fromUcs4(U"\U0001F33E") << false << true;
    QTest::newRow("not UTF-8 (decoded as U+FFFD)") << "vxmon" << QString::fromUtf8("a\xff") << true << false;
}

void tst_central::topicLevels()
{
    QFETCH(QString, prefix);
    QFETCH(QString, site);
    QFETCH(bool, prefixOk);
    QFETCH(bool, siteOk);
    QCOMPARE(mqttPrefixProblem(prefix).isEmpty(), prefixOk);
    QCOMPARE(mqttSiteProblem(site).isEmpty(), siteOk);
}

void tst_central::outboxEntriesBecomeMessages()
{
    MqttTopics topics;
    topics.prefix = QStringLiteral("acme/grain");
    topics.site = QStringLiteral("north");
    OutboxEntry frame;
    frame.frame = {kT0, 12, {2000, 2001}};
    const QList<MqttMessage> m = mqttMessagesFor(frame, topics);
    QCOMPARE(m.size(), 3);
    QCOMPARE(m[0].topic, QByteArray("acme/grain/north/12/1"));
    QCOMPARE(m[1].topic, QByteArray("acme/grain/north/12/2"));
    QCOMPARE(m[1].payload, vx::pointPayload(kT0, 2001));
    QCOMPARE(m[2].topic, QByteArray("acme/grain/north/12"));
    QVERIFY(!m[0].retain && !m[2].retain);

    OutboxEntry alarm;
    alarm.isEvent = true;
    alarm.event = {kT0, 3, QStringLiteral("alarm_raised"), QStringLiteral("高温 电缆03 层05（31.20 °C）")};
    const QList<MqttMessage> a = mqttMessagesFor(alarm, topics);
    QCOMPARE(a.size(), 1);
    QCOMPARE(a[0].topic, QByteArray("acme/grain/north/alarms"));

    OutboxEntry silent;
    silent.isEvent = true;
    silent.event = {kT0, 3, QStringLiteral("silent"), {}};
    QVERIFY(mqttMessagesFor(silent, topics).isEmpty()); // the retained state says it
    QCOMPARE(topics.state(3), QByteArray("acme/grain/north/3/state"));
    QCOMPARE(topics.status(), QByteArray("acme/grain/north/status"));
}

void tst_central::alarmAndStatePayloads()
{
    const QJsonObject alarm = QJsonDocument::fromJson(alarmPayload({kT0, 3, QStringLiteral("alarm_cleared"),
                                                                   QStringLiteral("高温 \"电缆03\"")}))
                                  .object();
    QCOMPARE(alarm.value("state").toString(), QStringLiteral("cleared"));
    QCOMPARE(alarm.value("cable").toInt(), 3);
    QCOMPARE(alarm.value("text").toString(), QStringLiteral("高温 \"电缆03\""));

    DeviceStats stats;
    stats.requests = 10;
    stats.goodReplies = 8;
    stats.timeouts = 2;
    stats.responseSumMs = 200;
    stats.answering = false;
    const QJsonObject state = QJsonDocument::fromJson(statePayload(stats, kT0)).object();
    QCOMPARE(state.value("state").toString(), QStringLiteral("silent"));
    QCOMPARE(state.value("requests").toInt(), 10);
    QCOMPARE(state.value("good_replies").toInt(), 8);
    QCOMPARE(state.value("timeouts").toInt(), 2);
    QCOMPARE(state.value("response_ms").toDouble(), 25.0);
    QVERIFY(state.value("last_seen").isNull());
}

void tst_central::metricsTextParses()
{
    CollectorMetrics m;
    DeviceMetrics d;
    d.address = 4;
    d.up = true;
    d.requests = 1234567890123;
    d.goodReplies = 1200;
    d.crcErrors = 3;
    d.responseMeanSeconds = 0.0265;
    d.lastSeenAgeSeconds = 1.5;
    m.devices = {d};
    m.devices.append(DeviceMetrics{9, false, 5, 0, 5, 0, 0, 0, 0, 0, std::nullopt});
    m.temperatures = {{4, 1, 21.5}, {4, 2, -3.25}};
    m.portOpen = true;
    m.mqttBacklog = 42;
    m.mqttConnected = true;
    m.activeAlarms = 2;
    m.notify = {{QStringLiteral("duty \"group\""), 3, 10, 1}};
    const PromText text = parsePromText(prometheusText(m));
    QVERIFY2(text.errors.isEmpty(), qPrintable(text.errors.join('\n')));
    QCOMPARE(text.value("vxcollect_temperature_celsius", {{"address", "4"}, {"point", "2"}}), -3.25);
    QCOMPARE(text.value("vxcollect_requests_total", {{"address", "4"}}), 1234567890123.0);
    QCOMPARE(text.value("vxcollect_crc_errors_total", {{"address", "4"}}), 3.0);
    QCOMPARE(text.value("vxcollect_device_up", {{"address", "9"}}), 0.0);
    QCOMPARE(text.value("vxcollect_response_seconds_mean", {{"address", "4"}}), 0.0265);
    QVERIFY(!text.value("vxcollect_response_seconds_mean", {{"address", "9"}})); // no reply: no time
    QVERIFY(!text.value("vxcollect_last_seen_age_seconds", {{"address", "9"}}));
    QCOMPARE(text.value("vxcollect_mqtt_backlog_readings"), 42.0);
    QCOMPARE(text.value("vxcollect_active_alarms"), 2.0);
    QCOMPARE(text.value("vxcollect_notify_waiting", {{"channel", "duty \"group\""}}), 3.0);
    QCOMPARE(text.value("vxcollect_notify_expired_total", {{"channel", "duty \"group\""}}), 1.0);
    QCOMPARE(text.types.value("vxcollect_requests_total"), QByteArray("counter"));
    QCOMPARE(text.types.value("vxcollect_temperature_celsius"), QByteArray("gauge"));
    for (auto it = text.types.cbegin(); it != text.types.cend(); ++it)
        QCOMPARE(it.key().endsWith("_total"), it.value() == "counter");
}

void tst_central::metricsLeaveOutWhatIsNotThere()
{
    const PromText text = parsePromText(prometheusText(CollectorMetrics{}));
    QVERIFY2(text.errors.isEmpty(), qPrintable(text.errors.join('\n')));
    QVERIFY(!text.types.contains("vxcollect_mqtt_backlog_readings"));
    QVERIFY(!text.types.contains("vxcollect_central_backlog_readings"));
    QVERIFY(!text.types.contains("vxcollect_notify_waiting"));
    QVERIFY(text.family("vxcollect_temperature_celsius").isEmpty());
    QCOMPARE(text.value("vxcollect_port_up"), 0.0);
    QCOMPARE(prometheusLabelValue("a\\b\"c\nd"), QByteArray("a\\\\b\\\"c\\nd"));
}

void tst_central::hostPort_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("allowZero");
    QTest::addColumn<QString>("host"); // empty: refused
    QTest::addColumn<int>("port");
    QTest::newRow("host") << "broker.local" << false << "broker.local" << 1883;
    QTest::newRow("host and port") << "10.0.0.5:8883" << false << "10.0.0.5" << 8883;
    QTest::newRow("v6") << "[::1]:9464" << false << "::1" << 9464;
    QTest::newRow("port 0 where allowed") << "127.0.0.1:0" << true << "127.0.0.1" << 0;
    QTest::newRow("port 0") << "127.0.0.1:0" << false << "" << 0;
    QTest::newRow("port too high") << "h:65536" << false << "" << 0;
    QTest::newRow("url") << "mqtt://h:1883" << false << "" << 0;
    QTest::newRow("empty") << "" << false << "" << 0;
    QTest::newRow("two colons") << "a:1:2" << false << "" << 0;
}

void tst_central::hostPort()
{
    QFETCH(QString, text);
    QFETCH(bool, allowZero);
    QFETCH(QString, host);
    QFETCH(int, port);
    const auto parsed = parseHostPort(text, 1883, allowZero);
    QCOMPARE(parsed.has_value(), !host.isEmpty());
    if (parsed) {
        QCOMPARE(parsed->host, host);
        QCOMPARE(parsed->port, port);
    }
}

void tst_central::mqttOptions_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("error"); // empty: accepted
    QTest::newRow("broker") << QStringList{"--mqtt", "broker:1884", "--mqtt-qos", "0"} << "";
    QTest::newRow("qos") << QStringList{"--mqtt", "broker", "--mqtt-qos", "3"} << "--mqtt-qos: \"3\" is not a whole number from 0 to 2";
    QTest::newRow("broker text") << QStringList{"--mqtt", "mqtt://broker"} << "--mqtt: \"mqtt://broker\" is not a host or host:port";
    QTest::newRow("prefix") << QStringList{"--mqtt", "b", "--mqtt-prefix", "a/#"} << "--mqtt-prefix: the MQTT prefix \"#\" holds '#'";
    QTest::newRow("site") << QStringList{"--mqtt", "b", "--site", "a/b"} << "--site: the site \"a/b\" holds '/'";
    QTest::newRow("site without mqtt") << QStringList{"--site", "a/b"} << "";
    QTest::newRow("ca file") << QStringList{"--mqtt", "b", "--mqtt-ca", "/nonexistent.pem"} << "--mqtt-ca: cannot read \"/nonexistent.pem\"";
    QTest::newRow("metrics") << QStringList{"--metrics", "everywhere"} << "--metrics: \"everywhere\" is not host:port or off";
    QTest::newRow("metrics off") << QStringList{"--metrics", "off"} << "";
}

void tst_central::mqttOptions()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, error);
    QTemporaryDir dir;
    const SettingsRead read = readCollectorSettings(QStringList{"vxcollect", "--dir", dir.path(), "--port", "/dev/null"} + arguments);
    if (error.isEmpty()) {
        QVERIFY2(read.errors.isEmpty(), qPrintable(read.errors.join('\n')));
    } else {
        QCOMPARE(read.errors.size(), 1);
        QVERIFY2(read.errors[0].startsWith(error), qPrintable(read.errors[0]));
    }
    if (QTest::currentDataTag() == QByteArray("broker")) {
        QCOMPARE(read.settings.mqtt.host, QStringLiteral("broker"));
        QCOMPARE(read.settings.mqtt.port, 1884);
        QCOMPARE(read.settings.mqtt.qos, 0);
        QVERIFY(read.settings.store.mqtt); // readings queue for the broker
        QCOMPARE(read.settings.metricsPort, 9464);
    }
    if (QTest::currentDataTag() == QByteArray("metrics off"))
        QVERIFY(read.settings.metricsHost.isEmpty());
}

QTEST_GUILESS_MAIN(tst_central)
#include "tst_central.moc"
