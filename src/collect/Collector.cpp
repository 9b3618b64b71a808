#include "collect/Collector.h"

#include "core/air/AirDevices.h"
#include "collect/Commands.h"

#include "core/central/Metrics.h"
#include "core/notify/Notifier.h"
#include "core/central/MqttMessages.h"
#include "core/central/MqttPublisher.h"
#include "core/form/FormState.h"
#include "core/frames/Measurement.h"
#include "core/http/HttpServer.h"
#include "core/link/SerialPort.h"
#include "core/link/TcpTarget.h"
#include "core/web/WebTexts.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <limits>

namespace vx {

namespace {
PipelineSettings pipelineSettings(const CollectorSettings &s)
{
    PipelineSettings p;
    p.programDir = s.programDir;
    p.store = s.store;
    p.mqtt = s.mqtt;
    p.notify = s.notify;
    // The depot the collector polls by (--depot, --air, --fans), not only the program directory's file.
    if (s.depot.fromFile || !s.depot.air.isEmpty())
        p.depot = s.depot;
    return p;
}

void say(const QString &line)
{
    std::fprintf(stderr, "vxcollect: %s\n", qPrintable(line));
}
} // namespace

Collector::Collector(const CollectorSettings &settings, std::unique_ptr<SerialPort> port, QObject *parent)
    : QObject(parent), m_settings(settings), m_port(std::move(port)), m_pipeline(pipelineSettings(settings)),
      m_lease(settings.leaseMs)
{
    RecordFiles &records = m_pipeline.records();
    records.setLossHandler([](const QString &path) {
        say(QStringLiteral("cannot write records in %1 (first: %2); they are lost until it is writable again")
                .arg(QFileInfo(path).absolutePath(), QFileInfo(path).fileName()));
    });
    records.setRecoveryHandler([](const QString &dir, qint64 lost) {
        say(QStringLiteral("records are written in %1 again; %2 were lost").arg(dir).arg(lost));
    });
    records.setSizeLimit(QDir(m_settings.programDir).filePath(QStringLiteral("dataGet.txt")), m_settings.rawLogMaxBytes);
    m_pipeline.addListener(this);
    connect(&m_pipeline, &ReadingPipeline::problem, this, [](const QString &message) { say(message); });
    connect(&m_pipeline, &ReadingPipeline::recovered, this, [](const QString &message) { say(message); });
    m_pipeline.setMqttReporter([](const QString &line) { say(line); });
    m_pipeline.setNotifyReporter([](const QString &line) { say(line); });
    m_pipeline.setAirReporter([](const QString &line) { say(line); });

    m_port->setSettings(QStringLiteral("%1,N,8,1").arg(m_settings.bus.baud));
    m_engine = std::make_unique<BusEngine>(*m_port, m_settings.bus);
    connect(m_engine.get(), &BusEngine::received, this,
            [this](const QByteArray &bytes, const QDateTime &at) { m_pipeline.received(bytes, at); });
    connect(m_engine.get(), &BusEngine::readings, this,
            [this](int address, const QList<quint16> &registers, const QDateTime &arrived, const QByteArray &) {
                if (!acceptAir(address, registers, arrived)) // a transmitter's registers are no cable's frame
                    m_pipeline.accept({arrived.toMSecsSinceEpoch(), address, registers}, arrived);
            });
    connect(m_engine.get(), &BusEngine::deviceAnswering, this, [this](int address, bool answering) {
        airOrDeviceChanged(address, answering);
    });
    connect(m_engine.get(), &BusEngine::exceptionReply, this, &Collector::onAirException);
    connect(m_engine.get(), &BusEngine::written, this, &Collector::fanWritten);
    m_pipeline.setFanWriter([this](const FanSwitch &s) {
        BusEngine *engine = s.bus == 1 ? m_engine.get() : nullptr;
        for (const auto &line : m_otherBuses)
            if (line->number() == s.bus)
                engine = &line->engine();
        if (!engine) {
            m_pipeline.fanSwitched(s, false, QDateTime::currentMSecsSinceEpoch());
            return;
        }
        m_fanWrites.append(s);
        engine->write(s.request);
    });
    connect(m_engine.get(), &BusEngine::cycleDone, this, &Collector::onCycle);
    connect(m_port.get(), &SerialPort::commEvent, this, [this](CommEvent event) {
        if (event == CommEvent::Error)
            onPortLost();
    });
    // Once a second, whether polling or only listening to uploads.
    m_secondTimer.setInterval(1000);
    connect(&m_secondTimer, &QTimer::timeout, this, &Collector::everySecond);
    m_reconnect.setSingleShot(true);
    connect(&m_reconnect, &QTimer::timeout, this, &Collector::reconnect);
    connect(m_engine.get(), &BusEngine::stopped, this, &Collector::engineStopped);

    for (const CollectorSettings::OtherBus &other : m_settings.otherBuses) {
        auto line = std::make_unique<BusLine>(other.number, portNamed(m_settings.programDir, other.port), other.bus);
        connect(line.get(), &BusLine::received, this,
                [this](const QByteArray &bytes, const QDateTime &at) { m_pipeline.received(bytes, at); });
        connect(line.get(), &BusLine::readings, this, [this](int key, const QList<quint16> &registers, const QDateTime &arrived) {
            if (acceptAir(key, registers, arrived))
                return;
            m_pipeline.accept({arrived.toMSecsSinceEpoch(), key, registers}, arrived);
        });
        connect(line.get(), &BusLine::deviceAnswering, this, &Collector::airOrDeviceChanged);
        connect(line.get(), &BusLine::exceptionReply, this, &Collector::onAirException);
        connect(&line->engine(), &BusEngine::written, this, &Collector::fanWritten);
        connect(line.get(), &BusLine::cycleDone, this, &Collector::onOtherCycle);
        connect(line.get(), &BusLine::portChanged, this, [this, raw = line.get()](int, bool open, const QString &text) {
            say(text);
            m_pipeline.addEvent({QDateTime::currentMSecsSinceEpoch(), 0,
                                 open ? QStringLiteral("port_back") : QStringLiteral("port_lost"), raw->deviceName(), {}});
        });
        m_otherBuses.push_back(std::move(line));
    }
}

bool Collector::acceptAir(int key, const QList<quint16> &registers, const QDateTime &arrived)
{
    const DepotAir *air = m_settings.depot.airDevice(key);
    if (!air)
        return false;
    if (const auto profile = m_settings.depot.airProfile(air->profile)) {
        const AirReading reading = decodeAir(*profile, registers);
        m_pipeline.acceptAir(key, reading, arrived.toMSecsSinceEpoch());
    }
    return true;
}

void Collector::onAirException(int key, quint8 code)
{
    if (m_settings.depot.airDevice(key))
        m_pipeline.acceptAir(key, vx::airException(code), QDateTime::currentMSecsSinceEpoch());
}

void Collector::airOrDeviceChanged(int key, bool answering)
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (!m_settings.depot.airDevice(key))
        m_pipeline.deviceChanged(key, answering, now);
    else if (!answering) // its next good reply ends the fault
        m_pipeline.acceptAir(key, AirReading{{}, {}, QStringLiteral("no reply")}, now);
}

void Collector::fanWritten(const QByteArray &request, bool ok)
{
    for (int i = 0; i < m_fanWrites.size(); ++i)
        if (m_fanWrites[i].request == request) {
            const FanSwitch s = m_fanWrites.takeAt(i);
            if (!ok)
                say(QStringLiteral("the fans of bin %1 did not switch %2: the relay did not confirm").arg(s.bin).arg(s.on ? "on" : "off"));
            m_pipeline.fanSwitched(s, ok, QDateTime::currentMSecsSinceEpoch());
            return;
        }
}

Collector::~Collector()
{
    m_control.reset(); // the socket file goes with it
    m_http.reset(); // its thread reads the snapshot: gone before it is
    m_pipeline.removeListener(this);
    m_pipeline.stop();
}

Collector::StartResult Collector::start(QString *why)
{
    QString storeWhy;
    if (!m_pipeline.start(&storeWhy)) {
        *why = QStringLiteral("cannot use the readings store: %1").arg(storeWhy);
        return StartResult::StoreUnavailable;
    }
    for (const QString &e : m_pipeline.alarmSettingsErrors())
        say(QStringLiteral("%1 (the default is used)").arg(e));
    for (const QString &note : m_settings.depotNotes)
        say(note);
    if (!m_port->open()) {
        const QString device = m_port->deviceName();
        *why = isTcpDevice(device) ? m_port->openError()
                                   : QStringLiteral("cannot open the port %1 (%2)").arg(m_settings.port, device);
        return StartResult::PortUnavailable;
    }
    QString metricsWhy;
    if (!startMetrics(&metricsWhy)) // collecting matters more than being watched
        say(QStringLiteral("no metrics: %1").arg(metricsWhy));
    QDir(m_settings.programDir).mkpath(QStringLiteral("data"));
    m_sinceStatus.start();
    m_engine->start();
    // A further bus that cannot be opened is tried again on its own; the others collect meanwhile.
    for (const auto &line : m_otherBuses)
        line->start();
    m_secondTimer.start();
    m_pipeline.addEvent({QDateTime::currentMSecsSinceEpoch(), 0, QStringLiteral("collector_started"), m_port->deviceName(), {}});
    startControl();
    return StartResult::Started;
}

void Collector::stop()
{
    m_stopping = true;
    m_pipeline.addEvent({QDateTime::currentMSecsSinceEpoch(), 0, QStringLiteral("collector_stopped"), QString(), {}});
    m_reconnect.stop();
    m_secondTimer.stop();
    m_takeReply(busshare::refused(QStringLiteral("stopping"), QStringLiteral("the service is stopping")));
    m_control.reset(); // nobody may take what is going away
    for (const auto &line : m_otherBuses)
        line->stop(); // an exchange in flight on them is only a reply not yet come
    if (m_engine->running())
        m_engine->stop();
    else
        emit stopped();
}

void Collector::engineStopped()
{
    if (m_stopping)
        emit stopped();
    else if (m_pausing)
        finishPause();
}

void Collector::startControl()
{
    if (m_settings.controlSocket.isEmpty())
        return;
    m_control = std::make_unique<BusShareServer>();
    m_control->setHandler([this](const QJsonObject &request, quintptr connection, BusShareServer::Reply reply) {
        control(request, connection, reply);
    });
    // The holder's connection closed without giving the bus back: it died, and the bus is not left idle.
    m_control->setClosedHandler([this](quintptr connection) {
        if ((m_paused || m_pausing) && connection == m_holderConnection && m_lease.holder())
            resume(QStringLiteral("%1 went away").arg(m_lease.holder()->who));
    });
    QString why;
    if (!m_control->listen(m_settings.controlSocket, &why)) { // collecting matters more than sharing
        say(QStringLiteral("no control socket: %1").arg(why));
        m_control.reset();
    }
}

QJsonObject Collector::busStatus() const
{
    const QString device = m_port->deviceName();
    const QString canonical = QFileInfo(device).canonicalFilePath();
    QJsonObject o{{QStringLiteral("port"), m_settings.port},
                  {QStringLiteral("device"), canonical.isEmpty() ? device : canonical},
                  {QStringLiteral("store"), QFileInfo(m_settings.store.local).absoluteFilePath()},
                  {QStringLiteral("state"), m_paused    ? QStringLiteral("paused")
                                            : m_pausing ? QStringLiteral("pausing")
                                                        : QStringLiteral("collecting")},
                  {QStringLiteral("lease"), double(m_lease.leaseMs())}};
    if (m_lease.holder())
        o.insert(QStringLiteral("holder"), m_lease.holder()->who);
    if (m_webGate && m_metricsPort > 0)
        o.insert(QStringLiteral("web"), QStringLiteral("http://%1:%2%3/")
                                            .arg(m_settings.metricsHost)
                                            .arg(m_metricsPort)
                                            .arg(QString::fromUtf8(m_settings.webBase)));
    return o;
}

// One request of the control socket. A take is answered once the exchange in
// flight has ended and the port is closed, so the window may open it at once.
void Collector::control(const QJsonObject &request, quintptr connection, BusShareServer::Reply reply)
{
    const QString op = request.value(QStringLiteral("op")).toString();
    const QString token = request.value(QStringLiteral("token")).toString();
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (op == QLatin1String("status")) {
        reply(busshare::ok(busStatus()));
    } else if (op == QLatin1String("take")) {
        const QString who = request.value(QStringLiteral("who")).toString().left(200);
        switch (m_lease.take(who.isEmpty() ? QStringLiteral("someone") : who, token, now)) {
        case BusLease::Take::Refused:
            reply(busshare::refused(QStringLiteral("bad_request"), QStringLiteral("a take needs a token")));
            return;
        case BusLease::Take::Busy:
            reply(busshare::refused(QStringLiteral("busy"), m_lease.holder()->who));
            return;
        case BusLease::Take::AlreadyYours:
            if (m_paused)
                reply(busshare::ok(busStatus()));
            else
                m_takeReply = reply;
            return;
        case BusLease::Take::Granted:
            break;
        }
        m_holderConnection = connection;
        m_takeReply = reply;
        m_pausing = true;
        m_reconnect.stop();
        if (m_engine->running())
            m_engine->stop(); // the exchange in flight ends first: engineStopped
        else
            finishPause();
    } else if (op == QLatin1String("renew")) {
        reply(m_lease.renew(token, now) ? busshare::ok({{QStringLiteral("lease"), double(m_lease.leaseMs())}})
                                        : busshare::refused(QStringLiteral("not_holder"), QStringLiteral("the bus is not yours")));
    } else if (op == QLatin1String("give")) {
        if (!m_lease.heldBy(token)) {
            reply(busshare::refused(QStringLiteral("not_holder"), QStringLiteral("the bus is not yours")));
            return;
        }
        const QString who = m_lease.holder()->who;
        resume(QStringLiteral("given back by %1").arg(who));
        reply(busshare::ok(busStatus()));
    } else if (op == QLatin1String("frame")) {
        // What the holder took goes the service's road: stored, published, its alarms.
        QString why;
        const auto frame = busshare::frameOf(request, &why);
        if (m_paused && m_lease.heldBy(token) && frame)
            m_pipeline.accept(*frame, QDateTime::fromMSecsSinceEpoch(frame->timeMs));
    } else if (op == QLatin1String("fans")) {
        // The keeper's switch of a bin's fans ("on", "off"), or back to automatic ("auto").
        const int bin = request.value(QStringLiteral("bin")).toInt();
        const QString to = request.value(QStringLiteral("switch")).toString();
        if (!m_settings.depot.fansOf(bin) || (to != QLatin1String("on") && to != QLatin1String("off") && to != QLatin1String("auto"))) {
            reply(busshare::refused(QStringLiteral("bad_request"),
                                    QStringLiteral("bin %1 has no fans in the depot file, or \"%2\" is not on, off or auto").arg(bin).arg(to.left(20))));
            return;
        }
        say(QStringLiteral("the fans of bin %1: %2 by %3").arg(bin).arg(to, request.value(QStringLiteral("who")).toString().left(200)));
        m_pipeline.switchFansByHand(bin, to == QLatin1String("auto") ? std::nullopt : std::optional<bool>(to == QLatin1String("on")), now);
        reply(busshare::ok({}));
    } else {
        reply(busshare::refused(QStringLiteral("bad_request"), QStringLiteral("unknown op \"%1\"").arg(op.left(40))));
    }
}

void Collector::finishPause()
{
    m_pausing = false;
    if (!m_lease.holder()) { // given back or gone while the exchange ended
        resume(QString());
        return;
    }
    m_port->close();
    m_paused = true;
    const QString who = m_lease.holder()->who;
    busChanged(QStringLiteral("paused"), QStringLiteral("by"), who, QStringLiteral("taken by %1").arg(who));
    publishSnapshot();
    m_takeReply(busshare::ok(busStatus()));
}

// Paused or resumed: stored as an event (its detail), and said as a JSON line or a status line.
void Collector::busChanged(const QString &state, const QString &key, const QString &detail, const QString &said)
{
    m_pipeline.addEvent({QDateTime::currentMSecsSinceEpoch(), 0, state, detail, {}});
    if (m_settings.json)
        print(QJsonDocument(QJsonObject{{QStringLiteral("bus"), state}, {key, detail}}).toJson(QJsonDocument::Compact));
    else if (!m_settings.quiet)
        print(QStringLiteral("bus %1: %2").arg(state, said).toUtf8());
}

// The bus back: the port opened again and polling goes on where it was.
void Collector::resume(const QString &why)
{
    m_lease.give(m_lease.holder() ? m_lease.holder()->token : QString());
    m_holderConnection = 0;
    m_takeReply(busshare::refused(QStringLiteral("given_back"), QStringLiteral("the bus was taken back")));
    if (m_pausing)
        return; // finishPause, once the engine has stopped, sees no holder and comes back here
    const bool wasPaused = m_paused;
    m_paused = false;
    // Cables nobody polled meanwhile are not silent until they have had a cycle.
    m_silenceGraceUntilMs = QDateTime::currentMSecsSinceEpoch() + silentAfterMs();
    const bool open = m_port->open();
    m_sinceStatus.start(); // the next rate is of polling, not of the pause
    m_exchangesAtStatus = m_engine->exchanges();
    m_engine->start();
    if (wasPaused)
        busChanged(QStringLiteral("resumed"), QStringLiteral("why"), why, why);
    if (!open)
        onPortLost();
    publishSnapshot();
}

// The port went away under us (a gateway dropped the connection, an adapter
// was pulled): the engine waits, and the port is opened again, less and less
// often, until it is back.
void Collector::onPortLost()
{
    ++m_outages;
    m_downSince.start();
    m_reconnectDelayMs = 1000;
    say(QStringLiteral("lost %1; reconnecting (outage %2)").arg(m_port->deviceName()).arg(m_outages));
    m_pipeline.addEvent({QDateTime::currentMSecsSinceEpoch(), 0, QStringLiteral("port_lost"), m_port->deviceName(), {}});
    m_reconnect.start(m_reconnectDelayMs);
}

void Collector::reconnect()
{
    if (m_port->open()) {
        say(QStringLiteral("%1 back after %2 s").arg(m_port->deviceName()).arg(m_downSince.elapsed() / 1000.0, 0, 'f', 1));
        m_pipeline.addEvent({QDateTime::currentMSecsSinceEpoch(), 0, QStringLiteral("port_back"), m_port->deviceName(), {}});
        return;
    }
    m_reconnectDelayMs = qMin(30000, m_reconnectDelayMs * 2);
    m_reconnect.start(m_reconnectDelayMs);
}

void Collector::onOtherCycle(int bus, qint64 cycle)
{
    const auto *line = qobject_cast<BusLine *>(sender());
    if (m_settings.quiet || m_settings.json || !line)
        return;
    int answering = 0, silent = 0;
    for (const DeviceStats &s : line->engine().stats())
        (s.answering ? answering : silent) += 1;
    print(QStringLiteral("bus %1: cycle %2: %3 answering, %4 silent").arg(bus).arg(cycle).arg(answering).arg(silent).toUtf8());
}

void Collector::frameAccepted(const AcceptedFrame &accepted)
{
    const ReadingSet &frame = accepted.frame;
    m_latest.insert(frame.address, frame);
    m_readingsChanged = true;
    if (!m_settings.json)
        return;
    QJsonArray raw, celsius;
    for (quint16 r : frame.raw) {
        raw.append(int(r));
        celsius.append(r == kNoReading ? QJsonValue() : QJsonValue(hundredthsOf(r) / 100.0));
    }
    print(QJsonDocument(QJsonObject{{QStringLiteral("device"), frame.address},
                                    {QStringLiteral("time"), accepted.arrived.toUTC().toString(Qt::ISODateWithMs)},
                                    {QStringLiteral("raw"), raw},
                                    {QStringLiteral("celsius"), celsius}})
              .toJson(QJsonDocument::Compact));
}

void Collector::deviceChanged(int address, bool answering, qint64 timeMs)
{
    publishState(address);
    if (m_settings.json)
        print(QJsonDocument(QJsonObject{{QStringLiteral("device"), address},
                                        {QStringLiteral("state"), answering ? QStringLiteral("answering")
                                                                            : QStringLiteral("silent")},
                                        {QStringLiteral("time"), QDateTime::fromMSecsSinceEpoch(timeMs, Qt::UTC)
                                                                     .toString(Qt::ISODateWithMs)}})
                  .toJson(QJsonDocument::Compact));
}

void Collector::alarmsChanged(const QList<AlarmTransition> &transitions, const AlarmBook &book)
{
    if (m_http)
        m_http->publish("live", web::streamEvent("alarms", web::alarmsJson(book.alarms())));
    if (!m_settings.json)
        return;
    for (const AlarmTransition &t : transitions) {
        const AlarmCondition &c = t.alarm.condition;
        // The group as stored (rule, priority, layers and values), with its state, time and text.
        QJsonObject o = QJsonDocument::fromJson(c.json()).object();
        o.insert(QStringLiteral("alarm"), ruleKey(c.rule));
        o.insert(QStringLiteral("state"), t.what);
        o.insert(QStringLiteral("detail"), c.detail());
        o.insert(QStringLiteral("time"),
                 QDateTime::fromMSecsSinceEpoch(t.alarm.changedMs, Qt::UTC).toString(Qt::ISODateWithMs));
        print(QJsonDocument(o).toJson(QJsonDocument::Compact));
    }
}

// Silent: three cycles without a reply (ten minutes when devices only upload), or as configured.
qint64 Collector::silentAfterMs() const
{
    const qint64 cycle = qMax<qint64>(m_lastCycleMs, m_settings.bus.cyclePeriodMs);
    const int minutes = m_pipeline.alarmSilentMinutes();
    return minutes > 0 ? qint64(minutes) * 60000
           : m_settings.bus.mode == BusSettings::Mode::Upload ? 600000
                                                               : qMax<qint64>(3 * cycle, 1000);
}

void Collector::everySecond()
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (m_paused && m_lease.holder()) {
        const QString who = m_lease.holder()->who;
        if (m_lease.lapse(now))
            resume(QStringLiteral("the lease of %1 lapsed").arg(who));
    }
    if (m_http)
        publishSnapshot();
    // While a window holds the bus (and a cycle after), a cable it does not poll is not silent.
    const bool grace = m_paused || m_pausing || now < m_silenceGraceUntilMs;
    m_pipeline.evaluateAlarms(now, grace ? std::numeric_limits<qint64>::max() / 4 : silentAfterMs());
}

void Collector::onCycle()
{
    if (m_cycleClock.isValid())
        m_lastCycleMs = m_cycleClock.elapsed();
    m_cycleClock.start();
    // Every device's statistics now and then; a change of state goes at once.
    if (m_pipeline.mqtt() && (!m_sinceStatePublished.isValid() || m_sinceStatePublished.elapsed() >= 10000)) {
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
    StoreService *store = m_pipeline.store();
    if (store && store->forwarding())
        line += QStringLiteral(", central %1: %2 readings waiting")
                    .arg(store->centralConnected() ? QStringLiteral("connected") : QStringLiteral("unreachable"))
                    .arg(store->centralBacklog());
    if (MqttPublisher *mqtt = m_pipeline.mqtt())
        line += QStringLiteral(", mqtt %1: %2 readings waiting")
                    .arg(mqtt->connected() ? QStringLiteral("connected") : QStringLiteral("unreachable"))
                    .arg(mqtt->backlog());
    if (Notifier *notifier = m_pipeline.notifier())
        line += QStringLiteral(", notify: %1 waiting").arg(notifier->waiting());
    if (m_outages > 0)
        line += QStringLiteral(", %1 link outages").arg(m_outages);
    if (m_pipeline.alarms().activeCount() > 0)
        line += QStringLiteral(", %1 alarms").arg(m_pipeline.alarms().activeCount());
    if (store && !store->writable())
        line += QStringLiteral(", store not writable: %1 readings held").arg(store->readingsPending());
    if (store && store->readingsLost() > 0)
        line += QStringLiteral(", %1 readings lost (store not writable)").arg(store->readingsLost());
    print(line.toUtf8());
}

void Collector::publishState(int address)
{
    MqttPublisher *mqtt = m_pipeline.mqtt();
    if (!mqtt)
        return;
    const auto stats = m_engine->stats().constFind(address);
    if (stats == m_engine->stats().constEnd())
        return;
    mqtt->publishRetained(mqtt->topics().state(address), statePayload(*stats, QDateTime::currentMSecsSinceEpoch()));
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
    m.busPaused = m_paused || m_pausing;
    m.linkOutages = m_outages;
    if (Notifier *notifier = const_cast<ReadingPipeline &>(m_pipeline).notifier()) {
        const auto figures = notifier->figures();
        for (auto it = figures.cbegin(); it != figures.cend(); ++it)
            m.notify.append({it.key(), it->waiting, it->sent, it->expired});
    }
    m.exchanges = m_engine->exchanges();
    m.cycles = m_engine->cycles();
    auto &pipeline = const_cast<ReadingPipeline &>(m_pipeline);
    if (StoreService *store = pipeline.store()) {
        m.storeWritable = store->writable();
        m.storePending = store->readingsPending();
        m.storeCommitted = store->readingsCommitted();
        m.storeLost = store->readingsLost();
        if (store->forwarding())
            m.centralBacklog = store->centralBacklog();
    }
    if (MqttPublisher *mqtt = pipeline.mqtt()) {
        m.mqttBacklog = mqtt->backlog();
        m.mqttConnected = mqtt->connected();
        m.mqttSetAside = mqtt->messagesSetAside();
    }
    m.activeAlarms = m_pipeline.alarms().activeCount();
    return m;
}

void Collector::publishSnapshot()
{
    Snapshot next;
    next.metrics = std::make_shared<const CollectorMetrics>(metrics());
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    next.readings = web::readingsJson(m_pipeline.snapshot(), now, silentAfterMs());
    next.alarms = web::alarmsJson(m_pipeline.alarms().alarms());
    next.depot = web::depotJson(m_pipeline.depot(), m_pipeline.alarms().alarms(), now, silentAfterMs(), &m_pipeline.ventilation());
    // Healthy: the bus can be reached and what is read can be kept.
    if (!m_port->isOpen() && !m_paused && !m_pausing) // a window holding the bus is no fault
        next.problems += "port closed\n";
    if (m_pipeline.store() && !m_pipeline.store()->writable())
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
    // Behind a proxy that keeps its prefix, the page and its API live under it;
    // the page asks relative paths, so it needs the trailing slash.
    QByteArray webPath = request.path;
    if (!m_settings.webBase.isEmpty()) {
        if (webPath == m_settings.webBase) {
            HttpResponse r = HttpResponse::text(301, "moved\n");
            r.headers.append(qMakePair(QByteArray("Location"), m_settings.webBase + '/'));
            return r;
        }
        webPath = webPath.startsWith(m_settings.webBase + '/') ? webPath.mid(m_settings.webBase.size()) : QByteArray();
    }
    if (webPath == "/" || webPath.startsWith("/api/") || webPath == "/index.html")
        return answerWeb(webPath, request, snapshot);
    if (request.method != "GET" && request.method != "HEAD")
        return HttpResponse::text(405, "only GET\n");
    if (request.path == "/metrics" && snapshot.metrics) {
        HttpResponse r;
        r.contentType = "text/plain; version=0.0.4; charset=utf-8";
        r.body = prometheusText(*snapshot.metrics);
        return r;
    }
    if (request.path == "/healthz") {
        if (!snapshot.problems.isEmpty())
            return HttpResponse::text(503, snapshot.problems);
        return HttpResponse::text(200, snapshot.metrics && snapshot.metrics->busPaused ? "paused\n" : "ok\n");
    }
    return HttpResponse::text(404, "not found\n");
}

// The web view: anyone on this machine may look; from elsewhere a user of
// [web-users] (or anyone, with [web] open); acknowledging takes a user with "ack".
HttpResponse Collector::answerWeb(const QByteArray &path, const HttpRequest &request, const Snapshot &snapshot)
{
    if (!m_webGate)
        return HttpResponse::text(404, "not found\n");
    const bool acknowledging = path == "/api/ack";
    if (request.method != (acknowledging ? "POST" : "GET") && !(request.method == "HEAD" && !acknowledging))
        return HttpResponse::text(405, acknowledging ? "only POST\n" : "only GET\n");
    const web::WebDecision access = m_webGate->decide(request.peer.isLoopback(), request.header("authorization"), acknowledging);
    if (access.status == 401) {
        HttpResponse r = HttpResponse::text(401, "a user and password of [web-users]\n");
        r.headers.append(qMakePair(QByteArray("WWW-Authenticate"), QByteArray("Basic realm=\"vxmon\", charset=\"UTF-8\"")));
        return r;
    }
    if (access.status == 403)
        return HttpResponse::text(403, acknowledging ? "acknowledging takes a user with the ack right\n"
                                                     : "from another machine: a [web-users] user, or [web] open = true\n");
    auto json = [](const QByteArray &body) {
        HttpResponse r;
        r.contentType = "application/json";
        r.body = body;
        r.headers.append(qMakePair(QByteArray("Cache-Control"), QByteArray("no-store")));
        return r;
    };
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (path == "/" || path == "/index.html") {
        HttpResponse r;
        r.contentType = "text/html; charset=utf-8";
        r.body = web::page();
        r.headers.append(qMakePair(QByteArray("Content-Security-Policy"),
                                   QByteArray("default-src 'self'; style-src 'unsafe-inline'; script-src 'unsafe-inline'")));
        return r;
    }
    if (path == "/api/readings" && !snapshot.readings.isEmpty())
        return json(snapshot.readings);
    if (path == "/api/alarms" && !snapshot.alarms.isEmpty())
        return json(snapshot.alarms);
    if (path == "/api/depot" && !snapshot.depot.isEmpty())
        return json(snapshot.depot);
    if (path == "/api/devices" && snapshot.metrics)
        return json(web::devicesJson(*snapshot.metrics));
    if (path == "/api/stream") {
        HttpResponse r;
        r.contentType = "text/event-stream";
        r.stream = "live";
        r.body = "retry: 2000\n\n" + web::streamEvent("readings", snapshot.readings) + web::streamEvent("alarms", snapshot.alarms);
        return r;
    }
    if (acknowledging) {
        const auto rule = ruleFromKey(request.queryValue(QStringLiteral("rule")));
        bool ok = false;
        const int cable = request.queryValue(QStringLiteral("cable")).toInt(&ok);
        if (!rule || !ok || cable < 1 || cable > kCables)
            return HttpResponse::text(400, "cable: 1 to 40, and rule: high_temperature, hot_point, rate_of_rise, "
                                           "weekly_rise, sensor_fault or cable_silent\n");
        // The book belongs to the collector's thread: the acknowledgement is done there, soon.
        QMetaObject::invokeMethod(this, [this, cable, rule = *rule, user = access.user] { acknowledgeFromWeb(cable, rule, user); },
                                  Qt::QueuedConnection);
        HttpResponse r = json(R"({"accepted":true})");
        r.status = 202;
        return r;
    }
    if (path != "/api/curve" && path != "/api/events")
        return HttpResponse::text(404, "not found\n");
    QString why;
    if (!m_webStoreTried) {
        m_webStoreTried = true;
        if (const auto location = parseStoreLocation(m_settings.store.local, &why))
            m_webStore = ReadingStore::open(*location, QString(), &why);
    }
    if (!m_webStore)
        return HttpResponse::text(503, "the readings store cannot be read\n");
    if (path == "/api/events") {
        const auto since = web::eventsSince(request.queryValue(QStringLiteral("hours")), now, &why);
        return since ? json(web::eventsJson(m_webStore->events(*since, now + 1))) : HttpResponse::text(400, why.toUtf8() + '\n');
    }
    const auto query = web::curveQuery(request.queryValue(QStringLiteral("cable")), request.queryValue(QStringLiteral("layer")),
                                       request.queryValue(QStringLiteral("span")), now, &why);
    if (!query)
        return HttpResponse::text(400, why.toUtf8() + '\n');
    QList<QPair<int, QList<ReadingBucket>>> lines;
    for (int layer = query->layer ? query->layer : 1; layer <= (query->layer ? query->layer : kLayers); ++layer) {
        const QList<ReadingBucket> buckets = m_webStore->buckets(query->cable, layer, query->fromMs, query->toMs, query->buckets);
        if (!buckets.isEmpty())
            lines.append({layer, buckets});
    }
    return json(web::curveJson(*query, lines));
}

void Collector::acknowledgeFromWeb(int cable, AlarmRule rule, const QString &user)
{
    const QList<Alarm> &alarms = m_pipeline.alarms().alarms();
    for (int row = 0; row < alarms.size(); ++row) {
        const Alarm &a = alarms[row];
        if (a.condition.cable != cable || a.condition.rule != rule || a.state != Alarm::State::Active)
            continue;
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        const QString text = QStringLiteral("%1 %2").arg(ruleName(rule)).arg(cable, 2, 10, QLatin1Char('0'));
        m_pipeline.acknowledge(row, now);
        m_pipeline.addEvent({now, cable, QStringLiteral("web_ack"), QStringLiteral("%1: %2").arg(user, text), {}});
        return;
    }
}

// What the stream's pages see: the readings at most twice a second, an alarm change at once.
void Collector::publishLive()
{
    if (!m_http || !m_readingsChanged)
        return;
    m_readingsChanged = false;
    publishSnapshot();
    QMutexLocker lock(&m_servedMutex);
    m_http->publish("live", web::streamEvent("readings", m_served.readings));
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
    // Before the server runs (its thread reads it). The web view from elsewhere only for users, or when said to be open.
    if (address.isLoopback() || m_settings.webAccess.open || !m_settings.webAccess.users.isEmpty())
        m_webGate = std::make_unique<web::WebGate>(m_settings.webAccess);
    else
        say(QStringLiteral("no web view on %1: another address needs [web-users] or [web] open = true").arg(m_settings.metricsHost));
    m_http = std::make_unique<HttpServer>(m_settings.httpLimits);
    m_http->setHandler([this](const HttpRequest &request) { return answer(request); });
    QString listenWhy;
    if (!m_http->listen(address, quint16(m_settings.metricsPort), &listenWhy)) {
        *why = QStringLiteral("cannot listen on %1:%2: %3").arg(m_settings.metricsHost).arg(m_settings.metricsPort).arg(listenWhy);
        m_http.reset();
        return false;
    }
    m_metricsPort = m_http->port();
    m_liveTimer.setInterval(500);
    connect(&m_liveTimer, &QTimer::timeout, this, &Collector::publishLive);
    m_liveTimer.start();
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
