#include "core/pipeline/ReadingPipeline.h"

#include "core/central/MqttPublisher.h"
#include "core/notify/Notifier.h"
#include "core/frames/HexText.h"
#include "core/form/FormState.h"
#include "core/frames/Measurement.h"
#include "core/grain/AlarmSettingsFile.h"
#include "core/store/ReadingStore.h"

#include <QDir>

namespace vx {


ReadingPipeline::ReadingPipeline(PipelineSettings settings, QObject *parent)
    : QObject(parent), m_settings(std::move(settings)),
      m_dataGet(QDir(m_settings.programDir).filePath(QStringLiteral("dataGet.txt")))
{
    m_records.setProgramDir(m_settings.programDir);
}

ReadingPipeline::~ReadingPipeline()
{
    stop();
}

bool ReadingPipeline::start(QString *why)
{
    const AlarmSettingsRead read = readAlarmSettings(alarmSettingsPath(m_settings.programDir));
    m_alarmSettings = read.settings;
    m_alarmSilentMinutes = read.silentMinutes;
    m_alarmSettingsErrors = read.errors;
    m_storageSettings = read.storage;
    m_inspectionIntervals = read.inspection;
    m_depot.setDepot(m_settings.depot ? *m_settings.depot : readDepotFile(depotFilePath(m_settings.programDir), {}));
    m_ventilation.setDepot(m_depot.depot());
    m_fansAutomatic = read.fansAutomatic;
    m_ventilation.setSettings(read.ventilation, read.fans, m_fansAutomatic && m_fanWriter);
    if (!m_settings.storeReadings)
        return true;
    m_settings.store.notify = m_settings.notify.any(); // events then also wait in the notify outbox
    m_store = std::make_unique<StoreService>(m_settings.store);
    connect(m_store.get(), &StoreService::problem, this, &ReadingPipeline::problem);
    connect(m_store.get(), &StoreService::recovered, this, &ReadingPipeline::recovered);
    if (!m_store->start(why)) {
        m_store.reset();
        return false;
    }
    if (m_depot.depot().fromFile) { // the book so far, from the store's own file
        QString readWhy;
        const auto location = parseStoreLocation(m_settings.store.local, &readWhy);
        if (auto reader = location ? ReadingStore::open(*location, QString(), &readWhy) : nullptr) {
            m_inspections = standingEntries(reader->events(0, std::numeric_limits<qint64>::max() / 2,
                                                           QString::fromLatin1(kInspectionEvent)));
            // The bins as they were last seen, until their cables answer again.
            for (const ReadingSet &f : reader->latestFrames(kLayers))
                m_depot.take(f.address, f.raw, f.timeMs);
        }
    }
    if (m_settings.mqtt.enabled()) {
        m_mqtt = std::make_unique<MqttPublisher>(m_settings.mqtt, m_settings.store.site, m_settings.store.local);
        StoreService *store = m_store.get();
        m_mqtt->setQueuedCount([store] { return store->readingsQueuedForMqtt(); });
        m_mqtt->setReporter(m_mqttReporter);
        QString mqttWhy;
        if (!m_mqtt->start(&mqttWhy)) {
            m_mqtt.reset();
            *why = QStringLiteral("cannot read the MQTT outbox: %1").arg(mqttWhy);
            return false;
        }
    }
    if (m_settings.notify.any()) {
        m_notifier = std::make_unique<Notifier>(m_settings.notify, m_settings.store.site, m_settings.store.local);
        m_notifier->setReporter(m_notifyReporter);
        QString notifyWhy;
        if (!m_notifier->start(&notifyWhy)) {
            m_notifier.reset();
            *why = QStringLiteral("cannot read the notify outbox: %1").arg(notifyWhy);
            return false;
        }
    }
    return true;
}

void ReadingPipeline::stop()
{
    if (!m_store)
        return;
    // What the last commit queued goes to the broker before it hears "offline",
    // and to the central store, both at once: neither outlasts the stop's deadline.
    m_store->flush();
    if (m_mqtt)
        m_mqtt->requestStop(2500);
    m_store->stop();
    if (m_mqtt)
        m_mqtt->stop(2500);
    m_mqtt.reset();
    if (m_notifier) // what the last commit queued (the stop itself, say) gets a moment to go
        m_notifier->stop(2000);
    m_notifier.reset();
    m_store.reset();
}

void ReadingPipeline::received(const QByteArray &bytes, const QDateTime &arrived)
{
    m_records.append(m_dataGet, dataGetRecord(arrived, RecHexTail(bytes)));
}

void ReadingPipeline::accept(const ReadingSet &frame, const QDateTime &arrived, const QStringList *texts)
{
    QStringList computed;
    if (!texts) {
        computed = valueTexts(frame.raw);
        texts = &computed;
    }
    // The window's data log, in the window's file, so either program can collect.
    if (frame.address >= 1 && frame.address <= kMaxReplyAddress) {
        QString &path = m_dataLogs[std::size_t(frame.address - 1)]; // built once: this runs for every frame
        if (path.isEmpty())
            path = QDir(m_settings.programDir).filePath(QStringLiteral("data/%1.txt").arg(frame.address));
        m_records.append(path, dataLogRecord(arrived, *texts));
    }
    if (m_store && m_storing)
        m_store->add(frame);
    m_snapshot.take(frame.address, frame.raw, frame.timeMs, m_alarmSettings.judgement());
    m_depot.take(frame.address, frame.raw, frame.timeMs);
    const AcceptedFrame accepted{frame, arrived, *texts};
    for (ReadingListener *l : std::as_const(m_listeners))
        l->frameAccepted(accepted);
}

void ReadingPipeline::replay(const ReadingSet &frame)
{
    m_snapshot.take(frame.address, frame.raw, frame.timeMs, m_alarmSettings.judgement());
    m_depot.take(frame.address, frame.raw, frame.timeMs);
    const QDateTime arrived = QDateTime::fromMSecsSinceEpoch(frame.timeMs);
    const QStringList texts = valueTexts(frame.raw);
    const AcceptedFrame accepted{frame, arrived, texts};
    for (ReadingListener *l : std::as_const(m_listeners))
        l->frameAccepted(accepted);
}

void ReadingPipeline::deviceChanged(int address, bool answering, qint64 timeMs)
{
    m_snapshot.markSilent(address, !answering, timeMs);
    if (m_store && m_storing)
        m_store->addEvent({timeMs, address, answering ? QStringLiteral("answering") : QStringLiteral("silent"), QString(), {}});
    for (ReadingListener *l : std::as_const(m_listeners))
        l->deviceChanged(address, answering, timeMs);
}

void ReadingPipeline::replayEvents(const QList<StoreEvent> &events)
{
    QList<AlarmTransition> transitions;
    for (const StoreEvent &e : events) {
        if (e.kind == QLatin1String("silent") || e.kind == QLatin1String("answering")) {
            m_snapshot.markSilent(e.address, e.kind == QLatin1String("silent"), e.timeMs);
            for (ReadingListener *l : std::as_const(m_listeners))
                l->deviceChanged(e.address, e.kind == QLatin1String("answering"), e.timeMs);
            continue;
        }
        if (e.kind == QLatin1String(kAirEvent) || e.kind == QLatin1String(kVentilationEvent) || e.kind == QLatin1String(kFanEvent)) {
            m_ventilation.replay(e);
            continue;
        }
        if (!e.kind.startsWith(QLatin1String("alarm_")))
            continue;
        const auto condition = AlarmCondition::fromJson(e.data);
        if (!condition)
            continue; // stored before alarms carried their data
        AlarmTransition t;
        t.what = e.kind.mid(6);
        t.alarm.condition = *condition;
        t.alarm.raisedMs = t.alarm.changedMs = e.timeMs;
        m_alarms.replay(t);
        transitions.append(t);
    }
    if (!transitions.isEmpty())
        for (ReadingListener *l : std::as_const(m_listeners))
            l->alarmsChanged(transitions, m_alarms);
}

void ReadingPipeline::setAlarmSettings(const AlarmSettings &settings, int silentMinutes)
{
    m_alarmSettings = settings;
    m_alarmSilentMinutes = silentMinutes;
    m_windowAgoAt = 0; // the rise window may have changed
}

// Once a minute: each answering point's stored reading nearest to a rise
// window ago, and to a week ago, read back from the store (the store's own
// file, a connection of this thread's; two seeks on the key a point).
void ReadingPipeline::refreshWindowAgo(qint64 nowMs, qint64 silentAfterMs)
{
    if (m_windowAgoAt != 0 && nowMs - m_windowAgoAt < 60000)
        return;
    m_windowAgoAt = nowMs;
    m_windowAgo.clear();
    m_weekAgo.clear();
    if (!m_readBackTried) {
        m_readBackTried = true;
        QString why;
        if (const auto location = parseStoreLocation(m_settings.store.local, &why))
            m_readBack = ReadingStore::open(*location, m_settings.store.site, &why);
    }
    if (!m_readBack)
        return;
    const qint64 window = qint64(m_alarmSettings.riseWindowHours) * 3600000;
    constexpr qint64 week = 7 * 86400000LL;
    for (int c = 1; c <= kCables; ++c) {
        if (m_snapshot.stateOf(c, nowMs, silentAfterMs) != CableState::Answering)
            continue;
        for (int l = 1; l <= kLayers; ++l) {
            const PointReading &latest = m_snapshot.at(c, l).latest;
            if (!latest.temperature())
                continue;
            if (const auto r = m_readBack->nearestReading(c, l, latest.timeMs - window, qMax<qint64>(window / 8, 30 * 60000)))
                m_windowAgo.insert({c, l}, {r->timeMs, r->raw});
            if (const auto r = m_readBack->nearestReading(c, l, latest.timeMs - week, week / 8))
                m_weekAgo.insert({c, l}, {r->timeMs, r->raw});
        }
    }
}

void ReadingPipeline::evaluateAlarms(qint64 nowMs, qint64 silentAfterMs)
{
    refreshWindowAgo(nowMs, silentAfterMs);
    AlarmSettings settings = m_alarmSettings;
    settings.silentAfterMs = silentAfterMs;
    QList<AlarmCondition> holding = vx::evaluateAlarms(m_snapshot, nowMs, settings, m_windowAgo, m_weekAgo);
    if (m_depot.depot().fromFile) {
        holding += evaluateStorageRules(m_depot.profiles(nowMs, silentAfterMs), m_storageSettings);
        holding += evaluateFurtherCables(m_depot, settings, nowMs);
        holding += inspectionsOverdue(nowMs, silentAfterMs);
    }
    evaluateVentilation(nowMs, silentAfterMs); // transmitters may come without a depot file (vxcollect --air)
    record(m_alarms.update(holding, nowMs));
    if (m_notifier)
        record(m_alarms.remind(nowMs, qint64(m_settings.notify.remindAfterMinutes) * 60000));
}

void ReadingPipeline::evaluateVentilation(qint64 nowMs, qint64 silentAfterMs)
{
    // Once the air has been asked at least once, then every so often.
    if (m_ventilation.depot().air.isEmpty() || nowMs - m_ventilationAt < m_ventilation.settings().everySeconds * 1000LL)
        return;
    if (m_ventilationAt == 0) {
        m_ventilationAt = nowMs;
        return;
    }
    m_ventilationAt = nowMs;
    const VentilationControl::Step step = m_ventilation.evaluate(m_depot.profiles(nowMs, silentAfterMs), nowMs);
    for (const StoreEvent &e : step.events)
        addAirEvent(e);
    if (m_fanWriter)
        for (const FanSwitch &s : step.switches)
            m_fanWriter(s);
}

void ReadingPipeline::acceptAir(int key, const AirReading &reading, qint64 nowMs)
{
    for (const StoreEvent &e : m_ventilation.accept(key, reading, nowMs))
        addAirEvent(e);
}

void ReadingPipeline::addAirEvent(const StoreEvent &event)
{
    addEvent(event);
    if (m_airReporter && event.kind != QLatin1String(kAirEvent) && !event.data.contains("\"repeat\":true"))
        m_airReporter(event.detail);
}

void ReadingPipeline::setFanWriter(std::function<void(const FanSwitch &)> writer)
{
    m_fanWriter = std::move(writer);
    m_ventilation.setSettings(m_ventilation.settings(), m_ventilation.fanSettings(), m_fansAutomatic && m_fanWriter);
}

void ReadingPipeline::fanSwitched(const FanSwitch &s, bool ok, qint64 nowMs)
{
    addAirEvent(m_ventilation.switched(s, ok, nowMs));
}

void ReadingPipeline::switchFansByHand(int bin, std::optional<bool> on, qint64 nowMs)
{
    StoreEvent event;
    const auto s = m_ventilation.manual(bin, on, nowMs, &event);
    if (s && m_fanWriter)
        m_fanWriter(*s);
    else if (!s)
        addAirEvent(event);
}

QList<AlarmCondition> ReadingPipeline::inspectionsOverdue(qint64 nowMs, qint64 silentAfterMs) const
{
    QList<AlarmCondition> out;
    const QDate today = m_dayOf ? m_dayOf(nowMs) : QDateTime::fromMSecsSinceEpoch(nowMs).date();
    const QMap<int, QDate> last = lastInspections(m_inspections);
    for (const DepotBin &bin : m_depot.depot().bins) {
        // From the last inspection, else from the intake; a bin with neither has no book yet.
        const QDate since = last.value(bin.number, bin.intake);
        const BinSummary s = m_depot.summary(bin, nowMs, silentAfterMs);
        if (!since.isValid() || s.all.count == 0)
            continue;
        if (const auto c = inspectionOverdue(bin.number, nextInspection(since, bin.storageClass, s.all.max, m_inspectionIntervals), today))
            out.append(*c);
    }
    return out;
}

void ReadingPipeline::addInspection(const InspectionEntry &entry)
{
    addEvent(entry.event());
    QList<StoreEvent> events;
    for (const InspectionEntry &e : std::as_const(m_inspections))
        events.append(e.event());
    events.append(entry.event());
    m_inspections = standingEntries(events);
}

void ReadingPipeline::addEvent(const StoreEvent &event)
{
    if (m_store && m_storing)
        m_store->addEvent(event);
}

void ReadingPipeline::acknowledge(int row, qint64 nowMs)
{
    record(m_alarms.acknowledge(row, nowMs));
}

void ReadingPipeline::acknowledgeAll(qint64 nowMs)
{
    record(m_alarms.acknowledgeAll(nowMs));
}

void ReadingPipeline::record(const QList<AlarmTransition> &transitions)
{
    if (transitions.isEmpty())
        return;
    if (m_store && m_storing)
        for (const AlarmTransition &t : transitions)
            m_store->addEvent({t.alarm.changedMs, t.alarm.condition.cable, t.eventKind(), t.text(), t.alarm.condition.json()});
    for (ReadingListener *l : std::as_const(m_listeners))
        l->alarmsChanged(transitions, m_alarms);
}

} // namespace vx
