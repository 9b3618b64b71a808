#include "core/store/PostgresStore.h"

#include "core/store/StoreRows.h"

#include <QSqlDriver>
#include <QSqlError>

#include <libpq-fe.h>

namespace vx {

using namespace storerows;

void PostgresStore::configure()
{
    m_db.setHostName(m_location.host);
    m_db.setPort(m_location.port);
    m_db.setDatabaseName(m_location.database);
    m_db.setUserName(m_location.user);
    m_db.setPassword(m_location.password);
    // Nothing waits for ever on a server (or a proxy) that stops answering:
    // connecting is bounded, a dead peer is found by keep-alive, and the
    // server ends a statement stuck on a lock or running long.
    m_db.setConnectOptions(QStringLiteral("connect_timeout=3;keepalives=1;keepalives_idle=5;keepalives_interval=2;"
                                          "keepalives_count=3;tcp_user_timeout=10000"));
}

bool PostgresStore::prepareSession(QString *)
{
    QSqlQuery q(m_db);
    q.exec(QStringLiteral("SET client_min_messages = warning"));
    q.exec(QStringLiteral("SET statement_timeout = '20s'"));
    q.exec(QStringLiteral("SET lock_timeout = '5s'"));
    return true;
}

int PostgresStore::connectionSocket() const
{
    if (!m_db.isOpen())
        return -1;
    const QVariant handle = m_db.driver()->handle();
    // Qt names libpq's type by its struct: "pg_conn*" (PGconn is a typedef of it).
    if (qstrcmp(handle.typeName(), "pg_conn*") != 0 && qstrcmp(handle.typeName(), "PGconn*") != 0)
        return -1;
    return PQsocket(*static_cast<PGconn *const *>(handle.data()));
}

QString PostgresStore::timeExpr(const QString &placeholder) const
{
    return QStringLiteral("(timestamptz 'epoch' + %1 * interval '1 millisecond')").arg(placeholder);
}

QString PostgresStore::msExpr(const QString &column) const
{
    return QStringLiteral("(extract(epoch from %1) * 1000)::bigint").arg(column);
}

QString PostgresStore::hourExpr(const QString &column) const
{
    // By the epoch, not date_trunc: that follows the session's time zone.
    return QStringLiteral("(timestamptz 'epoch' + floor(extract(epoch from %1) / 3600) * interval '1 hour')").arg(column);
}

QString PostgresStore::deviceUpsertSql() const
{
    return QStringLiteral("INSERT INTO devices (site, address, first_seen, last_seen) VALUES (:site, :address, %1, %2) "
                          "ON CONFLICT (site, address) DO UPDATE SET first_seen = LEAST(devices.first_seen, "
                          "excluded.first_seen), last_seen = GREATEST(devices.last_seen, excluded.last_seen)")
        .arg(timeExpr(QStringLiteral(":first")), timeExpr(QStringLiteral(":last")));
}

QString PostgresStore::sensorPlaceUpsertSql() const
{
    return QStringLiteral("INSERT INTO sensor_map (site, address, channel, position, code, first_seen, last_seen) "
                          "VALUES (:site, :address, :channel, :position, :code, %1, %2) ON CONFLICT (site, address, "
                          "channel, position) DO UPDATE SET first_seen = CASE WHEN sensor_map.code = excluded.code "
                          "THEN sensor_map.first_seen ELSE excluded.first_seen END, code = excluded.code, "
                          "last_seen = excluded.last_seen")
        .arg(timeExpr(QStringLiteral(":time")), timeExpr(QStringLiteral(":time2")));
}

QString PostgresStore::sensorPlaceReplaceSql() const
{
    return QStringLiteral("INSERT INTO sensor_map (site, address, channel, position, code, first_seen, last_seen) "
                          "VALUES (:site, :address, :channel, :position, :code, %1, %2) ON CONFLICT (site, "
                          "address, channel, position) DO UPDATE SET code = excluded.code, first_seen = "
                          "excluded.first_seen, last_seen = excluded.last_seen")
        .arg(timeExpr(QStringLiteral(":first")), timeExpr(QStringLiteral(":last")));
}

QString PostgresStore::rollupMarkSql() const
{
    return QStringLiteral("INSERT INTO hourly_state (site, address, point, rolled_to) VALUES (:site, :address, "
                          ":point, %1) ON CONFLICT (site, address, point) DO UPDATE SET rolled_to = excluded.rolled_to")
        .arg(timeExpr(QStringLiteral(":to")));
}

QString PostgresStore::deleteOldReadingsSql() const
{
    return QStringLiteral("DELETE FROM readings WHERE ctid IN (SELECT ctid FROM readings "
                          "WHERE site = :site AND address = :address AND point = :point "
                          "AND time < %1 LIMIT :limit)")
        .arg(timeExpr(QStringLiteral(":cutoff")));
}

bool PostgresStore::addBatch(const QList<ReadingSet> &frames, const QList<StoreEvent> &events, int)
{
    // All readings of the batch in one statement, as arrays: a round trip a
    // row would hold a central server to a few thousand rows a second.
    QString addresses, points, times, raws, celsius, statuses;
    const QMap<int, DeviceSeen> seen = devicesSeenIn(frames);
    qint64 rows = 0;
    for (const ReadingSet &frame : frames) {
        for (int k = 0; k < frame.raw.size(); ++k) {
            const QLatin1Char sep(rows == 0 ? '{' : ',');
            const quint16 raw = frame.raw[k];
            addresses += sep + QString::number(frame.address);
            points += sep + QString::number(k + 1);
            times += sep + QString::number(frame.timeMs);
            raws += sep + QString::number(raw);
            celsius += sep + (raw == kNoReading ? QStringLiteral("NULL") : celsiusText(raw));
            statuses += sep + statusName(statusOf(raw));
            ++rows;
        }
    }
    if (rows > 0) {
        for (QString *a : {&addresses, &points, &times, &raws, &celsius, &statuses})
            *a += QLatin1Char('}');
        QSqlQuery q(m_db);
        prepare(q, QStringLiteral(
            "INSERT INTO readings (site, address, point, time, raw, celsius, status) "
            "SELECT :site, a, p, timestamptz 'epoch' + t * interval '1 millisecond', r, c, s "
            "FROM unnest(:a::smallint[], :p::smallint[], :t::bigint[], :r::integer[], :c::double precision[], "
            ":s::text[]) AS u(a, p, t, r, c, s) ON CONFLICT DO NOTHING"));
        q.bindValue(QStringLiteral(":site"), m_site);
        q.bindValue(QStringLiteral(":a"), addresses);
        q.bindValue(QStringLiteral(":p"), points);
        q.bindValue(QStringLiteral(":t"), times);
        q.bindValue(QStringLiteral(":r"), raws);
        q.bindValue(QStringLiteral(":c"), celsius);
        q.bindValue(QStringLiteral(":s"), statuses);
        if (!q.exec())
            return fail(q);
        m_lastAdded = q.numRowsAffected();
    }
    if (!storeDevices(seen))
        return false;
    for (const StoreEvent &e : events) {
        QSqlQuery &q = prepared(QStringLiteral("INSERT INTO events (site, time, address, kind, detail, data) "
                                               "VALUES (?, %1, ?, ?, ?, ?) ON CONFLICT DO NOTHING")
                                    .arg(timeExpr(QStringLiteral("?"))));
        q.bindValue(0, m_site);
        q.bindValue(1, e.timeMs);
        q.bindValue(2, e.address);
        q.bindValue(3, e.kind);
        q.bindValue(4, notNull(e.detail));
        q.bindValue(5, e.data.isEmpty() ? QVariant() : QVariant(QString::fromUtf8(e.data)));
        if (!q.exec())
            return fail(q);
    }
    return true;
}

} // namespace vx
