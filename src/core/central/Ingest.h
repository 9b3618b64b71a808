#pragma once

#include "core/central/MqttConsumer.h"
#include "core/http/HttpServer.h"
#include "core/store/ReadingStore.h"

#include <QHash>
#include <QMutex>
#include <QString>

#include <atomic>
#include <functional>
#include <optional>

namespace vx {

// What one message from a depot's collector becomes at the centre.
struct IngestItem {
    enum class Kind { Frame, Alarm, Ignored } kind = Kind::Ignored;
    QString site;
    ReadingSet frame;
    StoreEvent event;
};

// A message on <prefix>/<site>/<address> (a frame), <prefix>/<site>/alarms
// or <prefix>/<site>/status (ignored); nothing and *why (a short kind of
// problem, the same for every message of that kind) when it cannot be stored.
std::optional<IngestItem> ingestItemFrom(const QByteArray &topic, const QByteArray &payload, const QString &prefix,
                                         QString *why);

struct IngestSettings {
    MqttConsumerSettings broker;
    QString group = QStringLiteral("vxingest");
    QString prefix = QStringLiteral("vxmon");
    QString central;                // postgresql:// URL
    int batchReadings = 5000;       // a batch is committed at this many readings...
    int batchMs = 1000;             // ...or this long after its first message
    int keepMonths = 0;             // whole months kept before the current one; 0: all
    int upkeepMs = 60000;           // partitions ahead, old months, hourly summaries: this often
};

// Takes the depots' frame and alarm messages from a shared subscription and
// stores them centrally a batch at a time. A message is acknowledged to the
// broker only once its batch is committed, so an ingester killed at any
// moment loses nothing: the broker gives what was unacknowledged again (and
// a row stored twice is skipped by its key).
// A snapshot of an ingester's work, for /metrics and /healthz.
struct IngestStats {
    qint64 messages = 0, readings = 0, refused = 0, duplicates = 0, batches = 0, commitFailures = 0;
    qint64 lastBatchReadings = 0;
    double lastCommitSeconds = 0;
    bool brokerConnected = false, databaseOk = true;
    QString databaseProblem;
    QHash<QString, qint64> newestCommittedMs; // per site: its newest reading stored
};

// The Prometheus text of a snapshot: counters, the last batch, and per site
// the lag (now minus the newest committed reading's time).
QByteArray ingestMetricsText(const IngestStats &stats, qint64 nowMs);
// 200 "ok" while subscribed and committing; 503 and the reason otherwise.
HttpResponse ingestHealth(const IngestStats &stats);

class Ingester {
public:
    explicit Ingester(IngestSettings settings);
    // Runs until stop(); say() gets the lines for an operator.
    void run(const std::function<void(const QString &)> &say);
    void stop() { m_stop = true; }

    qint64 messages() const { return m_messages; }
    qint64 readings() const { return m_readings; } // committed (a reading delivered twice counts twice)
    qint64 refused() const { return m_refused; }
    IngestStats stats() const; // from any thread
    // Called on the ingester's thread after each commit, with the batch's
    // frames and events (a benchmark's delay from reading to central row).
    void onCommitted(std::function<void(const QList<IngestItem> &)> observer) { m_committed = std::move(observer); }

private:
    bool commit(const QList<IngestItem> &items, QString *why);
    bool openStore(QString *why);
    // Next month's partition made, months past keeping dropped, summaries brought up.
    bool upkeep(const std::function<void(const QString &)> &say, QString *why);

    IngestSettings m_settings;
    std::function<void(const QList<IngestItem> &)> m_committed;
    std::unique_ptr<ReadingStore> m_store;
    std::atomic<bool> m_stop{false};
    std::atomic<qint64> m_messages{0}, m_readings{0}, m_refused{0};
    QHash<QString, qint64> m_refusedByKind;
    mutable QMutex m_statsMutex;
    IngestStats m_stats; // what the atomics do not hold, under m_statsMutex
};

} // namespace vx
