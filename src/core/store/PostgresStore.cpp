#include "core/store/PostgresStore.h"

#include "core/store/StoreRows.h"

#include <QDateTime>
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
    return QStringLiteral("DELETE FROM readings WHERE ctid IN (SELECT ctid FROM readings "
                          "WHERE site = :site AND address = :address AND point = :point "
                          "AND time < %1 LIMIT :limit)")
        .arg(timeExpr(QStringLiteral(":cutoff")));
}

namespace {

// A PostgreSQL array literal, built an element at a time: a batch's rows go
// to the server as a few arrays in one statement, not a round trip a row.
class ArrayText {
public:
    void add(const QString &element) { m_text += QLatin1Char(m_text.isEmpty() ? '{' : ',') + element; }
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
    bindSite(q);
    for (const auto &[name, text] : arrays)
        q.bindValue(name, text);
    if (!q.exec())
        return fail(q);
    m_lastRows = q.numRowsAffected();
    return true;
}

namespace {

// One libpq command on the connection; its first error line in *error.
bool run(PGconn *conn, const char *sql, QString *error)
{
    PGresult *r = PQexec(conn, sql);
    const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK;
    if (!ok)
        *error = QString::fromUtf8(PQresultErrorMessage(r)).section(QLatin1Char('\n'), 0, 0);
    PQclear(r);
    return ok;
}

void appendCopyText(QByteArray *out, const QString &text)
{
    for (const char c : text.toUtf8()) {
        if (c == '\\' || c == '\t' || c == '\n' || c == '\r')
            *out += '\\';
        *out += c;
    }
}

} // namespace

// Readings by COPY, the fastest road into the server. A batch shipped twice
// (a crash between the central commit and the local drop) meets its own rows:
// the savepoint undoes the COPY and the caller inserts skipping them.
PostgresStore::Copy PostgresStore::copyReadings(const QList<ReadingSet> &frames)
{
    PGconn *conn = libpqConnection(m_db);
    // Only on a connection idle in our transaction: Qt may hold a query open.
    if (!conn || PQtransactionStatus(conn) != PQTRANS_INTRANS)
        return Copy::NotTaken;
    QByteArray site;
    appendCopyText(&site, m_site);
    site += '\t';
    QByteArray text;
    text.reserve(frames.size() * 18 * 64);
    for (const ReadingSet &frame : frames) {
        const QByteArray head = site + QByteArray::number(frame.address) + '\t';
        const QByteArray time = '\t' + QDateTime::fromMSecsSinceEpoch(frame.timeMs, QTimeZone::utc())
                                            .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz+00")).toLatin1() + '\t';
        for (int k = 0; k < frame.raw.size(); ++k) {
            const quint16 raw = frame.raw[k];
            text += head + QByteArray::number(k + 1) + time + QByteArray::number(raw) + '\t'
                    + (raw == kNoReading ? QByteArray("\\N") : celsiusText(raw).toLatin1()) + '\t'
                    + statusName(statusOf(raw)).toLatin1() + '\n';
        }
    }
    QString why;
    if (!run(conn, "SAVEPOINT copy_readings", &why)) {
        m_lastError = why;
        return Copy::Failed;
    }
    PGresult *r = PQexec(conn, "COPY readings (site, address, point, time, raw, celsius, status) FROM STDIN");
    const bool copying = PQresultStatus(r) == PGRES_COPY_IN;
    PQclear(r);
    if (copying)
        PQputCopyEnd(conn, PQputCopyData(conn, text.constData(), int(text.size())) == 1 ? nullptr : "not sent");
    qint64 copied = -1;
    QByteArray state;
    while ((r = PQgetResult(conn))) {
        if (PQresultStatus(r) == PGRES_COMMAND_OK)
            copied = QByteArray(PQcmdTuples(r)).toLongLong();
        else if (why.isEmpty()) {
            why = QString::fromUtf8(PQresultErrorMessage(r)).section(QLatin1Char('\n'), 0, 0);
            state = PQresultErrorField(r, PG_DIAG_SQLSTATE);
        }
        PQclear(r);
    }
    if (copying && copied >= 0) {
        m_lastAdded = copied;
        return run(conn, "RELEASE SAVEPOINT copy_readings", &m_lastError) ? Copy::Done : Copy::Failed;
    }
    if (why.isEmpty())
        why = QString::fromUtf8(PQerrorMessage(conn)).section(QLatin1Char('\n'), 0, 0);
    if (state == "23505" && run(conn, "ROLLBACK TO SAVEPOINT copy_readings", &why))
        return Copy::NotTaken; // unique_violation: rows already there
    m_lastError = why;
    return Copy::Failed;
}

bool PostgresStore::addBatch(const QList<ReadingSet> &frames, const QList<StoreEvent> &events, int)
{
    ArrayText addresses, points, times, raws, celsius, statuses;
    qint64 rows = 0;
    for (const ReadingSet &frame : frames) {
        const QString address = QString::number(frame.address), time = QString::number(frame.timeMs);
        for (int k = 0; k < frame.raw.size(); ++k, ++rows) {
            const quint16 raw = frame.raw[k];
            addresses.add(address);
            points.add(QString::number(k + 1));
            times.add(time);
            raws.add(QString::number(raw));
            celsius.add(raw == kNoReading ? QStringLiteral("NULL") : celsiusText(raw));
            statuses.add(statusName(statusOf(raw)));
        }
    }
    if (rows > 0) {
        switch (copyReadings(frames)) {
        case Copy::Done:
            break;
        case Copy::Failed:
            return false;
        case Copy::NotTaken:
        if (!execWithArrays(
                QStringLiteral("INSERT INTO readings (site, address, point, time, raw, celsius, status) "
                               "SELECT :site, a, p, timestamptz 'epoch' + t * interval '1 millisecond', r, c, s "
                               "FROM unnest(:a::smallint[], :p::smallint[], :t::bigint[], :r::integer[], "
                               ":c::double precision[], :s::text[]) AS u(a, p, t, r, c, s) ON CONFLICT DO NOTHING"),
                {{QStringLiteral(":a"), addresses.text()}, {QStringLiteral(":p"), points.text()},
                 {QStringLiteral(":t"), times.text()}, {QStringLiteral(":r"), raws.text()},
                 {QStringLiteral(":c"), celsius.text()}, {QStringLiteral(":s"), statuses.text()}}))
            return false;
        m_lastAdded = m_lastRows;
        }
    }
    // Every device of the batch in two statements (seen times widened, and an
    // older reading moving its hour's summary back), not two a device.
    ArrayText devices, firsts, lasts, hours;
    for (const DeviceSeen &d : devicesSeenIn(frames)) {
        devices.add(QString::number(d.address));
        firsts.add(QString::number(d.firstSeenMs));
        lasts.add(QString::number(d.lastSeenMs));
        hours.add(QString::number(hourStart(d.firstSeenMs)));
    }
    if (!frames.isEmpty()
        && (!execWithArrays(
                QStringLiteral("INSERT INTO devices (site, address, first_seen, last_seen) SELECT :site, a, "
                               "timestamptz 'epoch' + f * interval '1 millisecond', "
                               "timestamptz 'epoch' + l * interval '1 millisecond' "
                               "FROM unnest(:a::smallint[], :f::bigint[], :l::bigint[]) AS u(a, f, l) "
                               "ON CONFLICT (site, address) DO UPDATE SET first_seen = LEAST(devices.first_seen, "
                               "excluded.first_seen), last_seen = GREATEST(devices.last_seen, excluded.last_seen)"),
                {{QStringLiteral(":a"), devices.text()}, {QStringLiteral(":f"), firsts.text()},
                 {QStringLiteral(":l"), lasts.text()}})
            || !execWithArrays(
                QStringLiteral("UPDATE hourly_state SET rolled_to = u.hour FROM (SELECT a, timestamptz 'epoch' + "
                               "h * interval '1 millisecond' AS hour FROM unnest(:a::smallint[], :h::bigint[]) "
                               "AS v(a, h)) AS u WHERE hourly_state.site = :site AND hourly_state.address = u.a "
                               "AND hourly_state.rolled_to > u.hour"),
                {{QStringLiteral(":a"), devices.text()}, {QStringLiteral(":h"), hours.text()}})))
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
