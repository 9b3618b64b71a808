#include "core/store/PostgresStore.h"

#include "core/store/ReadingMonths.h"
#include "core/store/StoreRows.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QSqlDriver>
#include <QTimeZone>
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

static PGconn *libpqConnection(const QSqlDatabase &db)
{
    if (!db.isOpen())
        return nullptr;
    const QVariant handle = db.driver()->handle();
    // Qt names libpq's type by its struct: "pg_conn*" (PGconn is a typedef of it).
    if (qstrcmp(handle.typeName(), "pg_conn*") != 0 && qstrcmp(handle.typeName(), "PGconn*") != 0)
        return nullptr;
    return *static_cast<PGconn *const *>(handle.data());
}

int PostgresStore::connectionSocket() const
{
    PGconn *conn = libpqConnection(m_db);
    return conn ? PQsocket(conn) : -1;
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
    // tableoid with ctid: a row's ctid is only unique within its partition.
    return QStringLiteral("WITH old AS (SELECT tableoid AS t, ctid AS c FROM reading_rows WHERE site_id = (SELECT id "
                          "FROM sites WHERE name = :site) AND address = :address AND point = :point AND time < %1 "
                          "ORDER BY time LIMIT :limit) DELETE FROM reading_rows r USING old "
                          "WHERE r.tableoid = old.t AND r.ctid = old.c")
        .arg(timeExpr(QStringLiteral(":cutoff")));
}

namespace {

// A PostgreSQL array literal, built an element at a time: a batch's rows go
// to the server as a few arrays in one statement, not a round trip a row.
class ArrayText {
public:
    void add(const QString &element) { m_text += QLatin1Char(m_text.isEmpty() ? '{' : ',') + element; }
    // Text of any kind (a site's name), quoted.
    void addQuoted(const QString &text)
    {
        QString quoted = text;
        quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\")).replace(QLatin1Char('"'), QStringLiteral("\\\""));
        add(QLatin1Char('"') + quoted + QLatin1Char('"'));
    }
    QString text() const { return m_text.isEmpty() ? QStringLiteral("{}") : m_text + QLatin1Char('}'); }

private:
    QString m_text;
};

} // namespace

bool PostgresStore::execWithArrays(const QString &sql, const QList<std::pair<QString, QString>> &arrays)
{
    QSqlQuery q(m_db);
    if (!prepare(q, sql))
        return fail(q);
    for (const auto &[name, text] : arrays)
        q.bindValue(name, text);
    if (!q.exec())
        return fail(q);
    m_lastRows = q.numRowsAffected();
    return true;
}

namespace {

// The server's reason as sqlErrorText() gives it (no "ERROR:"), so that a
// problem is one line whichever road met it.
QString resultError(const PGresult *r)
{
    const char *primary = PQresultErrorField(r, PG_DIAG_MESSAGE_PRIMARY);
    return primary ? QString::fromUtf8(primary) : QString::fromUtf8(PQresultErrorMessage(r)).section(QLatin1Char('\n'), 0, 0).trimmed();
}

// One libpq command on the connection; its reason in *error.
bool run(PGconn *conn, const char *sql, QString *error)
{
    PGresult *r = PQexec(conn, sql);
    const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK;
    if (!ok)
        *error = resultError(r);
    PQclear(r);
    return ok;
}

} // namespace

// Readings by COPY, the fastest road into the server. A batch shipped twice
// (a crash between the central commit and the local drop, a message the
// broker delivered again) meets its own rows: the savepoint undoes the COPY
// and the caller inserts skipping them.
PostgresStore::Copy PostgresStore::copyReadings(const QList<SiteRows> &batch)
{
    PGconn *conn = libpqConnection(m_db);
    // Only on a connection idle in our transaction: Qt may hold a query open.
    if (!conn || PQtransactionStatus(conn) != PQTRANS_INTRANS)
        return Copy::NotTaken;
    QByteArray text;
    for (const SiteRows &part : batch) {
        const QByteArray site = QByteArray::number(m_siteIds.value(part.site)) + '\t';
        for (const ReadingSet &frame : part.frames) {
            const QByteArray head = site + QByteArray::number(frame.address) + '\t';
            const QByteArray time = '\t' + QDateTime::fromMSecsSinceEpoch(frame.timeMs, QTimeZone::utc())
                                                .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz+00")).toLatin1() + '\t';
            for (int k = 0; k < frame.raw.size(); ++k)
                text += head + QByteArray::number(k + 1) + time + QByteArray::number(qint16(frame.raw[k])) + '\n';
        }
    }
    QString why;
    if (!run(conn, "SAVEPOINT copy_readings", &why)) {
        m_lastError = why;
        return Copy::Failed;
    }
    PGresult *r = PQexec(conn, "COPY reading_rows (site_id, address, point, time, raw) FROM STDIN");
    const bool copying = PQresultStatus(r) == PGRES_COPY_IN;
    QByteArray state;
    if (!copying) {
        why = resultError(r);
        state = PQresultErrorField(r, PG_DIAG_SQLSTATE);
    }
    PQclear(r);
    if (copying)
        PQputCopyEnd(conn, PQputCopyData(conn, text.constData(), int(text.size())) == 1 ? nullptr : "not sent");
    qint64 copied = -1;
    while ((r = PQgetResult(conn))) {
        if (PQresultStatus(r) == PGRES_COMMAND_OK)
            copied = QByteArray(PQcmdTuples(r)).toLongLong();
        else if (why.isEmpty()) {
            why = resultError(r);
            state = PQresultErrorField(r, PG_DIAG_SQLSTATE);
        }
        PQclear(r);
    }
    if (copying && copied >= 0) {
        m_lastAdded = copied;
        return run(conn, "RELEASE SAVEPOINT copy_readings", &m_lastError) ? Copy::Done : Copy::Failed;
    }
    if (why.isEmpty())
        why = QString::fromUtf8(PQerrorMessage(conn)).section(QLatin1Char('\n'), 0, 0).trimmed();
    if (state == "23505" && run(conn, "ROLLBACK TO SAVEPOINT copy_readings", &why))
        return Copy::NotTaken; // unique_violation: rows already there
    m_lastError = why;
    return Copy::Failed;
}

bool PostgresStore::ensureMonth(qint64 monthStart)
{
    if (m_months.contains(monthStart))
        return true;
    QSqlQuery q(m_db);
    if (!prepare(q, QStringLiteral("SELECT vx_reading_month(%1)").arg(timeExpr(QStringLiteral(":m")))))
        return fail(q);
    q.bindValue(QStringLiteral(":m"), monthStart);
    if (!q.exec())
        return fail(q);
    m_months.insert(monthStart);
    return true;
}

// Outside the batch's transaction, so that what is remembered here was
// committed: the batch's sites numbered, its months' partitions made.
bool PostgresStore::beforeBatch(const QList<SiteRows> &batch)
{
    ArrayText missing;
    bool anyMissing = false;
    for (const SiteRows &part : batch) {
        if (part.frames.isEmpty() || m_siteIds.contains(part.site))
            continue;
        missing.addQuoted(part.site);
        anyMissing = true;
    }
    if (anyMissing) {
        if (!execWithArrays(QStringLiteral("INSERT INTO sites (name) SELECT unnest(:n::text[]) ON CONFLICT DO NOTHING"),
                            {{QStringLiteral(":n"), missing.text()}}))
            return false;
        QSqlQuery q(m_db);
        q.setForwardOnly(true);
        if (!prepare(q, QStringLiteral("SELECT id, name FROM sites WHERE name = ANY(:n::text[])")))
            return fail(q);
        q.bindValue(QStringLiteral(":n"), missing.text());
        if (!q.exec())
            return fail(q);
        while (q.next())
            m_siteIds.insert(q.value(1).toString(), q.value(0).toInt());
    }
    for (const SiteRows &part : batch)
        for (const ReadingSet &frame : part.frames)
            if (!ensureMonth(monthStartMs(frame.timeMs)))
                return false;
    return true;
}

void PostgresStore::afterRollback()
{
    // A month dropped or a site renamed meanwhile: asked again next time.
    m_siteIds.clear();
    m_months.clear();
}

bool PostgresStore::addBatch(const QList<SiteRows> &batch, int)
{
    qint64 rows = 0;
    for (const SiteRows &part : batch)
        for (const ReadingSet &frame : part.frames)
            rows += frame.raw.size();
    if (rows > 0) {
        switch (copyReadings(batch)) {
        case Copy::Done:
            break;
        case Copy::Failed:
            return false;
        case Copy::NotTaken: {
            ArrayText sites, addresses, points, times, raws;
            for (const SiteRows &part : batch) {
                const QString site = QString::number(m_siteIds.value(part.site));
                for (const ReadingSet &frame : part.frames) {
                    const QString address = QString::number(frame.address), time = QString::number(frame.timeMs);
                    for (int k = 0; k < frame.raw.size(); ++k) {
                        sites.add(site);
                        addresses.add(address);
                        points.add(QString::number(k + 1));
                        times.add(time);
                        raws.add(QString::number(qint16(frame.raw[k]))); // the stored 16 bits
                    }
                }
            }
            if (!execWithArrays(
                    QStringLiteral("INSERT INTO reading_rows (site_id, address, point, time, raw) "
                                   "SELECT i, a, p, timestamptz 'epoch' + t * interval '1 millisecond', r "
                                   "FROM unnest(:i::integer[], :a::smallint[], :p::smallint[], :t::bigint[], "
                                   ":r::smallint[]) AS u(i, a, p, t, r) ON CONFLICT DO NOTHING"),
                    {{QStringLiteral(":i"), sites.text()}, {QStringLiteral(":a"), addresses.text()},
                     {QStringLiteral(":p"), points.text()}, {QStringLiteral(":t"), times.text()},
                     {QStringLiteral(":r"), raws.text()}}))
                return false;
            m_lastAdded = m_lastRows;
        }
        }
    }
    // Every device of the batch in one statement (seen times widened), and
    // every point's summary mark in another: a new point gets its mark, an
    // older reading moves its point's mark back to its hour.
    ArrayText devSites, devices, firsts, lasts, markSites, markDevices, markPoints, markHours;
    bool anyDevice = false;
    for (const SiteRows &part : batch) {
        QMap<int, int> points;
        for (const ReadingSet &frame : part.frames)
            points[frame.address] = qMax(points.value(frame.address), int(frame.raw.size()));
        for (const DeviceSeen &d : devicesSeenIn(part.frames)) {
            anyDevice = true;
            devSites.addQuoted(part.site);
            devices.add(QString::number(d.address));
            firsts.add(QString::number(d.firstSeenMs));
            lasts.add(QString::number(d.lastSeenMs));
            for (int point = 1; point <= points.value(d.address); ++point) {
                markSites.addQuoted(part.site);
                markDevices.add(QString::number(d.address));
                markPoints.add(QString::number(point));
                markHours.add(QString::number(hourStart(d.firstSeenMs)));
            }
        }
    }
    if (anyDevice
        && (!execWithArrays(
                QStringLiteral("INSERT INTO devices (site, address, first_seen, last_seen) SELECT n, a, "
                               "timestamptz 'epoch' + f * interval '1 millisecond', "
                               "timestamptz 'epoch' + l * interval '1 millisecond' "
                               "FROM unnest(:n::text[], :a::smallint[], :f::bigint[], :l::bigint[]) AS u(n, a, f, l) "
                               "ON CONFLICT (site, address) DO UPDATE SET first_seen = LEAST(devices.first_seen, "
                               "excluded.first_seen), last_seen = GREATEST(devices.last_seen, excluded.last_seen)"),
                {{QStringLiteral(":n"), devSites.text()}, {QStringLiteral(":a"), devices.text()},
                 {QStringLiteral(":f"), firsts.text()}, {QStringLiteral(":l"), lasts.text()}})
            || !execWithArrays(
                QStringLiteral("INSERT INTO hourly_state (site, address, point, rolled_to) SELECT n, a, p, "
                               "timestamptz 'epoch' + h * interval '1 millisecond' FROM unnest(:n::text[], "
                               ":a::smallint[], :p::smallint[], :h::bigint[]) AS u(n, a, p, h) "
                               "ON CONFLICT (site, address, point) DO UPDATE SET rolled_to = excluded.rolled_to "
                               "WHERE hourly_state.rolled_to > excluded.rolled_to"),
                {{QStringLiteral(":n"), markSites.text()}, {QStringLiteral(":a"), markDevices.text()},
                 {QStringLiteral(":p"), markPoints.text()}, {QStringLiteral(":h"), markHours.text()}})))
        return false;
    for (const SiteRows &part : batch) {
        for (const StoreEvent &e : part.events) {
            QSqlQuery &q = prepared(QStringLiteral("INSERT INTO events (site, time, address, kind, detail, data) "
                                                   "VALUES (?, %1, ?, ?, ?, ?) ON CONFLICT DO NOTHING")
                                        .arg(timeExpr(QStringLiteral("?"))));
            q.bindValue(0, part.site);
            q.bindValue(1, e.timeMs);
            q.bindValue(2, e.address);
            q.bindValue(3, e.kind);
            q.bindValue(4, notNull(e.detail));
            q.bindValue(5, e.data.isEmpty() ? QVariant() : QVariant(QString::fromUtf8(e.data)));
            if (!q.exec())
                return fail(q);
        }
    }
    return true;
}

bool PostgresStore::prepareMonths(qint64 nowMs, int ahead)
{
    for (int k = 0; k <= ahead; ++k)
        if (!ensureMonth(monthsLaterMs(nowMs, k)))
            return false;
    return true;
}

std::optional<QStringList> PostgresStore::dropMonthsBefore(qint64 cutoffMs)
{
    QSqlQuery q(m_db);
    if (!q.exec(QStringLiteral("SELECT c.relname FROM pg_inherits i JOIN pg_class c ON c.oid = i.inhrelid "
                               "WHERE i.inhparent = 'reading_rows'::regclass ORDER BY 1")))
        return fail(q), std::nullopt;
    QStringList gone;
    while (q.next()) {
        const QString name = q.value(0).toString();
        const auto month = partitionMonthMs(name);
        if (month && monthsLaterMs(*month, 1) <= cutoffMs)
            gone << name;
    }
    q.finish();
    for (const QString &name : gone) {
        // A month of rows goes as one file, not row by row; name is ours (checked above).
        if (!q.exec(QStringLiteral("DROP TABLE IF EXISTS %1").arg(name)))
            return fail(q), std::nullopt;
        m_months.remove(*partitionMonthMs(name));
    }
    for (QString &name : gone)
        name = name.mid(int(qstrlen("reading_rows_")));
    return gone;
}

std::optional<bool> PostgresStore::summariseAllSites(qint64 upToMs, int budgetMs)
{
    // Points are taken a few hundred at a time, a week of each at most, and
    // locked while summarised (SKIP LOCKED: a second ingester takes others).
    // A batch that brings an older reading meanwhile moves its mark back
    // after this commits, and that hour is summarised again next time.
    QElapsedTimer clock;
    clock.start();
    const QString upTo = timeExpr(QStringLiteral(":upto"));
    QSqlQuery &q = prepared(
        QStringLiteral("WITH due AS (SELECT site, address, point, rolled_to AS from_time, LEAST(%1, rolled_to + "
                       "interval '7 days') AS to_time FROM hourly_state WHERE rolled_to < %1 ORDER BY rolled_to "
                       "LIMIT 500 FOR UPDATE SKIP LOCKED), "
                       "filled AS (INSERT INTO hourly (site, address, point, hour, min, max, sum, count) "
                       "SELECT d.site, d.address, d.point, %2 AS h, min(r.celsius), max(r.celsius), sum(r.celsius), "
                       "count(*) FROM due d JOIN readings r ON r.site = d.site AND r.address = d.address AND "
                       "r.point = d.point AND r.time >= d.from_time AND r.time < d.to_time AND r.status = 'ok' "
                       "GROUP BY d.site, d.address, d.point, h ON CONFLICT (site, address, point, hour) DO UPDATE "
                       "SET min = excluded.min, max = excluded.max, sum = excluded.sum, count = excluded.count) "
                       "UPDATE hourly_state s SET rolled_to = d.to_time FROM due d WHERE s.site = d.site AND "
                       "s.address = d.address AND s.point = d.point")
            .arg(upTo, hourExpr(QStringLiteral("r.time"))));
    for (;;) {
        q.bindValue(QStringLiteral(":upto"), hourStart(upToMs));
        if (!q.exec())
            return fail(q), std::nullopt;
        if (q.numRowsAffected() <= 0)
            return true;
        if (budgetMs > 0 && clock.elapsed() >= budgetMs)
            return false;
    }
}

} // namespace vx
