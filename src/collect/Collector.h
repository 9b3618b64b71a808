#pragma once

#include "collect/BusLine.h"
#include "collect/CollectorSettings.h"
#include "core/bus/BusEngine.h"
#include "core/pipeline/ReadingPipeline.h"
#include "core/share/BusLease.h"
#include "core/share/BusShareServer.h"
#include "core/web/WebAccess.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QObject>
#include <QTimer>

#include <memory>

namespace vx {

class HttpServer;
class SerialPort;
struct CollectorMetrics;
struct HttpRequest;
struct HttpResponse;

// vxcollect's face on the core: the port and its engine feed the readings
// pipeline (the same road the window's frames take); this class prints a
// status line per cycle or JSON lines, keeps the port open through outages
// and answers /metrics and /healthz.
class Collector : public QObject, private ReadingListener {
    Q_OBJECT
public:
    Collector(const CollectorSettings &settings, std::unique_ptr<SerialPort> port, QObject *parent = nullptr);
    ~Collector() override;

    enum class StartResult { Started, StoreUnavailable, PortUnavailable };
    // When the store or the port cannot be opened, *why says what was tried.
    StartResult start(QString *why);
    void stop();
    BusEngine &engine() { return *m_engine; }
    // The depot's buses after the first, each with its own port and engine.
    const std::vector<std::unique_ptr<BusLine>> &otherBuses() const { return m_otherBuses; }
    ReadingPipeline &pipeline() { return m_pipeline; }
    int outages() const { return m_outages; }
    // The port the metrics endpoint listens on; 0 when it does not.
    int metricsPort() const { return m_metricsPort; }
    CollectorMetrics metrics() const;
    // A window holds the bus: the port is closed and nothing is polled.
    bool paused() const { return m_paused; }

signals:
    void stopped();

private:
    void frameAccepted(const AcceptedFrame &accepted) override;
    void alarmsChanged(const QList<AlarmTransition> &transitions, const AlarmBook &book) override;
    void deviceChanged(int address, bool answering, qint64 timeMs) override;
    void onCycle();
    // A transmitter's reply: its reading or fault to the pipeline; false for a cable's.
    bool acceptAir(int key, const QList<quint16> &registers, const QDateTime &arrived);
    void onAirException(int key, quint8 code);
    void airOrDeviceChanged(int key, bool answering);
    void fanWritten(const QByteArray &request, bool ok);
    void onOtherCycle(int bus, qint64 cycle);
    void print(const QByteArray &line);
    void onPortLost();
    void reconnect();
    void everySecond();
    qint64 silentAfterMs() const;
    bool startMetrics(QString *why);
    void publishState(int address);
    // What the HTTP thread answers from: taken on this thread once a second,
    // so scrapers, however many, cost the bus nothing.
    void publishSnapshot();
    HttpResponse answer(const HttpRequest &request);
    // The control socket: a window takes the bus, renews its lease, sends
    // the frames it takes and gives the bus back.
    void startControl();
    void control(const QJsonObject &request, quintptr connection, BusShareServer::Reply reply);
    QJsonObject busStatus() const;
    void engineStopped();
    void finishPause();
    void resume(const QString &why);
    void busChanged(const QString &state, const QString &key, const QString &detail, const QString &said);

    CollectorSettings m_settings;
    std::unique_ptr<SerialPort> m_port;
    std::unique_ptr<BusEngine> m_engine;
    std::vector<std::unique_ptr<BusLine>> m_otherBuses;
    QList<FanSwitch> m_fanWrites; // sent, not yet echoed
    ReadingPipeline m_pipeline;
    QElapsedTimer m_sinceStatus;
    qint64 m_exchangesAtStatus = 0;
    QElapsedTimer m_cycleClock;
    qint64 m_lastCycleMs = 0;
    QTimer m_secondTimer;
    QTimer m_reconnect;
    int m_reconnectDelayMs = 0;
    int m_outages = 0;
    QElapsedTimer m_downSince;
    QMap<int, ReadingSet> m_latest; // each device's last frame, for the temperature gauges
    std::unique_ptr<HttpServer> m_http;
    int m_metricsPort = 0;
    struct Snapshot {
        std::shared_ptr<const CollectorMetrics> metrics;
        QByteArray problems; // empty: healthy
        QByteArray readings, alarms, depot; // the web view's, as JSON
    };
    // The web view: its API and page on the metrics server's thread.
    HttpResponse answerWeb(const QByteArray &path, const HttpRequest &request, const Snapshot &snapshot);
    void publishLive();
    // An alarm group acknowledged from the web, on the collector's thread.
    void acknowledgeFromWeb(int cable, AlarmRule rule, const QString &user);
    std::unique_ptr<web::WebGate> m_webGate; // null: the web view is off
    std::unique_ptr<ReadingStore> m_webStore; // the HTTP thread's own connection
    bool m_webStoreTried = false;
    QTimer m_liveTimer;
    bool m_readingsChanged = false;
    QMutex m_servedMutex;
    Snapshot m_served;
    QElapsedTimer m_sinceStatePublished;
    std::unique_ptr<BusShareServer> m_control;
    BusLease m_lease;
    bool m_stopping = false;
    bool m_pausing = false;  // the engine ends its exchange in flight, then the port closes
    bool m_paused = false;
    quintptr m_holderConnection = 0;
    BusShareServer::Reply m_takeReply; // answered once the port is closed
    qint64 m_silenceGraceUntilMs = 0;  // after a pause: unpolled cables are not yet silent
};

} // namespace vx
