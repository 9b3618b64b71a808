#pragma once

#include "core/store/ReadingSet.h"
#include "core/store/StoreLocation.h"

#include <QHash>
#include <QMap>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <functional>
#include <memory>
#include <optional>

class QIODevice;

namespace vx {

struct StoredReading {
    qint64 timeMs = 0;
    quint16 raw = 0;
    std::optional<double> celsius;
    ReadingStatus status = ReadingStatus::Ok;
};

// Good readings ("ok") of one time slice, for a chart.
struct ReadingBucket {
    qint64 startMs = 0;
    double min = 0, mean = 0, max = 0;
    qint64 count = 0;
};

// A device falling silent or answering again, an alarm, a sensor change.
// Address 0 stands for the collector itself.
struct StoreEvent {
    qint64 timeMs = 0;
    int address = 0;
    QString kind;
    QString detail;   // for people, as written (Chinese)
    QByteArray data;  // for programs: an alarm's rule, layers and values as JSON; empty for other events
};

struct DeviceSeen {
    int address = 0;
    qint64 firstSeenMs = 0, lastSeenMs = 0;
};

// What waits in a local store for the central one, in arrival order.
struct OutboxEntry {
    qint64 id = 0;
    ReadingSet frame;   // kind "frame"
    StoreEvent event;   // kind "event"
    bool isEvent = false;
};

// The sensor last read at a device's channel and position.
struct SensorPlace {
    int address = 0, channel = 0, position = 0;
    QString code;   // "28 FF 4A 3B 05 00 00 9C"
    qint64 firstSeenMs = 0, lastSeenMs = 0;
};

// A position that held another sensor than last time.
struct SensorChange {
    int channel = 0, position = 0;
    QString oldCode, newCode;
    // "通道1 位置05 传感器已更换: 旧码 → 新码"
    QString text() const;
};

// One point's good readings over a span.
struct PointSummary {
    int address = 0, point = 0;
    double min = 0, max = 0, mean = 0;
    qint64 count = 0;
};

struct ExportRequest {
    qint64 fromMs = 0, toMs = 0;   // [from, to)
    QList<int> addresses;          // empty: all
    bool perFrame = false;         // one row per frame, a column per point; else one row per reading
};

// One site's part of a batch that carries several (a central ingester's).
struct SiteRows {
    QString site;
    QList<ReadingSet> frames;
    QList<StoreEvent> events;
};

// The local store's queues of what waits to be sent on (SQLite only).
enum OutboxQueue : int {
    CentralQueue = 1,   // for the central PostgreSQL store
    MqttQueue = 2,      // for the MQTT broker
    NotifyQueue = 4,    // events that notifications are made of (alarms, the collector's own)
};

// A notification composed for one channel, waiting until the channel accepts it.
struct StoredNotice {
    qint64 id = 0;
    QString channel;
    QString kind;          // the message's kind; "flooded": part of a flood, sent as one summary
    qint64 createdMs = 0, dueMs = 0, nextTryMs = 0;
    int attempts = 0;
    QByteArray message;    // packMessage()
    QString lastError;
};

// The server's (or driver's) reason in one line, without "ERROR:" and the
// statement's position lines: what an operator is told.
QString sqlErrorText(const QSqlError &error);

// The readings store: one interface, a SQLite file (SqliteStore) or a
// PostgreSQL database (PostgresStore) behind it. The SQL both share is written
// once here (ReadingStore.cpp, StoreSummaries.cpp, StoreExchange.cpp); what
// differs is each engine's own, in its own file, behind the hooks below. One
// instance is one connection, used from the thread that opened it. In
// PostgreSQL every row carries the site it came from; a SQLite file is one site's.
class ReadingStore {
public:
    // Opens (and creates or migrates) the store; nothing and *error when it cannot.
    static std::unique_ptr<ReadingStore> open(const StoreLocation &location, const QString &site, QString *error);
    virtual ~ReadingStore();
    ReadingStore(const ReadingStore &) = delete;
    ReadingStore &operator=(const ReadingStore &) = delete;

    StoreLocation::Engine engine() const { return m_location.engine; }
    // One connection for many sites (a central ingester): what follows is this site's.
    void setSite(const QString &site) { m_site = site; }
    const StoreLocation &location() const { return m_location; }
    QString lastError() const { return m_lastError; }
    // PostgreSQL: the connection's socket, so that another thread can cut a
    // call that hangs (a server or proxy that stopped answering); -1 otherwise.
    virtual int connectionSocket() const { return -1; }

    // Frames and events in one transaction: all of them or none. A reading
    // already stored (same address, point and time) is left as it was.
    // queues: OutboxQueue flags; the frames and events also wait in those outboxes (SQLite only).
    bool add(const QList<ReadingSet> &frames, const QList<StoreEvent> &events = {}, int queues = 0);
    // Several sites' frames and events in one transaction (a store whose rows
    // carry their site; a SQLite file takes them all as its own).
    bool addForSites(const QList<SiteRows> &batch, int queues = 0);
    // Readings the last add() actually inserted.
    qint64 lastAdded() const { return m_lastAdded; }

    qint64 readingCount();
    QList<StoredReading> readings(int address, int point, qint64 fromMs, qint64 toMs);
    // The "ok" reading of a point nearest to a time, within slackMs either side
    // (two seeks on the key, whatever the span); nothing when there is none.
    std::optional<StoredReading> nearestReading(int address, int point, qint64 timeMs, qint64 slackMs, bool okOnly = true);
    // The span [from, to) cut into at most `count` equal slices; empty slices
    // are left out. Slices of an hour or more are whole hours, counted from
    // the hour `from` falls in (the first starts at `from`), and read from the
    // hourly summaries for the hours they cover.
    QList<ReadingBucket> buckets(int address, int point, qint64 fromMs, qint64 toMs, int count);
    QList<DeviceSeen> devices();
    // Frames stored with a time after sinceMs (points 1..maxPoint; a point
    // missing from a frame reads 65535), oldest first: what a viewer shows next.
    QList<ReadingSet> framesSince(qint64 sinceMs, int maxPoint = 18);
    // Each device's latest frame (points 1..maxPoint; one it lacks reads 65535): a depot's picture at start.
    QList<ReadingSet> latestFrames(int maxPoint = 18);
    // Every point's minimum, maximum and mean of "ok" readings in [from, to), by address and point.
    QList<PointSummary> pointSummaries(qint64 fromMs, qint64 toMs);
    // Of one kind only when kind is given.
    QList<StoreEvent> events(qint64 fromMs, qint64 toMs, const QString &kind = QString());

    // CSV, UTF-8, a header row, times in RFC 3339 with the local offset.
    // progress(rows so far) is asked now and then; false stops the export.
    bool exportCsv(QIODevice &out, const ExportRequest &request, QString *error,
                   const std::function<bool(qint64)> &progress = {});

    // An outbox (SQLite; a central store has none): the oldest entries, and dropping them once shipped.
    // The oldest entries after afterId (a reader with entries still in flight reads on from them).
    virtual QList<OutboxEntry> outbox(int limit, OutboxQueue queue = CentralQueue, qint64 afterId = 0);
    virtual bool dropOutboxThrough(qint64 id, OutboxQueue queue = CentralQueue);
    // Readings waiting in an outbox.
    virtual qint64 outboxReadings(OutboxQueue queue = CentralQueue);

    // Notifications (the local SQLite store): what the notify outbox's events
    // made, stored and those events dropped in one transaction; a channel's
    // oldest, in order; each gone once its channel took it.
    bool composeNotices(const QList<StoredNotice> &notices, qint64 throughOutboxId);
    QList<StoredNotice> notices(const QString &channel, int limit);
    bool dropNotices(const QList<qint64> &ids);
    bool retryNotice(qint64 id, int attempts, qint64 nextTryMs, const QString &error);
    qint64 noticesWaiting(const QString &channel);

    // The sensor map: every place's code; and the codes a read found at one
    // device's channel (position 1 first), stored, with each place whose
    // code changed reported (and stored as a "sensor_replaced" event).
    QList<SensorPlace> sensorMap();
    std::optional<QList<SensorChange>> recordSensorCodes(int address, int channel, const QStringList &codes, qint64 timeMs);
    // CSV: address,channel,position,code,family,first_seen,last_seen (RFC 3339).
    bool exportSensorMap(QIODevice &out, QString *error);
    // Takes a map exported before as this site's reference: its places replace
    // those held; a line that is not such a place is refused with its number.
    bool importSensorMap(QIODevice &in, int *places, QString *error);

    // Summarises every point's complete hours before upToMs that are not yet
    // (done beside collection, so a chart never waits for it), for at most
    // budgetMs (0: to the end): true when all are done, false when the budget
    // ran out first (call again), nothing on failure.
    std::optional<bool> summariseHours(qint64 upToMs, int budgetMs = 0);

    // Deletes at most `limit` readings older than cutoff; how many went, -1 on failure.
    int deleteReadingsBefore(qint64 cutoffMs, int limit);

    // A partitioned store (PostgreSQL, readings by month): the month of nowMs
    // and the `ahead` after it made ready, so a batch never waits on that.
    virtual bool prepareMonths(qint64 nowMs, int ahead) { Q_UNUSED(nowMs) Q_UNUSED(ahead) return true; }
    // Drops whole months of readings that ended at or before cutoffMs (a
    // month's start); the months that went ("2025_11"), nothing on failure.
    virtual std::optional<QStringList> dropMonthsBefore(qint64 cutoffMs) { Q_UNUSED(cutoffMs) return QStringList(); }
    // Every site's points whose hourly summaries lag behind upToMs (an hour's
    // start), a week of each at most a statement, for at most budgetMs: true
    // when all are done, false when the budget ran out, nothing on failure.
    // Where rows carry their site (a central store): set-wise, not point by point.
    virtual std::optional<bool> summariseAllSites(qint64 upToMs, int budgetMs) { return summariseHours(upToMs, budgetMs); }

protected:
    ReadingStore(const StoreLocation &location, const QString &site);

    // The engine's own: its Qt driver, where it connects, its session settings.
    virtual QString driverName() const = 0;
    virtual void configure() = 0;
    virtual bool prepareSession(QString *error) = 0;
    // Its dialect: a bound UTC-milliseconds value as a time, a time column
    // as milliseconds, a time column's hour.
    virtual QString timeExpr(const QString &placeholder) const = 0;
    virtual QString msExpr(const QString &column) const = 0;
    virtual QString hourExpr(const QString &column) const = 0;
    // "site, " where every row carries its site; "" where the file is one site's.
    virtual QString siteColumn() const = 0;
    // Frames and events of one transaction (opened by addForSites()).
    virtual bool addBatch(const QList<SiteRows> &batch, int queues) = 0;
    // Before a batch's transaction (what must be there and committed first);
    // and after it rolled back (what was remembered of it may be wrong).
    virtual bool beforeBatch(const QList<SiteRows> &batch) { Q_UNUSED(batch) return true; }
    virtual void afterRollback() {}
    // The statements whose upsert or limit syntax differs.
    virtual QString deviceUpsertSql() const = 0;      // :address :first :last (:site)
    virtual QString sensorPlaceUpsertSql() const = 0; // keeps first_seen while the code stays: :time :time2
    virtual QString sensorPlaceReplaceSql() const = 0; // :first :last
    virtual QString rollupMarkSql() const = 0;        // :address :point :to
    virtual QString deleteOldReadingsSql() const = 0; // :address :point :cutoff :limit

    // " AND site = :site" where rows carry their site.
    QString siteFilter() const;
    void bindSite(QSqlQuery &q, const QString &name = QStringLiteral(":site")) const;
    bool fail(const QSqlQuery &q);
    bool prepare(QSqlQuery &q, const QString &sql);
    QSqlQuery &prepared(const QString &sql);
    bool storeDevices(const QMap<int, DeviceSeen> &seen);

    StoreLocation m_location;
    QString m_site;
    QString m_connection;
    QSqlDatabase m_db;
    QString m_lastError;
    qint64 m_lastAdded = 0;

private:
    // Each device's points' readings matching readingWhere, one seek a point.
    QString devicePointsSql(int maxPoint, const QString &timeColumn, const QString &readingWhere,
                            const QString &deviceWhere) const;
    bool connect(QString *error);
    struct Partial {
        double min = 0, max = 0, sum = 0;
        qint64 count = 0;
    };
    bool addPartials(const QString &table, int address, int point, qint64 fromMs, qint64 toMs, qint64 originMs,
                     qint64 widthMs, QMap<qint64, Partial> *slices);
    // Brings the hourly summaries of a point up to (not including) the hour upToMs; where they now end.
    qint64 rollUp(int address, int point, qint64 upToMs);
    // Where a point's summaries end (noReadingsMs when it has no readings).
    std::optional<qint64> summariesEnd(int address, int point, qint64 noReadingsMs);
    bool moveRollupBack(int address, qint64 hourMs);
    bool trimSummaries(int address, int point, qint64 cutoffMs);

    QHash<QString, QSqlQuery> m_statements;
    QString m_prepareError;   // a statement that failed to prepare: its reason, until said
    QSqlQuery m_unprepared;
};

} // namespace vx
