#pragma once

#include "core/air/VentilationControl.h"
#include "core/central/MqttSettings.h"
#include "core/notify/NotifySettings.h"
#include "core/depot/DepotPicture.h"
#include "core/depot/InspectionBook.h"
#include "core/form/FormState.h"
#include "core/grain/AlarmBook.h"
#include "core/grain/GrainState.h"
#include "core/records/Records.h"
#include "core/store/StoreService.h"

#include <QDateTime>
#include <QList>
#include <QMap>
#include <QObject>
#include <QStringList>

#include <array>
#include <functional>
#include <memory>

namespace vx {

class MqttPublisher;
class Notifier;
class ReadingStore;

struct PipelineSettings {
    QString programDir;         // data/<address>.txt, dataGet.txt, alarms.ini
    StoreSettings store;        // the local store; central shipping and the MQTT outbox through it
    MqttSettings mqtt;          // host empty: no MQTT
    NotifySettings notify;      // no channels: no notifications
    bool storeReadings = true;  // false: nothing is stored or published (a viewer of another program's store)
    std::optional<Depot> depot; // none: depot.ini in the program directory, when it is there
};

// One frame as the sinks see it: the set, when its last byte arrived, and
// each value as the logs write it.
struct AcceptedFrame {
    const ReadingSet &frame;
    const QDateTime &arrived;
    const QStringList &texts;
};

// Told after the sinks: the window's grid and map, vxcollect's JSON and
// status lines, its metrics. Listeners never fail and never block.
class ReadingListener {
public:
    virtual ~ReadingListener() = default;
    virtual void frameAccepted(const AcceptedFrame &) {}
    virtual void alarmsChanged(const QList<AlarmTransition> &, const AlarmBook &) {}
    virtual void deviceChanged(int /*address*/, bool /*answering*/, qint64 /*timeMs*/) {}
};

// The one road of an accepted frame, the same for the window and vxcollect:
// the data log, the store (and through its outboxes the central store and
// MQTT), the alarm rules' picture of the bin, then the listeners, in that
// order. A sink that fails (a full disk, a broker away) reports once through
// its own handlers and never holds up the others: the logs count what they
// lose, the store holds readings in memory, the outboxes wait.
class ReadingPipeline : public QObject {
    Q_OBJECT
public:
    explicit ReadingPipeline(PipelineSettings settings, QObject *parent = nullptr);
    ~ReadingPipeline() override; // stop()

    // Reads alarms.ini, opens the store and starts the MQTT publisher. False
    // and *why when the store cannot be used; the logs, the rules and the
    // listeners work without it (store() is then null).
    bool start(QString *why);
    // Commits and ships what waits, within a few seconds; then the sinks are closed.
    void stop();

    const PipelineSettings &settings() const { return m_settings; }
    RecordFiles &records() { return m_records; }
    StoreService *store() { return m_store.get(); }
    MqttPublisher *mqtt() { return m_mqtt.get(); }
    Notifier *notifier() { return m_notifier.get(); }
    void setNotifyReporter(std::function<void(const QString &)> report) { m_notifyReporter = std::move(report); }
    // Lines of the MQTT publisher (from its own thread); set before start().
    void setMqttReporter(std::function<void(const QString &)> report) { m_mqttReporter = std::move(report); }
    // Off while another program keeps the record of what is accepted here (the
    // collecting service, while the window holds its bus): nothing is stored twice.
    void setStoring(bool on) { m_storing = on; }
    void addListener(ReadingListener *listener) { m_listeners.append(listener); }
    void removeListener(ReadingListener *listener) { m_listeners.removeAll(listener); }

    // What a bus engine received, as the raw receive log keeps it.
    void received(const QByteArray &bytes, const QDateTime &arrived);
    // One frame that passed its checks, through every sink in order. The
    // value texts when the caller has them (the window shows them too).
    void accept(const ReadingSet &frame, const QDateTime &arrived, const QStringList *texts = nullptr);
    // A frame another program stored, shown again: the rules and the
    // listeners only (nothing is logged or stored twice).
    void replay(const ReadingSet &frame);
    // A device fell silent or answers again: stored as an event, then told.
    void deviceChanged(int address, bool answering, qint64 timeMs);
    // The collector's own events (started, stopped, port lost), stored and notified.
    void addEvent(const StoreEvent &event);
    // Events another program stored, taken as they happened (a viewer): a
    // cable's silence and the alarm book as that program saw them.
    void replayEvents(const QList<StoreEvent> &events);

    // The rules over what was accepted, as of now; a cable is silent after
    // silentAfterMs. What changed is stored as events and told.
    void evaluateAlarms(qint64 nowMs, qint64 silentAfterMs);
    void acknowledge(int row, qint64 nowMs);
    void acknowledgeAll(qint64 nowMs);
    const AlarmBook &alarms() const { return m_alarms; }
    const GrainSnapshot &snapshot() const { return m_snapshot; }
    // The depot (depot.ini, read at start; without one, the one bin of today)
    // and its cables' latest frames; with a depot file its bins are judged by
    // the storage rules too.
    const DepotPicture &depot() const { return m_depot; }
    const StorageSettings &storageSettings() const { return m_storageSettings; }
    // The inspection book: entries standing (read from the store at start), and a new one
    // (or a correction) stored as an event. With a depot file, a bin whose next
    // inspection (by its class and warmest grain) has passed is a low alarm.
    const QList<InspectionEntry> &inspections() const { return m_inspections; }
    void addInspection(const InspectionEntry &entry);
    // A depot file edited while running: its bins from now on (the frames already taken stay).
    void setDepot(const Depot &depot)
    {
        m_depot.setDepot(depot);
        m_ventilation.setDepot(depot);
    }
    // Air and fans: a transmitter's reply (or fault), stored as the air's own events.
    void acceptAir(int key, const AirReading &reading, qint64 nowMs);
    const VentilationControl &ventilation() const { return m_ventilation; }
    // Who sends a fan's coil write (vxcollect); with one, [ventilation] automatic = on switches the fans.
    void setFanWriter(std::function<void(const FanSwitch &)> writer);
    // How a write went; the fans' state, and the fan log, follow.
    void fanSwitched(const FanSwitch &s, bool ok, qint64 nowMs);
    // Told each change of advice, fan switch and transmitter fault, in words (vxcollect prints them).
    void setAirReporter(std::function<void(const QString &)> report) { m_airReporter = std::move(report); }
    // The keeper's switch of a bin's fans, or back to automatic (nothing).
    void switchFansByHand(int bin, std::optional<bool> on, qint64 nowMs);
    void setInspectionDay(std::function<QDate(qint64)> dayOf) { m_dayOf = std::move(dayOf); }
    const AlarmSettings &alarmSettings() const { return m_alarmSettings; }
    int alarmSilentMinutes() const { return m_alarmSilentMinutes; }
    // Problems of alarms.ini, one line each (the default was used for each).
    const QStringList &alarmSettingsErrors() const { return m_alarmSettingsErrors; }
    void setAlarmSettings(const AlarmSettings &settings, int silentMinutes);

signals:
    // The store's problems (said once until they clear) and their clearing.
    void problem(const QString &message);
    void recovered(const QString &message);

private:
    void record(const QList<AlarmTransition> &transitions);
    void refreshWindowAgo(qint64 nowMs, qint64 silentAfterMs);

    PipelineSettings m_settings;
    RecordFiles m_records;
    QString m_dataGet;
    std::array<QString, kMaxReplyAddress> m_dataLogs;
    std::unique_ptr<StoreService> m_store;
    std::unique_ptr<MqttPublisher> m_mqtt; // after the store: stopped before it closes
    std::unique_ptr<Notifier> m_notifier;  // likewise
    std::function<void(const QString &)> m_notifyReporter;
    QList<ReadingListener *> m_listeners;
    std::function<void(const QString &)> m_mqttReporter;
    bool m_storing = true;
    GrainSnapshot m_snapshot;
    DepotPicture m_depot;
    StorageSettings m_storageSettings;
    InspectionIntervals m_inspectionIntervals;
    VentilationControl m_ventilation;
    bool m_fansAutomatic = false;
    std::function<void(const FanSwitch &)> m_fanWriter;
    std::function<void(const QString &)> m_airReporter;
    void addAirEvent(const StoreEvent &event);
    qint64 m_ventilationAt = 0;
    void evaluateVentilation(qint64 nowMs, qint64 silentAfterMs);
    QList<InspectionEntry> m_inspections;
    std::function<QDate(qint64)> m_dayOf; // the local day of a time (a test's fake clock may set it)
    QList<AlarmCondition> inspectionsOverdue(qint64 nowMs, qint64 silentAfterMs) const;
    AlarmBook m_alarms;
    AlarmSettings m_alarmSettings;
    int m_alarmSilentMinutes = 0;
    QStringList m_alarmSettingsErrors;
    // For the rate of rise: each point's stored reading nearest to a rise window ago.
    std::unique_ptr<ReadingStore> m_readBack;
    bool m_readBackTried = false;
    QMap<QPair<int, int>, PointReading> m_windowAgo, m_weekAgo;
    qint64 m_windowAgoAt = 0;
};

} // namespace vx
