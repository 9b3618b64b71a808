#include "core/store/SqliteStore.h"

#include "core/store/StoreRows.h"

#include <QElapsedTimer>
#include <QSqlDriver>
#include <QSqlError>
#include <QThread>

#include <sqlite3.h>

namespace vx {

using namespace storerows;

namespace {
constexpr int kBusyTimeoutMs = 10000;
}

SqliteStore::~SqliteStore()
{
    sqlite3_finalize(m_insertReading); // before the connection closes
}

void SqliteStore::configure()
{
    m_db.setDatabaseName(m_location.file);
    m_db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs));
}

bool SqliteStore::prepareSession(QString *error)
{
    // WAL: readers never wait for the writer; FULL: a committed batch survives a power cut.
    QSqlQuery q(m_db);
    for (const char *pragma : {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=FULL"}) {
        // A new file's journal mode is changed under a lock SQLite does not wait
        // for: when another program opens the same new store at that moment,
        // try again for as long as the busy timeout would have waited.
        QElapsedTimer waited;
        waited.start();
        bool done = q.exec(QString::fromLatin1(pragma));
        while (!done && q.lastError().nativeErrorCode() == QLatin1String("5") && waited.elapsed() < kBusyTimeoutMs) {
            QThread::msleep(20);
            done = q.exec(QString::fromLatin1(pragma));
        }
        if (!done) {
            *error = QStringLiteral("%1: %2").arg(m_location.display(), sqlErrorText(q.lastError()));
            return false;
        }
    }
    return true;
}

QString SqliteStore::hourExpr(const QString &column) const
{
    return QStringLiteral("(%1 / 3600000 * 3600000)").arg(column);
}

QString SqliteStore::deviceUpsertSql() const
{
    return QStringLiteral("INSERT INTO devices (address, first_seen, last_seen) VALUES (:address, :first, :last) "
                          "ON CONFLICT (address) DO UPDATE SET first_seen = min(first_seen, excluded.first_seen), "
                          "last_seen = max(last_seen, excluded.last_seen)");
}

QString SqliteStore::sensorPlaceUpsertSql() const
{
    return QStringLiteral("INSERT INTO sensor_map (address, channel, position, code, first_seen, last_seen) "
                          "VALUES (:address, :channel, :position, :code, :time, :time2) ON CONFLICT (address, channel, "
                          "position) DO UPDATE SET first_seen = CASE WHEN code = excluded.code THEN first_seen ELSE "
                          "excluded.first_seen END, code = excluded.code, last_seen = excluded.last_seen");
}

QString SqliteStore::sensorPlaceReplaceSql() const
{
    return QStringLiteral("INSERT OR REPLACE INTO sensor_map (address, channel, position, code, first_seen, "
                          "last_seen) VALUES (:address, :channel, :position, :code, :first, :last)");
}

QString SqliteStore::rollupMarkSql() const
{
    return QStringLiteral("INSERT INTO hourly_state (address, point, rolled_to) VALUES (:address, :point, :to) "
                          "ON CONFLICT (address, point) DO UPDATE SET rolled_to = excluded.rolled_to");
}

QString SqliteStore::deleteOldReadingsSql() const
{
    return QStringLiteral("DELETE FROM readings WHERE (address, point, time) IN "
                          "(SELECT address, point, time FROM readings WHERE address = :address "
                          "AND point = :point AND time < :cutoff LIMIT :limit)");
}

// The readings of a batch through SQLite's own prepared statement, in the
// transaction QSqlDatabase opened on the same connection.
bool SqliteStore::insertReadings(const QList<ReadingSet> &frames)
{
    const QVariant handle = m_db.driver()->handle();
    sqlite3 *db = handle.isValid() && qstrcmp(handle.typeName(), "sqlite3*") == 0
                      ? *static_cast<sqlite3 *const *>(handle.constData())
                      : nullptr;
    if (!db) {
        m_lastError = QStringLiteral("the SQLite driver gives no connection handle");
        return false;
    }
    if (!m_insertReading
        && sqlite3_prepare_v2(db,
                              "INSERT OR IGNORE INTO readings (address, point, time, raw, celsius, status) "
                              "VALUES (?1, ?2, ?3, ?4, ?5, ?6)",
                              -1, &m_insertReading, nullptr)
               != SQLITE_OK) {
        m_lastError = QString::fromUtf8(sqlite3_errmsg(db));
        return false;
    }
    for (const ReadingSet &frame : frames) {
        for (int k = 0; k < frame.raw.size(); ++k) {
            const quint16 raw = frame.raw[k];
            const auto celsius = celsiusOf(raw);
            sqlite3_bind_int(m_insertReading, 1, frame.address);
            sqlite3_bind_int(m_insertReading, 2, k + 1);
            sqlite3_bind_int64(m_insertReading, 3, frame.timeMs);
            sqlite3_bind_int(m_insertReading, 4, raw);
            if (celsius)
                sqlite3_bind_double(m_insertReading, 5, *celsius);
            else
                sqlite3_bind_null(m_insertReading, 5);
            sqlite3_bind_text(m_insertReading, 6, statusKey(statusOf(raw)), -1, SQLITE_STATIC);
            const int rc = sqlite3_step(m_insertReading);
            sqlite3_reset(m_insertReading);
            if (rc != SQLITE_DONE) {
                m_lastError = QString::fromUtf8(sqlite3_errmsg(db));
                return false;
            }
            m_lastAdded += sqlite3_changes(db);
        }
    }
    return true;
}

namespace {
// The events a notification may be made of; the rest never enter its outbox.
bool notifiable(const QString &kind)
{
    return (kind.startsWith(QLatin1String("alarm_")) && kind != QLatin1String("alarm_acknowledged"))
           || kind == QLatin1String("collector_started") || kind == QLatin1String("collector_stopped")
           || kind == QLatin1String("port_lost") || kind == QLatin1String("port_back");
}
} // namespace

bool SqliteStore::addBatch(const QList<SiteRows> &batch, int queues)
{
    // A file is one site's: every part of the batch is its own.
    for (const SiteRows &part : batch)
        if (!addSiteRows(part.frames, part.events, queues))
            return false;
    return true;
}

bool SqliteStore::addSiteRows(const QList<ReadingSet> &frames, const QList<StoreEvent> &events, int queues)
{
    const QMap<int, DeviceSeen> seen = devicesSeenIn(frames);
    if (!insertReadings(frames))
        return false;
    for (const ReadingSet &frame : frames) {
        for (const OutboxQueue queue : {CentralQueue, MqttQueue}) { // notifications are made of events only
            if (!(queues & queue))
                continue;
            QSqlQuery &o = prepared(QStringLiteral("INSERT INTO %1 (time, address, kind, raw) VALUES (?, ?, 'frame', ?)")
                                        .arg(outboxTable(queue)));
            o.bindValue(0, frame.timeMs);
            o.bindValue(1, frame.address);
            o.bindValue(2, packRegisters(frame.raw));
            if (!o.exec())
                return fail(o);
        }
    }
    if (!storeDevices(seen))
        return false;
    for (const StoreEvent &e : events) {
        QSqlQuery &q = prepared(
            QStringLiteral("INSERT OR IGNORE INTO events (time, address, kind, detail, data) VALUES (?, ?, ?, ?, ?)"));
        q.bindValue(0, e.timeMs);
        q.bindValue(1, e.address);
        q.bindValue(2, e.kind);
        q.bindValue(3, notNull(e.detail));
        q.bindValue(4, e.data.isEmpty() ? QVariant() : QVariant(QString::fromUtf8(e.data)));
        if (!q.exec())
            return fail(q);
        for (const OutboxQueue queue : {CentralQueue, MqttQueue, NotifyQueue}) {
            if (!(queues & queue) || (queue == NotifyQueue && !notifiable(e.kind)))
                continue;
            QSqlQuery &o = prepared(QStringLiteral("INSERT INTO %1 (time, address, kind, detail, data) VALUES (?, ?, ?, ?, ?)")
                                        .arg(outboxTable(queue)));
            o.bindValue(0, e.timeMs);
            o.bindValue(1, e.address);
            o.bindValue(2, e.kind);
            o.bindValue(3, notNull(e.detail));
            o.bindValue(4, e.data.isEmpty() ? QVariant() : QVariant(QString::fromUtf8(e.data)));
            if (!o.exec())
                return fail(o);
        }
    }
    return true;
}

QList<OutboxEntry> SqliteStore::outbox(int limit, OutboxQueue queue, qint64 afterId)
{
    QList<OutboxEntry> result;
    QSqlQuery &q = prepared(QStringLiteral("SELECT id, time, address, kind, raw, detail, data FROM %1 WHERE id > ? "
                                           "ORDER BY id LIMIT ?")
                                .arg(outboxTable(queue)));
    q.bindValue(0, afterId);
    q.bindValue(1, limit);
    if (!q.exec()) {
        fail(q);
        return result;
    }
    while (q.next()) {
        OutboxEntry e;
        e.id = q.value(0).toLongLong();
        const QString kind = q.value(3).toString();
        if (kind == QLatin1String("frame")) {
            e.frame = {q.value(1).toLongLong(), q.value(2).toInt(), unpackRegisters(q.value(4).toByteArray())};
        } else {
            e.isEvent = true;
            e.event = {q.value(1).toLongLong(), q.value(2).toInt(), kind, q.value(5).toString(),
                       q.value(6).toString().toUtf8()};
        }
        result.append(e);
    }
    q.finish();
    return result;
}

bool SqliteStore::dropOutboxThrough(qint64 id, OutboxQueue queue)
{
    QSqlQuery &q = prepared(QStringLiteral("DELETE FROM %1 WHERE id <= ?").arg(outboxTable(queue)));
    q.bindValue(0, id);
    return q.exec() || fail(q);
}

qint64 SqliteStore::outboxReadings(OutboxQueue queue)
{
    QSqlQuery q(m_db);
    if (!q.exec(QStringLiteral("SELECT coalesce(sum(length(raw)), 0) / 2 FROM %1 WHERE kind = 'frame'").arg(outboxTable(queue)))
        || !q.next())
        return fail(q), -1;
    return q.value(0).toLongLong();
}

} // namespace vx
