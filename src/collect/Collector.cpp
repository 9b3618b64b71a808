#include "collect/Collector.h"

#include "acquisition/Measurement.h"
#include "central/Metrics.h"
#include "central/MqttPublisher.h"
#include "http/HttpServer.h"
#include "core/FormState.h"
#include "core/HexText.h"
#include "grain/AlarmSettingsFile.h"
#include "store/ReadingStore.h"
#include "platform/SerialPort.h"
#include "platform/TcpTarget.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

namespace vx {

Collector::Collector(const CollectorSettings &settings, std::unique_ptr<SerialPort> port, QObject *parent)
    : QObject(parent), m_settings(settings), m_port(std::move(port)), m_store(settings.store)
{
    connect(&m_store, &StoreService::problem, this, [](const QString &message) {
        std::fprintf(stderr, "vxcollect: %s\n", qPrintable(message));
    });
    connect(&m_store, &StoreService::recovered, this, [](const QString &message) {
        std::fprintf(stderr, "vxcollect: %s\n", qPrintable(message));
    });
    m_port->setSettings(QStringLiteral("%1,N,8,1").arg(m_settings.bus.baud));
    m_engine = std::make_unique<BusEngine>(*m_port, m_settings.bus);
    m_records.setProgramDir(m_settings.programDir);
    m_records.setLossHandler([](const QString &path) {
        const QString dir = QFileInfo(path).absolutePath();
        std::fprintf(stderr, "vxcollect: cannot write records in %s (first: %s); they are lost until it is writable again\n",
                     qPrintable(dir), qPrintable(QFileInfo(path).fileName()));
    });
    m_records.setRecoveryHandler([](const QString &dir, qint64 lost) {
        std::fprintf(stderr, "vxcollect: records are written in %s again; %lld were lost\n", qPrintable(dir), lost);
    });
    const QString dataGet = QDir(m_settings.programDir).filePath(QStringLiteral("dataGet.txt"));
    m_records.setSizeLimit(dataGet, m_settings.rawLogMaxBytes);
    connect(m_engine.get(), &BusEngine::received, this, [this, dataGet](const QByteArray &bytes, const QDateTime &at) {
        m_records.append(dataGet, dataGetRecord(at, RecHexTail(bytes)));
    });
    connect(m_engine.get(), &BusEngine::readings, this,
            [this](int address, const QList<quint16> &registers, const QDateTime &arrived, const QByteArray &) {
                onReadings(address, registers, arrived);
            });
    connect(m_engine.get(), &BusEngine::deviceAnswering, this, [this](int address, bool answering) {
        m_store.addEvent({QDateTime::currentMSecsSinceEpoch(), address,
                          answering ? QStringLiteral("answering") : QStringLiteral("silent"), QString()});
        publishState(address);
        if (m_settings.json)
            print(QJsonDocument(QJsonObject{{QStringLiteral("device"), address},
                                            {QStringLiteral("state"), answering ? QStringLiteral("answering")
                                                                                : QStringLiteral("silent")},
                                            {QStringLiteral("time"),
                                             QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs)}})
                      .toJson(QJsonDocument::Compact));
    });
    connect(m_engine.get(), &BusEngine::cycleDone, this, &Collector::onCycle);
    connect(m_port.get(), &SerialPort::commEvent, this, [this](CommEvent event) {
        if (event == CommEvent::Error)
            onPortLost();
    });
    const AlarmSettingsRead alarms = readAlarmSettings(alarmSettingsPath(m_settings.programDir));
    m_alarmSettings = alarms.settings;
    m_alarmSilentMinutes = alarms.silentMinutes;
    for (const QString &e : alarms.errors)
        std::fprintf(stderr, "vxcollect: %s (the default is used)\n", qPrintable(e));
    // Once a second, whether polling or only listening to uploads.
    m_alarmTimer.setInterval(1000);
    connect(&m_alarmTimer, &QTimer::timeout, this, &Collector::evaluateAlarms);
    m_reconnect.setSingleShot(true);
    connect(&m_reconnect, &QTimer::timeout, this, &Collector::reconnect);
    connect(m_engine.get(), &BusEngine::stopped, this, &Collector::stopped);
}

Collector::~Collector()
{
    m_http.reset(); // its thread reads the snapshot: gone before it is
    // What the last commit queued goes to the broker before it hears "offline",
    // and to the central store, both at once: neither outlasts the stop's deadline.
    m_store.flush();
    if (m_mqtt)
        m_mqtt->requestStop(2500);
    m_store.stop();
    if (m_mqtt)
        m_mqtt->stop(2500);
}

Collector::StartResult Collector::start(QString *why)
{
    QString storeWhy;
    if (!m_store.start(&storeWhy)) {
        *why = QStringLiteral("cannot use the readings store: %1").arg(storeWhy);
        return StartResult::StoreUnavailable;
    }
    if (!m_port->open()) {
        const QString device = m_port->deviceName();
        *why = isTcpDevice(device) ? m_port->openError()
                                   : QStringLiteral("cannot open the port %1 (%2)").arg(m_settings.port, device);
        return StartResult::PortUnavailable;
    }
    if (m_settings.mqtt.enabled()) {
        m_mqtt = std::make_unique<MqttPublisher>(m_settings.mqtt, m_settings.store.site, m_settings.store.local);
        m_mqtt->setReporter([](const QString &line) { std::fprintf(stderr, "vxcollect: %s\n", qPrintable(line)); });
        m_mqtt->setQueuedCount([this] { return m_store.readingsQueuedForMqtt(); });
        QString mqttWhy;
        if (!m_mqtt->start(&mqttWhy)) {
            *why = QStringLiteral("cannot read the MQTT outbox: %1").arg(mqttWhy);
            return StartResult::StoreUnavailable;
        }
    }
    QString metricsWhy;
    if (!startMetrics(&metricsWhy)) // collecting matters more than being watched
        std::fprintf(stderr, "vxcollect: no metrics: %s\n", qPrintable(metricsWhy));
    QDir(m_settings.programDir).mkpath(QStringLiteral("data"));
    m_sinceStatus.start();
    m_engine->start();
    m_alarmTimer.start();
    return StartResult::Started;
}

void Collector::stop()
{
    m_reconnect.stop();
    m_alarmTimer.stop();
    if (m_engine->running())
        m_engine->stop();
    else
        emit stopped();
}

// The port went away under us (a gateway dropped the connection, an adapter
// was pulled): the engine waits, and the port is opened again, less and less
// often, until it is back.
void Collector::onPortLost()
{
    ++m_outages;
    m_downSince.start();
    m_reconnectDelayMs = 1000;
    std::fprintf(stderr, "vxcollect: lost %s; reconnecting (outage %d)\n", qPrintable(m_port->deviceName()), m_outages);
    m_reconnect.start(m_reconnectDelayMs);
}

void Collector::reconnect()
{
    if (m_port->open()) {
        std::fprintf(stderr, "vxcollect: %s back after %.1f s\n", qPrintable(m_port->deviceName()),
                     m_downSince.elapsed() / 1000.0);
        return;
    }
    m_reconnectDelayMs = qMin(30000, m_reconnectDelayMs * 2);
    m_reconnect.start(m_reconnectDelayMs);
}

void Collector::onReadings(int address, const QList<quint16> &registers, const QDateTime &arrived)
{
    // The window's data-log record, in the window's file, so either can collect.
    if (address >= 1 && address <= kMaxReplyAddress) {
        const QString log = QDir(m_settings.programDir).filePath(QStringLiteral("data/%1.txt").arg(address));
        m_records.append(log, dataLogRecord(arrived, valueTexts(registers)));
    }
    const ReadingSet frame{arrived.toMSecsSinceEpoch(), address, registers};
    m_store.add(frame);
    m_latest.insert(address, frame);
    m_snapshot.take(address, registers, arrived.toMSecsSinceEpoch());
    if (!m_settings.json)
        return;
    QJsonArray raw, celsius;
    for (quint16 r : registers) {
        raw.append(int(r));
        celsius.append(r == kNoReading ? QJsonValue() : QJsonValue(hundredthsOf(r) / 100.0));
    }
    print(QJsonDocument(QJsonObject{{QStringLiteral("device"), address},
                                    {QStringLiteral("time"), arrived.toUTC().toString(Qt::ISODateWithMs)},
                                    {QStringLiteral("raw"), raw},
                                    {QStringLiteral("celsius"), celsius}})
              .toJson(QJsonDocument::Compact));
}

void Collector::evaluateAlarms()
{
    if (m_http)
        publishSnapshot();
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    AlarmSettings settings = m_alarmSettings;
    // Silent: three cycles without a reply (ten minutes when devices only upload), or as configured.
    const qint64 cycle = qMax<qint64>(m_lastCycleMs, m_settings.bus.cyclePeriodMs);
    settings.silentAfterMs = m_alarmSilentMinutes > 0 ? qint64(m_alarmSilentMinutes) * 60000
                             : m_settings.bus.mode == BusSettings::Mode::Upload ? 600000
                                                                                 : qMax<qint64>(3 * cycle, 1000);
    if (now - m_windowAgoAt >= 60000) {
        m_windowAgoAt = now;
        m_windowAgo.clear();
        if (!m_readBack) {
            QString why;
            if (const auto location = parseStoreLocation(m_settings.store.local, &why))
                m_readBack = ReadingStore::open(*location, m_settings.store.site, &why);
        }
        const qint64 window = qint64(settings.riseWindowHours) * 3600000;
        const qint64 slack = qMax<qint64>(window / 8, 30 * 60000);
        for (int c = 1; m_readBack && c <= kCables; ++c) {
            for (int l = 1; l <= kLayers; ++l) {
                const PointReading &latest = m_snapshot.at(c, l).latest;
                if (!latest.temperature())
                    continue;
                const qint64 ago = latest.timeMs - window;
                const StoredReading *best = nullptr;
                const QList<StoredReading> near = m_readBack->readings(c, l, ago - slack, ago + slack);
                for (const StoredReading &r : near)
                    if (r.status == ReadingStatus::Ok && (!best || qAbs(r.timeMs - ago) < qAbs(best->timeMs - ago)))
                        best = &r;
                if (best)
                    m_windowAgo.insert({c, l}, {best->timeMs, best->raw});
            }
        }
    }
    for (const AlarmTransition &t : m_alarms.update(vx::evaluateAlarms(m_snapshot, now, settings, m_windowAgo), now)) {
        m_store.addEvent({t.alarm.changedMs, t.alarm.condition.cable, t.eventKind(), t.text()});
        if (m_settings.json) {
            const AlarmCondition &c = t.alarm.condition;
            QJsonObject o{{QStringLiteral("alarm"), ruleKey(c.rule)},
                          {QStringLiteral("state"), t.what},
                          {QStringLiteral("cable"), c.cable},
                          {QStringLiteral("value"), c.value},
                          {QStringLiteral("detail"), c.detail},
                          {QStringLiteral("time"), QDateTime::fromMSecsSinceEpoch(t.alarm.changedMs, Qt::UTC)
                                                       .toString(Qt::ISODateWithMs)}};
            if (c.layer > 0)
                o.insert(QStringLiteral("layer"), c.layer);
            print(QJsonDocument(o).toJson(QJsonDocument::Compact));
        }
    }
}

void Collector::onCycle()
{
    if (m_cycleClock.isValid())
        m_lastCycleMs = m_cycleClock.elapsed();
    m_cycleClock.start();
    // Every device's statistics now and then; a change of state goes at once.
    if (m_mqtt && (!m_sinceStatePublished.isValid() || m_sinceStatePublished.elapsed() >= 10000)) {
        m_sinceStatePublished.start();
        for (int address : m_settings.bus.addresses)
            publishState(address);
    }
    if (m_settings.quiet || m_settings.json)
        return;
    int answering = 0, silent = 0;
    for (const DeviceStats &s : m_engine->stats())
        (s.answering ? answering : silent) += 1;
    const double seconds = qMax(1e-3, m_sinceStatus.nsecsElapsed() / 1e9);
    const double rate = double(m_engine->exchanges() - m_exchangesAtStatus) / seconds;
    m_exchangesAtStatus = m_engine->exchanges();
    m_sinceStatus.start();
    QString line = QStringLiteral("cycle %1: %2 answering, %3 silent, %4 exchanges/s")
                       .arg(m_engine->cycles())
                       .arg(answering)
                       .arg(silent)
                       .arg(rate, 0, 'f', 1);
    if (m_store.forwarding())
        line += QStringLiteral(", central %1: %2 readings waiting")
                    .arg(m_store.centralConnected() ? QStringLiteral("connected") : QStringLiteral("unreachable"))
                    .arg(m_store.centralBacklog());
    if (m_mqtt)
        line += QStringLiteral(", mqtt %1: %2 readings waiting")
                    .arg(m_mqtt->connected() ? QStringLiteral("connected") : QStringLiteral("unreachable"))
                    .arg(m_mqtt->backlog());
    if (m_outages > 0)
        line += QStringLiteral(", %1 link outages").arg(m_outages);
    if (m_alarms.activeCount() > 0)
        line += QStringLiteral(", %1 alarms").arg(m_alarms.activeCount());
    if (!m_store.writable())
        line += QStringLiteral(", store not writable: %1 readings held").arg(m_store.readingsPending());
    if (m_store.readingsLost() > 0)
        line += QStringLiteral(", %1 readings lost (store not writable)").arg(m_store.readingsLost());
    print(line.toUtf8());
}

void Collector::publishState(int address)
{
    if (!m_mqtt)
        return;
    const auto stats = m_engine->stats().constFind(address);
    if (stats == m_engine->stats().constEnd())
        return;
    m_mqtt->publishRetained(m_mqtt->topics().state(address), statePayload(*stats, QDateTime::currentMSecsSinceEpoch()));
}

CollectorMetrics Collector::metrics() const
{
    CollectorMetrics m;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const auto &stats = m_engine->stats();
    for (auto it = stats.cbegin(); it != stats.cend(); ++it) {
        const DeviceStats &s = it.value();
        DeviceMetrics d;
        d.address = it.key();
        d.up = s.answering;
        d.requests = s.requests;
        d.goodReplies = s.goodReplies;
        d.timeouts = s.timeouts;
        d.crcErrors = s.crcErrors;
        d.exceptions = s.exceptions;
        d.uploads = s.uploads;
        d.responseMeanSeconds = s.responseMeanMs() / 1000.0;
        d.responseMaxSeconds = s.responseMaxMs / 1000.0;
        if (s.lastSeen.isValid())
            d.lastSeenAgeSeconds = qMax<qint64>(0, s.lastSeen.msecsTo(now)) / 1000.0;
        m.devices.append(d);
    }
    for (const ReadingSet &frame : m_latest)
        for (int k = 0; k < frame.raw.size(); ++k)
            if (statusOf(frame.raw[k]) == ReadingStatus::Ok)
                m.temperatures.append({frame.address, k + 1, *celsiusOf(frame.raw[k])});
    m.portOpen = m_port->isOpen();
    m.linkOutages = m_outages;
    m.exchanges = m_engine->exchanges();
    m.cycles = m_engine->cycles();
    auto &store = const_cast<StoreService &>(m_store);
    m.storeWritable = store.writable();
    m.storePending = store.readingsPending();
    m.storeCommitted = store.readingsCommitted();
    m.storeLost = store.readingsLost();
    if (store.forwarding())
        m.centralBacklog = store.centralBacklog();
    if (m_mqtt) {
        m.mqttBacklog = m_mqtt->backlog();
        m.mqttConnected = m_mqtt->connected();
        m.mqttSetAside = m_mqtt->messagesSetAside();
    }
    m.activeAlarms = m_alarms.activeCount();
    return m;
}

void Collector::publishSnapshot()
{
    Snapshot next;
    next.metrics = std::make_shared<const CollectorMetrics>(metrics());
    // Healthy: the bus can be reached and what is read can be kept.
    if (!m_port->isOpen())
        next.problems += "port closed\n";
    if (!m_store.writable())
        next.problems += "store not writable\n";
    QMutexLocker lock(&m_servedMutex);
    m_served = std::move(next);
}

HttpResponse Collector::answer(const HttpRequest &request)
{
    Snapshot snapshot;
    {
        QMutexLocker lock(&m_servedMutex);
        snapshot = m_served;
    }
    if (request.method != "GET" && request.method != "HEAD")
        return HttpResponse::text(405, "only GET\n");
    if (request.path == "/metrics" && snapshot.metrics) {
        HttpResponse r;
        r.contentType = "text/plain; version=0.0.4; charset=utf-8";
        r.body = prometheusText(*snapshot.metrics);
        return r;
    }
    if (request.path == "/healthz")
        return snapshot.problems.isEmpty() ? HttpResponse::text(200, "ok\n") : HttpResponse::text(503, snapshot.problems);
    return HttpResponse::text(404, "not found\n");
}

bool Collector::startMetrics(QString *why)
{
    if (m_settings.metricsHost.isEmpty())
        return true;
    const QHostAddress address = m_settings.metricsHost == QLatin1String("localhost") ? QHostAddress(QHostAddress::LocalHost)
                                                                                       : QHostAddress(m_settings.metricsHost);
    if (address.isNull()) {
        *why = QStringLiteral("\"%1\" is not an IP address to listen on").arg(m_settings.metricsHost);
        return false;
    }
    publishSnapshot();
    m_http = std::make_unique<HttpServer>(m_settings.httpLimits);
    m_http->setHandler([this](const HttpRequest &request) { return answer(request); });
    QString listenWhy;
    if (!m_http->listen(address, quint16(m_settings.metricsPort), &listenWhy)) {
        *why = QStringLiteral("cannot listen on %1:%2: %3").arg(m_settings.metricsHost).arg(m_settings.metricsPort).arg(listenWhy);
        m_http.reset();
        return false;
    }
    m_metricsPort = m_http->port();
    if (!m_settings.quiet)
        std::fprintf(stderr, "vxcollect: metrics on http://%s:%d/metrics\n", qPrintable(m_settings.metricsHost),
                     m_metricsPort);
    return true;
}

void Collector::print(const QByteArray &line)
{
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

} // namespace vx
