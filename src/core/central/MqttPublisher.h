#pragma once

#include "core/central/MqttMessages.h"
#include "core/central/MqttSettings.h"
#include "core/records/ReportLimiter.h"

#include <QHash>
#include <QMap>
#include <QSet>
#include <QMutex>
#include <QString>

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <thread>

struct mosquitto;

namespace vx {


// Publishes what the local store's MQTT outbox holds, oldest first, on a
// thread of its own; an entry leaves the outbox only once the broker has
// acknowledged all of its messages, so a broker that is away (or restarts)
// loses nothing: the readings wait and go, in order, when it is back.
// Retained state (online, each device's state) is sent on every connection.
class MqttPublisher {
public:
    MqttPublisher(const MqttSettings &settings, const QString &site, const QString &localStore);
    ~MqttPublisher();
    MqttPublisher(const MqttPublisher &) = delete;
    MqttPublisher &operator=(const MqttPublisher &) = delete;

    // One line for each problem and its clearing; called from the publisher's thread.
    void setReporter(std::function<void(const QString &)> report) { m_report = std::move(report); }
    // Readings committed into the outbox so far (the store's count), for the backlog.
    void setQueuedCount(std::function<qint64()> queued) { m_queued = std::move(queued); }

    // Opens the outbox and starts the thread; false and *why when the store cannot be read.
    bool start(QString *why);
    // Publishes what waits for up to drainMs, says "offline" and disconnects.
    void stop(int drainMs = 3000);
    // The same without waiting for it: stop() then only waits.
    void requestStop(int drainMs);

    // A retained message; the latest per topic is kept and sent again after each reconnection.
    void publishRetained(const QByteArray &topic, const QByteArray &payload);

    const MqttTopics &topics() const { return m_topics; }
    bool connected() const { return m_connected.load(); }
    qint64 backlog() const;                           // readings waiting in the outbox
    qint64 readingsPublished() const { return m_published.load(); }
    qint64 messagesPublished() const { return m_messages.load(); }
    int reconnections() const { return m_reconnections.load(); }
    // Messages the broker would never take (larger than it accepts, or
    // breaking the connection again and again alone), set aside so they no
    // longer hold up the rest; stored as "mqtt_refused" events (once a minute
    // per kind of refusal, with the count).
    qint64 messagesSetAside() const { return m_setAside.load(); }

private:
    void run();
    bool connectToBroker(QString *why);
    void dropConnection();
    bool shipBatch();
    void shipMore();
    void completeBatches();
    void track(int mid, qint64 sequence);
    void sendRetained(bool all);
    bool waitForAcks(int timeoutMs);
    void report(const QString &key, const QString &line);
    void batchBroke();
    void setAside(const MqttMessage &message, const OutboxEntry &entry, const QString &why);

    static void onConnect(struct mosquitto *, void *self, int rc);
    static void onDisconnect(struct mosquitto *, void *self, int rc);
    static void onPublish(struct mosquitto *, void *self, int mid);

    MqttSettings m_settings;
    MqttTopics m_topics;
    QString m_localStore;
    std::unique_ptr<ReadingStore> m_store;   // used on the publisher's thread only
    struct mosquitto *m_mosq = nullptr;
    std::thread m_thread;
    std::atomic<bool> m_stopAsked{false};
    std::atomic<int> m_drainMs{0};
    std::function<void(const QString &)> m_report;
    std::function<qint64()> m_queued;

    // Retained messages: all known, and those not yet sent on this connection.
    QMutex m_retainedMutex;
    QMap<QByteArray, QByteArray> m_retained;
    QMap<QByteArray, QByteArray> m_retainedUnsent;

    // Batches in flight, oldest first: their outbox ids, readings and
    // messages not yet acknowledged. Used on the publisher's thread only.
    struct Batch {
        qint64 firstId = -1, lastId = -1, readings = 0;
        int unacked = 0;
    };
    std::deque<Batch> m_inFlight;
    qint64 m_firstBatchSequence = 0;  // the sequence number of m_inFlight.front()
    QHash<int, qint64> m_midBatch;    // message id -> its batch's sequence number, -1 for none
    QSet<int> m_earlyAcks;            // acknowledged before mosquitto_publish() returned their id
    int m_unacked = 0;                // every message awaiting its acknowledgement
    bool m_connectAcked = false;
    int m_connectResult = -1;

    // A batch whose sending broke the connection again and again: the broker
    // refuses something in it. It goes an entry at a time until the entry is
    // found, and the wait before reconnecting grows meanwhile.
    int m_batchLimit = 0;
    qint64 m_brokenFirstId = -1, m_brokenLastId = -1;
    int m_brokenTimes = 0;
    ReportLimiter m_limiter;
    qint64 m_learnedTooLarge = 0;           // a packet this large broke the connection (MQTT 3.1.1)
    ReportLimiter m_setAsideEvents;
    std::atomic<qint64> m_setAside{0};
    std::atomic<qint64> m_setAsideReadings{0};

    std::atomic<bool> m_connected{false};
    std::atomic<qint64> m_initialBacklog{0};
    std::atomic<qint64> m_published{0};
    std::atomic<qint64> m_messages{0};
    std::atomic<int> m_reconnections{0};
};

} // namespace vx
