#pragma once

#include "bus/BusEngine.h"
#include "collect/CollectorSettings.h"
#include "core/Records.h"
#include "grain/AlarmBook.h"
#include "store/StoreService.h"

#include <QMutex>
#include <QObject>
#include <QTimer>

#include <memory>

namespace vx {

class HttpServer;
class MqttPublisher;
class SerialPort;
struct CollectorMetrics;
struct HttpRequest;
struct HttpResponse;

// vxcollect's wiring: the port, the engine, and what becomes of each reading
// set: the same raw receive log and per-device data logs the window writes,
// a status line per cycle, or JSON lines.
class Collector : public QObject {
    Q_OBJECT
public:
    Collector(const CollectorSettings &settings, std::unique_ptr<SerialPort> port, QObject *parent = nullptr);
    ~Collector() override;

    enum class StartResult { Started, StoreUnavailable, PortUnavailable };
    // When the store or the port cannot be opened, *why says what was tried.
    StartResult start(QString *why);
    void stop();
    BusEngine &engine() { return *m_engine; }
    StoreService &store() { return m_store; }
    int outages() const { return m_outages; }
    const AlarmBook &alarms() const { return m_alarms; }
    MqttPublisher *mqtt() { return m_mqtt.get(); }
    // The port the metrics endpoint listens on; 0 when it does not.
    int metricsPort() const { return m_metricsPort; }
    CollectorMetrics metrics() const;

signals:
    void stopped();

private:
    void onReadings(int address, const QList<quint16> &registers, const QDateTime &arrived);
    void onCycle();
    void print(const QByteArray &line);
    void onPortLost();
    void evaluateAlarms();
    void reconnect();
    bool startMetrics(QString *why);
    // What the HTTP thread answers from: taken on this thread once a second,
    // so scrapers, however many, cost the bus nothing.
    void publishSnapshot();
    HttpResponse answer(const HttpRequest &request);
    void publishState(int address);

    CollectorSettings m_settings;
    std::unique_ptr<SerialPort> m_port;
    std::unique_ptr<BusEngine> m_engine;
    RecordFiles m_records;
    StoreService m_store;
    QElapsedTimer m_sinceStatus;
    qint64 m_exchangesAtStatus = 0;
    // The same alarm rules as the window's, over what this collector reads.
    GrainSnapshot m_snapshot;
    AlarmBook m_alarms;
    AlarmSettings m_alarmSettings;
    int m_alarmSilentMinutes = 0;
    std::unique_ptr<ReadingStore> m_readBack; // for the rate of rise: readings a window ago
    QMap<QPair<int, int>, PointReading> m_windowAgo;
    qint64 m_windowAgoAt = 0;
    QElapsedTimer m_cycleClock;
    qint64 m_lastCycleMs = 0;
    QTimer m_alarmTimer;
    QTimer m_reconnect;
    int m_reconnectDelayMs = 0;
    int m_outages = 0;
    QElapsedTimer m_downSince;
    QMap<int, ReadingSet> m_latest;        // each device's last frame, for the temperature gauges
    std::unique_ptr<HttpServer> m_http;
    struct Snapshot {
        std::shared_ptr<const CollectorMetrics> metrics;
        QByteArray problems; // empty: healthy
    };
    QMutex m_servedMutex;
    Snapshot m_served;
    int m_metricsPort = 0;
    std::unique_ptr<MqttPublisher> m_mqtt; // after the store: stopped before it
    QElapsedTimer m_sinceStatePublished;
};

} // namespace vx
