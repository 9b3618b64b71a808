#include "store/ReadingStore.h"

#include "acquisition/Measurement.h"
#include "core/NumberText.h"
#include "sensors/RomCode.h"
#include "store/StoreSchema.h"

#include <QAtomicInt>
#include <QDateTime>
#include <QElapsedTimer>
#include <QIODevice>
#include <QMap>
#include <QSqlDriver>
#include <QSqlError>

#include <sqlite3.h>
#include <libpq-fe.h>

namespace vx {

namespace {

QAtomicInt connectionSerial;

QString outboxTable(OutboxQueue queue)
{
    return queue == MqttQueue ? QStringLiteral("mqtt_outbox") : QStringLiteral("outbox");
}

QByteArray packRegisters(const QList<quint16> &raw)
{
    QByteArray bytes;
    bytes.reserve(raw.size() * 2);
    for (quint16 r : raw) {
        bytes.append(char(r >> 8));
        bytes.append(char(r & 0xFF));
    }
    return bytes;
}

QList<quint16> unpackRegisters(const QByteArray &bytes)
{
    QList<quint16> raw;
    raw.reserve(bytes.size() / 2);
    for (int i = 0; i + 1 < bytes.size(); i += 2)
        raw.append(quint16(quint8(bytes[i]) << 8 | quint8(bytes[i + 1])));
    return raw;
}

// RFC 3339 with this machine's offset, milliseconds included.
QString rfc3339(qint64 ms)
{
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(ms);
    return local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

// Bound as '' when empty: a null would break the column's NOT NULL (and OR IGNORE would drop the row).
QString notNull(const QString &text)
{
    return text.isNull() ? QStringLiteral("") : text;
}

// The start of the hour a time falls in (UTC hours, also before 1970).
qint64 hourStart(qint64 ms)
{
    return ms - (ms % 3600000 + 3600000) % 3600000;
}

// Each address's first and last frame time in a batch.
QMap<int, DeviceSeen> devicesSeenIn(const QList<ReadingSet> &frames)
{
    QMap<int, DeviceSeen> seen;
    for (const ReadingSet &frame : frames) {
        DeviceSeen &d = seen[frame.address];
        if (d.address == 0) {
            d = {frame.address, frame.timeMs, frame.timeMs};
        } else {
            d.firstSeenMs = qMin(d.firstSeenMs, frame.timeMs);
            d.lastSeenMs = qMax(d.lastSeenMs, frame.timeMs);
        }
    }
    return seen;
}

QString celsiusText(quint16 raw)
{
    return raw == kNoReading ? QString() : num::hundredthsText(hundredthsOf(raw));
}

} // namespace

ReadingStore::ReadingStore(const StoreLocation &location, const QString &site)
    : m_location(location), m_site(site),
      m_connection(QStringLiteral("vx-store-%1").arg(connectionSerial.fetchAndAddRelaxed(1)))
{
}

ReadingStore::~ReadingStore()
{
    sqlite3_finalize(m_insertReading); // before the connection closes
    m_statements.clear();
    m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_connection);
}

std::unique_ptr<ReadingStore> ReadingStore::open(const StoreLocation &location, const QString &site, QString *error)
{
    std::unique_ptr<ReadingStore> store(new ReadingStore(location, site));
    if (!store->connect(error))
        return nullptr;
    return store;
}

bool ReadingStore::connect(QString *error)
{
    const bool sqlite = m_location.engine == StoreLocation::Engine::SQLite;
    const QString driver = sqlite ? QStringLiteral("QSQLITE") : QStringLiteral("QPSQL");
    if (!QSqlDatabase::isDriverAvailable(driver)) {
        *error = QStringLiteral("the Qt SQL driver %1 is not installed (%2)")
                     .arg(driver, sqlite ? QStringLiteral("libqt6sql6-sqlite") : QStringLiteral("libqt6sql6-psql"));
        return false;
    }
    m_db = QSqlDatabase::addDatabase(driver, m_connection);
    if (sqlite) {
        m_db.setDatabaseName(m_location.file);
        m_db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000"));
    } else {
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
    if (!m_db.open()) {
        *error = QStringLiteral("cannot open %1: %2").arg(m_location.display(), sqlErrorText(m_db.lastError()));
        return false;
    }
    QSqlQuery q(m_db);
    if (sqlite) {
        // WAL: readers never wait for the writer; FULL: a committed batch survives a power cut.
        for (const char *pragma : {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=FULL"}) {
            if (!q.exec(QString::fromLatin1(pragma))) {
                *error = QStringLiteral("%1: %2").arg(m_location.display(), sqlErrorText(q.lastError()));
                return false;
            }
        }
    } else {
        q.exec(QStringLiteral("SET client_min_messages = warning"));
        q.exec(QStringLiteral("SET statement_timeout = '20s'"));
        q.exec(QStringLiteral("SET lock_timeout = '5s'"));
    }
    QString why;
    if (!migrateSchema(m_db, storeMigrations(m_location.engine), &why)) {
        *error = QStringLiteral("%1: %2").arg(m_location.display(), why);
        return false;
    }
    return true;
}

QString sqlErrorText(const QSqlError &error)
{
    // The server's own first line ("relation "readings" does not exist",
    // "password authentication failed for user ..."), not the driver's
    // wrapping of it nor the statement's position lines.
    QString text = error.databaseText().trimmed();
    if (text.isEmpty())
        text = error.driverText().trimmed();
    text = text.section(QLatin1Char('\n'), 0, 0).trimmed();
    if (text.startsWith(QLatin1String("ERROR:")) || text.startsWith(QLatin1String("FATAL:")))
        text = text.mid(6).trimmed();
    return text;
}

int ReadingStore::connectionSocket() const
{
    if (m_location.engine != StoreLocation::Engine::PostgreSQL || !m_db.isOpen())
        return -1;
    const QVariant handle = m_db.driver()->handle();
    // Qt names libpq's type by its struct: "pg_conn*" (PGconn is a typedef of it).
    if (qstrcmp(handle.typeName(), "pg_conn*") != 0 && qstrcmp(handle.typeName(), "PGconn*") != 0)
        return -1;
    return PQsocket(*static_cast<PGconn *const *>(handle.data()));
}

bool ReadingStore::fail(const QSqlQuery &q)
{
    // A statement that failed to prepare fails again when run (PostgreSQL
    // then sees an empty EXECUTE): the preparation's reason is the one to say.
    if (!m_prepareError.isEmpty()) {
        m_lastError = m_prepareError;
        m_prepareError.clear();
        return false;
    }
    m_lastError = sqlErrorText(q.lastError());
    if (m_lastError.isEmpty())
        m_lastError = sqlErrorText(m_db.lastError());
    return false;
}

bool ReadingStore::prepare(QSqlQuery &q, const QString &sql)
{
    if (q.prepare(sql))
        return true;
    m_prepareError = sqlErrorText(q.lastError());
    return false;
}

QSqlQuery &ReadingStore::prepared(const QString &sql)
{
    auto it = m_statements.find(sql);
    if (it == m_statements.end()) {
        QSqlQuery q(m_db);
        q.setForwardOnly(true);
        if (!prepare(q, sql)) {
            m_unprepared = std::move(q); // not kept: prepared again next time (a table may be back)
            return m_unprepared;
        }
        it = m_statements.insert(sql, q);
    }
    return *it;
}

QString ReadingStore::timeExpr(const QString &placeholder) const
{
    if (m_location.engine == StoreLocation::Engine::SQLite)
        return placeholder;
    return QStringLiteral("(timestamptz 'epoch' + %1 * interval '1 millisecond')").arg(placeholder);
}

QString ReadingStore::msExpr(const QString &column) const
{
    if (m_location.engine == StoreLocation::Engine::SQLite)
        return column;
    return QStringLiteral("(extract(epoch from %1) * 1000)::bigint").arg(column);
}

QString ReadingStore::siteFilter() const
{
    return m_location.engine == StoreLocation::Engine::SQLite ? QString() : QStringLiteral(" AND site = :site");
}

bool ReadingStore::add(const QList<ReadingSet> &frames, const QList<StoreEvent> &events, int queues)
{
    m_lastAdded = 0;
    if (frames.isEmpty() && events.isEmpty())
        return true;
    if (!m_db.transaction())
        return fail(QSqlQuery(m_db));
    const bool ok = m_location.engine == StoreLocation::Engine::SQLite ? addSqlite(frames, events, queues)
                                                                       : addPostgres(frames, events);
    if (ok && m_db.commit())
        return true;
    if (ok)
        m_lastError = sqlErrorText(m_db.lastError());
    m_db.rollback();
    m_lastAdded = 0;
    return false;
}

// First and last seen, widened by a batch; an older reading moves its hour's summary back.
bool ReadingStore::storeDevices(const QMap<int, DeviceSeen> &seen)
{
    const bool sqlite = m_location.engine == StoreLocation::Engine::SQLite;
    QSqlQuery &q = prepared(
        sqlite ? QStringLiteral("INSERT INTO devices (address, first_seen, last_seen) VALUES (:address, :first, :last) "
                                "ON CONFLICT (address) DO UPDATE SET first_seen = min(first_seen, excluded.first_seen), "
                                "last_seen = max(last_seen, excluded.last_seen)")
               : QStringLiteral("INSERT INTO devices (site, address, first_seen, last_seen) VALUES (:site, :address, %1, %2) "
                                "ON CONFLICT (site, address) DO UPDATE SET first_seen = LEAST(devices.first_seen, "
                                "excluded.first_seen), last_seen = GREATEST(devices.last_seen, excluded.last_seen)")
                     .arg(timeExpr(QStringLiteral(":first")), timeExpr(QStringLiteral(":last"))));
    for (const DeviceSeen &d : seen) {
        if (!sqlite)
            q.bindValue(QStringLiteral(":site"), m_site);
        q.bindValue(QStringLiteral(":address"), d.address);
        q.bindValue(QStringLiteral(":first"), d.firstSeenMs);
        q.bindValue(QStringLiteral(":last"), d.lastSeenMs);
        if (!q.exec())
            return fail(q);
        if (!moveRollupBack(d.address, hourStart(d.firstSeenMs)))
            return false;
    }
    return true;
}

// The readings of a batch through SQLite's own prepared statement, in the
// transaction QSqlDatabase opened on the same connection.
bool ReadingStore::insertReadings(const QList<ReadingSet> &frames)
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

bool ReadingStore::addSqlite(const QList<ReadingSet> &frames, const QList<StoreEvent> &events, int queues)
{
    const QMap<int, DeviceSeen> seen = devicesSeenIn(frames);
    if (!insertReadings(frames))
        return false;
    for (const ReadingSet &frame : frames) {
        for (const OutboxQueue queue : {CentralQueue, MqttQueue}) {
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
        QSqlQuery &q = prepared(QStringLiteral("INSERT OR IGNORE INTO events (time, address, kind, detail) VALUES (?, ?, ?, ?)"));
        q.bindValue(0, e.timeMs);
        q.bindValue(1, e.address);
        q.bindValue(2, e.kind);
        q.bindValue(3, notNull(e.detail));
        if (!q.exec())
            return fail(q);
        for (const OutboxQueue queue : {CentralQueue, MqttQueue}) {
            if (!(queues & queue))
                continue;
            QSqlQuery &o = prepared(QStringLiteral("INSERT INTO %1 (time, address, kind, detail) VALUES (?, ?, ?, ?)")
                                        .arg(outboxTable(queue)));
            o.bindValue(0, e.timeMs);
            o.bindValue(1, e.address);
            o.bindValue(2, e.kind);
            o.bindValue(3, notNull(e.detail));
            if (!o.exec())
                return fail(o);
        }
    }
    return true;
}

bool ReadingStore::addPostgres(const QList<ReadingSet> &frames, const QList<StoreEvent> &events)
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
        QSqlQuery &q = prepared(QStringLiteral("INSERT INTO events (site, time, address, kind, detail) "
                                               "VALUES (?, %1, ?, ?, ?) ON CONFLICT DO NOTHING")
                                    .arg(timeExpr(QStringLiteral("?"))));
        q.bindValue(0, m_site);
        q.bindValue(1, e.timeMs);
        q.bindValue(2, e.address);
        q.bindValue(3, e.kind);
        q.bindValue(4, notNull(e.detail));
        if (!q.exec())
            return fail(q);
    }
    return true;
}

QString SensorChange::text() const
{
    return QStringLiteral("通道%1 位置%2 传感器已更换: %3 → %4")
        .arg(channel)
        .arg(position, 2, 10, QLatin1Char('0'))
        .arg(oldCode, newCode);
}

QList<SensorPlace> ReadingStore::sensorMap()
{
    QList<SensorPlace> result;
    QSqlQuery q(m_db);
    prepare(q, QStringLiteral("SELECT address, channel, position, code, %1, %2 FROM sensor_map WHERE 1 = 1%3 "
                             "ORDER BY address, channel, position")
                  .arg(msExpr(QStringLiteral("first_seen")), msExpr(QStringLiteral("last_seen")), siteFilter()));
    if (!siteFilter().isEmpty())
        q.bindValue(QStringLiteral(":site"), m_site);
    if (!q.exec()) {
        fail(q);
        return result;
    }
    while (q.next())
        result.append({q.value(0).toInt(), q.value(1).toInt(), q.value(2).toInt(), q.value(3).toString(),
                       q.value(4).toLongLong(), q.value(5).toLongLong()});
    return result;
}

std::optional<QList<SensorChange>> ReadingStore::recordSensorCodes(int address, int channel, const QStringList &codes,
                                                                   qint64 timeMs)
{
    const bool sqlite = m_location.engine == StoreLocation::Engine::SQLite;
    QMap<int, QString> held;
    for (const SensorPlace &p : sensorMap())
        if (p.address == address && p.channel == channel)
            held.insert(p.position, p.code);
    QList<SensorChange> changes;
    QList<StoreEvent> events;
    if (!m_db.transaction()) {
        fail(QSqlQuery(m_db));
        return std::nullopt;
    }
    QSqlQuery &put = prepared(
        sqlite ? QStringLiteral("INSERT INTO sensor_map (address, channel, position, code, first_seen, last_seen) "
                                "VALUES (:address, :channel, :position, :code, :time, :time2) ON CONFLICT (address, channel, "
                                "position) DO UPDATE SET first_seen = CASE WHEN code = excluded.code THEN first_seen ELSE "
                                "excluded.first_seen END, code = excluded.code, last_seen = excluded.last_seen")
               : QStringLiteral("INSERT INTO sensor_map (site, address, channel, position, code, first_seen, last_seen) "
                                "VALUES (:site, :address, :channel, :position, :code, %1, %2) ON CONFLICT (site, address, "
                                "channel, position) DO UPDATE SET first_seen = CASE WHEN sensor_map.code = excluded.code "
                                "THEN sensor_map.first_seen ELSE excluded.first_seen END, code = excluded.code, "
                                "last_seen = excluded.last_seen")
                     .arg(timeExpr(QStringLiteral(":time")), timeExpr(QStringLiteral(":time2"))));
    for (int i = 0; i < codes.size(); ++i) {
        const int position = i + 1;
        const QString code = codes[i].trimmed().toUpper();
        if (held.contains(position) && held[position] != code) {
            SensorChange change{channel, position, held[position], code};
            changes.append(change);
            events.append({timeMs, address, QStringLiteral("sensor_replaced"), change.text()});
        }
        put.bindValue(QStringLiteral(":address"), address);
        put.bindValue(QStringLiteral(":channel"), channel);
        put.bindValue(QStringLiteral(":position"), position);
        put.bindValue(QStringLiteral(":code"), code);
        put.bindValue(QStringLiteral(":time"), timeMs);
        put.bindValue(QStringLiteral(":time2"), timeMs);
        if (!sqlite)
            put.bindValue(QStringLiteral(":site"), m_site);
        if (!put.exec()) {
            fail(put);
            m_db.rollback();
            return std::nullopt;
        }
    }
    const bool ok = sqlite ? addSqlite({}, events, false) : addPostgres({}, events);
    if (!ok || !m_db.commit()) {
        if (ok)
            m_lastError = sqlErrorText(m_db.lastError());
        m_db.rollback();
        return std::nullopt;
    }
    return changes;
}

bool ReadingStore::exportSensorMap(QIODevice &out, QString *error)
{
    QByteArray text = "address,channel,position,code,family,first_seen,last_seen\n";
    for (const SensorPlace &p : sensorMap()) {
        const auto code = romCodeOfText(p.code);
        text += QStringLiteral("%1,%2,%3,%4,%5,%6,%7\n")
                    .arg(p.address)
                    .arg(p.channel)
                    .arg(p.position)
                    .arg(p.code, code ? familyName(quint8(code->at(0))) : QStringLiteral("unknown family"),
                         rfc3339(p.firstSeenMs), rfc3339(p.lastSeenMs))
                    .toUtf8();
    }
    if (out.write(text) != text.size()) {
        *error = out.errorString();
        return false;
    }
    return true;
}

bool ReadingStore::importSensorMap(QIODevice &in, int *places, QString *error)
{
    QList<SensorPlace> read;
    int lineNumber = 0;
    while (!in.atEnd()) {
        QString line = QString::fromUtf8(in.readLine()).trimmed();
        ++lineNumber;
        if (line.isEmpty() || (lineNumber == 1 && line.startsWith(QLatin1String("address,"))))
            continue;
        const QStringList f = line.split(QLatin1Char(','));
        bool a = false, c = false, p = false;
        SensorPlace place;
        if (f.size() == 7) {
            place.address = f[0].toInt(&a);
            place.channel = f[1].toInt(&c);
            place.position = f[2].toInt(&p);
            place.code = f[3].trimmed().toUpper();
            const QDateTime first = QDateTime::fromString(f[5], Qt::ISODateWithMs);
            const QDateTime last = QDateTime::fromString(f[6], Qt::ISODateWithMs);
            place.firstSeenMs = first.toMSecsSinceEpoch();
            place.lastSeenMs = last.toMSecsSinceEpoch();
            if (a && c && p && place.address >= 1 && place.address <= 247 && place.channel >= 1 && place.position >= 1
                && romCodeOfText(place.code) && first.isValid() && last.isValid()) {
                read.append(place);
                continue;
            }
        }
        *error = QStringLiteral("line %1 is not address,channel,position,code,family,first_seen,last_seen").arg(lineNumber);
        return false;
    }
    const bool sqlite = m_location.engine == StoreLocation::Engine::SQLite;
    if (!m_db.transaction())
        return fail(QSqlQuery(m_db));
    QSqlQuery &put = prepared(
        sqlite ? QStringLiteral("INSERT OR REPLACE INTO sensor_map (address, channel, position, code, first_seen, "
                                "last_seen) VALUES (:address, :channel, :position, :code, :first, :last)")
               : QStringLiteral("INSERT INTO sensor_map (site, address, channel, position, code, first_seen, last_seen) "
                                "VALUES (:site, :address, :channel, :position, :code, %1, %2) ON CONFLICT (site, "
                                "address, channel, position) DO UPDATE SET code = excluded.code, first_seen = "
                                "excluded.first_seen, last_seen = excluded.last_seen")
                     .arg(timeExpr(QStringLiteral(":first")), timeExpr(QStringLiteral(":last"))));
    for (const SensorPlace &p : read) {
        put.bindValue(QStringLiteral(":address"), p.address);
        put.bindValue(QStringLiteral(":channel"), p.channel);
        put.bindValue(QStringLiteral(":position"), p.position);
        put.bindValue(QStringLiteral(":code"), p.code);
        put.bindValue(QStringLiteral(":first"), p.firstSeenMs);
        put.bindValue(QStringLiteral(":last"), p.lastSeenMs);
        if (!sqlite)
            put.bindValue(QStringLiteral(":site"), m_site);
        if (!put.exec()) {
            *error = put.lastError().text();
            m_db.rollback();
            return false;
        }
    }
    if (!m_db.commit()) {
        *error = m_db.lastError().text();
        m_db.rollback();
        return false;
    }
    *places = int(read.size());
    return true;
}

qint64 ReadingStore::readingCount()
{
    QSqlQuery q(m_db);
    prepare(q, QStringLiteral("SELECT count(*) FROM readings WHERE 1 = 1") + siteFilter());
    if (!siteFilter().isEmpty())
        q.bindValue(QStringLiteral(":site"), m_site);
    if (!q.exec() || !q.next())
        return fail(q), -1;
    return q.value(0).toLongLong();
}

QList<StoredReading> ReadingStore::readings(int address, int point, qint64 fromMs, qint64 toMs)
{
    QList<StoredReading> result;
    QSqlQuery &q = prepared(QStringLiteral("SELECT %1, raw, celsius, status FROM readings WHERE address = :address "
                                           "AND point = :point AND time >= %2 AND time < %3%4 ORDER BY time")
                                .arg(msExpr(QStringLiteral("time")), timeExpr(QStringLiteral(":from")),
                                     timeExpr(QStringLiteral(":to")), siteFilter()));
    q.bindValue(QStringLiteral(":address"), address);
    q.bindValue(QStringLiteral(":point"), point);
    q.bindValue(QStringLiteral(":from"), fromMs);
    q.bindValue(QStringLiteral(":to"), toMs);
    if (!siteFilter().isEmpty())
        q.bindValue(QStringLiteral(":site"), m_site);
    if (!q.exec()) {
        fail(q);
        return result;
    }
    while (q.next()) {
        StoredReading r;
        r.timeMs = q.value(0).toLongLong();
        r.raw = quint16(q.value(1).toInt());
        if (!q.value(2).isNull())
            r.celsius = q.value(2).toDouble();
        r.status = statusFromName(q.value(3).toString()).value_or(ReadingStatus::Ok);
        result.append(r);
    }
    q.finish();
    return result;
}

QString ReadingStore::hourExpr(const QString &column) const
{
    if (m_location.engine == StoreLocation::Engine::SQLite)
        return QStringLiteral("(%1 / 3600000 * 3600000)").arg(column);
    // By the epoch, not date_trunc: that follows the session's time zone.
    return QStringLiteral("(timestamptz 'epoch' + floor(extract(epoch from %1) / 3600) * interval '1 hour')").arg(column);
}

bool ReadingStore::addPartials(const QString &table, int address, int point, qint64 fromMs, qint64 toMs,
                               qint64 originMs, qint64 widthMs, QMap<qint64, Partial> *slices)
{
    if (toMs <= fromMs)
        return true;
    const bool raw = table == QLatin1String("readings");
    const QString column = raw ? QStringLiteral("time") : QStringLiteral("hour");
    const QString ms = msExpr(column);
    const QString aggregates = raw ? QStringLiteral("min(celsius), max(celsius), sum(celsius), count(*)")
                                   : QStringLiteral("min(min), max(max), sum(sum), sum(count)");
    QSqlQuery &q = prepared(QStringLiteral("SELECT (%1 - :origin) / :width AS slice, %2 FROM %3 WHERE address = :address "
                                           "AND point = :point AND %4 >= %5 AND %4 < %6%7%8 GROUP BY slice")
                                .arg(ms, aggregates, table, column, timeExpr(QStringLiteral(":from")),
                                     timeExpr(QStringLiteral(":to")),
                                     raw ? QStringLiteral(" AND status = 'ok'") : QString(), siteFilter()));
    q.bindValue(QStringLiteral(":origin"), originMs);
    q.bindValue(QStringLiteral(":width"), widthMs);
    q.bindValue(QStringLiteral(":address"), address);
    q.bindValue(QStringLiteral(":point"), point);
    q.bindValue(QStringLiteral(":from"), fromMs);
    q.bindValue(QStringLiteral(":to"), toMs);
    if (!siteFilter().isEmpty())
        q.bindValue(QStringLiteral(":site"), m_site);
    if (!q.exec())
        return fail(q);
    while (q.next()) {
        const qint64 slice = q.value(0).toLongLong();
        const Partial p{q.value(1).toDouble(), q.value(2).toDouble(), q.value(3).toDouble(), q.value(4).toLongLong()};
        if (p.count == 0)
            continue;
        auto it = slices->find(slice);
        if (it == slices->end()) {
            slices->insert(slice, p);
        } else {
            it->min = qMin(it->min, p.min);
            it->max = qMax(it->max, p.max);
            it->sum += p.sum;
            it->count += p.count;
        }
    }
    q.finish();
    return true;
}

std::optional<qint64> ReadingStore::summariesEnd(int address, int point, qint64 noReadingsMs)
{
    QSqlQuery &state = prepared(QStringLiteral("SELECT %1 FROM hourly_state WHERE address = :address AND point = :point%2")
                                    .arg(msExpr(QStringLiteral("rolled_to")), siteFilter()));
    state.bindValue(QStringLiteral(":address"), address);
    state.bindValue(QStringLiteral(":point"), point);
    if (!siteFilter().isEmpty())
        state.bindValue(QStringLiteral(":site"), m_site);
    if (!state.exec())
        return fail(state), std::nullopt;
    if (state.next()) {
        const qint64 rolledTo = state.value(0).toLongLong();
        state.finish();
        return rolledTo;
    }
    state.finish();
    // Never summarised: from the hour of the point's first reading.
    QSqlQuery &first = prepared(QStringLiteral("SELECT min(%1) FROM readings WHERE address = :address AND point = :point%2")
                                    .arg(msExpr(QStringLiteral("time")), siteFilter()));
    first.bindValue(QStringLiteral(":address"), address);
    first.bindValue(QStringLiteral(":point"), point);
    if (!siteFilter().isEmpty())
        first.bindValue(QStringLiteral(":site"), m_site);
    if (!first.exec())
        return fail(first), std::nullopt;
    const bool any = first.next() && !first.value(0).isNull();
    const qint64 firstMs = any ? first.value(0).toLongLong() : 0;
    first.finish();
    return any ? hourStart(firstMs) : noReadingsMs;
}

qint64 ReadingStore::rollUp(int address, int point, qint64 upToMs)
{
    const auto end = summariesEnd(address, point, upToMs);
    if (!end)
        return -1;
    const qint64 rolledTo = qMin(*end, upToMs);
    if (rolledTo >= upToMs)
        return rolledTo;
    const bool sqlite = m_location.engine == StoreLocation::Engine::SQLite;
    if (!m_db.transaction())
        return fail(QSqlQuery(m_db)), -1;
    auto bind = [&](QSqlQuery &q) {
        q.bindValue(QStringLiteral(":address"), address);
        q.bindValue(QStringLiteral(":point"), point);
        q.bindValue(QStringLiteral(":from"), rolledTo);
        q.bindValue(QStringLiteral(":to"), upToMs);
        if (!sqlite)
            q.bindValue(QStringLiteral(":site"), m_site);
    };
    QSqlQuery &clear = prepared(QStringLiteral("DELETE FROM hourly WHERE address = :address AND point = :point AND "
                                               "hour >= %1 AND hour < %2%3")
                                    .arg(timeExpr(QStringLiteral(":from")), timeExpr(QStringLiteral(":to")), siteFilter()));
    bind(clear);
    QSqlQuery &fill = prepared(QStringLiteral("INSERT INTO hourly (%1address, point, hour, min, max, sum, count) "
                                              "SELECT %2address, point, %3 AS h, min(celsius), max(celsius), sum(celsius), "
                                              "count(*) FROM readings WHERE address = :address AND point = :point AND "
                                              "time >= %4 AND time < %5 AND status = 'ok'%6 GROUP BY address, point, h")
                                   .arg(sqlite ? QString() : QStringLiteral("site, "),
                                        sqlite ? QString() : QStringLiteral("site, "), hourExpr(QStringLiteral("time")),
                                        timeExpr(QStringLiteral(":from")), timeExpr(QStringLiteral(":to")), siteFilter())
                                   .replace(QStringLiteral("GROUP BY address"),
                                            sqlite ? QStringLiteral("GROUP BY address") : QStringLiteral("GROUP BY site, address")));
    bind(fill);
    QSqlQuery &mark = prepared(
        sqlite ? QStringLiteral("INSERT INTO hourly_state (address, point, rolled_to) VALUES (:address, :point, :to) "
                                "ON CONFLICT (address, point) DO UPDATE SET rolled_to = excluded.rolled_to")
               : QStringLiteral("INSERT INTO hourly_state (site, address, point, rolled_to) VALUES (:site, :address, "
                                ":point, %1) ON CONFLICT (site, address, point) DO UPDATE SET rolled_to = excluded.rolled_to")
                     .arg(timeExpr(QStringLiteral(":to"))));
    mark.bindValue(QStringLiteral(":address"), address);
    mark.bindValue(QStringLiteral(":point"), point);
    mark.bindValue(QStringLiteral(":to"), upToMs);
    if (!sqlite)
        mark.bindValue(QStringLiteral(":site"), m_site);
    if (!clear.exec() || !fill.exec() || !mark.exec()) {
        const QString why = (!clear.lastError().text().trimmed().isEmpty() ? clear : !fill.lastError().text().trimmed().isEmpty() ? fill : mark)
                                .lastError()
                                .text();
        m_db.rollback();
        m_lastError = why;
        return -1;
    }
    if (!m_db.commit()) {
        m_lastError = sqlErrorText(m_db.lastError());
        m_db.rollback();
        return -1;
    }
    return upToMs;
}

std::optional<bool> ReadingStore::summariseHours(qint64 upToMs, int budgetMs)
{
    // A month of a point at a time, and only for budgetMs: a large backlog (an
    // import, an upgraded file) is worked off in steps, and the commits of the
    // thread doing it never wait long.
    constexpr qint64 kStepMs = 30LL * 86400000;
    QElapsedTimer clock;
    clock.start();
    const qint64 hourMs = hourStart(upToMs);
    QSqlQuery &top = prepared(QStringLiteral("SELECT max(point) FROM readings WHERE address = :address") + siteFilter());
    for (const DeviceSeen &device : devices()) {
        top.bindValue(QStringLiteral(":address"), device.address);
        if (!siteFilter().isEmpty())
            top.bindValue(QStringLiteral(":site"), m_site);
        if (!top.exec())
            return fail(top), std::nullopt;
        const int points = top.next() ? top.value(0).toInt() : 0;
        top.finish();
        for (int point = 1; point <= points; ++point) {
            const auto end = summariesEnd(device.address, point, hourMs);
            if (!end)
                return std::nullopt;
            for (qint64 reached = *end; reached < hourMs;) {
                if (budgetMs > 0 && clock.elapsed() >= budgetMs)
                    return false;
                const qint64 next = qMin(hourMs, reached + kStepMs);
                if (rollUp(device.address, point, next) < 0)
                    return std::nullopt;
                reached = next;
            }
        }
    }
    return true;
}

// After old readings went: summaries of hours before the cutoff go too, and
// the cutoff's own hour is summarised again from what is left of it.
bool ReadingStore::trimSummaries(int address, int point, qint64 cutoffMs)
{
    const bool sqlite = m_location.engine == StoreLocation::Engine::SQLite;
    const qint64 hourMs = hourStart(cutoffMs);
    QSqlQuery &drop = prepared(QStringLiteral("DELETE FROM hourly WHERE address = :address AND point = :point AND "
                                              "hour <= %1%2")
                                   .arg(timeExpr(QStringLiteral(":hour")), siteFilter()));
    QSqlQuery &fill = prepared(QStringLiteral("INSERT INTO hourly (%1address, point, hour, min, max, sum, count) "
                                              "SELECT %1address, point, %2, min(celsius), max(celsius), sum(celsius), "
                                              "count(*) FROM readings WHERE address = :address AND point = :point AND "
                                              "time >= %2 AND time < %3 AND status = 'ok'%4 AND %2 < (SELECT rolled_to "
                                              "FROM hourly_state WHERE address = :address2 AND point = :point2%5) "
                                              "GROUP BY %1address, point")
                                   .arg(sqlite ? QString() : QStringLiteral("site, "), timeExpr(QStringLiteral(":hour")),
                                        timeExpr(QStringLiteral(":next")), siteFilter(),
                                        sqlite ? QString() : QStringLiteral(" AND site = :site2")));
    for (QSqlQuery *q : {&drop, &fill}) {
        q->bindValue(QStringLiteral(":address"), address);
        q->bindValue(QStringLiteral(":point"), point);
        q->bindValue(QStringLiteral(":hour"), hourMs);
        if (!sqlite)
            q->bindValue(QStringLiteral(":site"), m_site);
    }
    fill.bindValue(QStringLiteral(":next"), hourMs + 3600000);
    fill.bindValue(QStringLiteral(":address2"), address);
    fill.bindValue(QStringLiteral(":point2"), point);
    if (!sqlite)
        fill.bindValue(QStringLiteral(":site2"), m_site);
    if (!drop.exec())
        return fail(drop);
    return fill.exec() || fail(fill);
}

bool ReadingStore::moveRollupBack(int address, qint64 hourMs)
{
    QSqlQuery &q = prepared(QStringLiteral("UPDATE hourly_state SET rolled_to = %1 WHERE address = :address AND "
                                           "rolled_to > %1%2")
                                .arg(timeExpr(QStringLiteral(":hour")), siteFilter()));
    q.bindValue(QStringLiteral(":hour"), hourMs);
    q.bindValue(QStringLiteral(":address"), address);
    if (!siteFilter().isEmpty())
        q.bindValue(QStringLiteral(":site"), m_site);
    return q.exec() || fail(q);
}

QList<ReadingBucket> ReadingStore::buckets(int address, int point, qint64 fromMs, qint64 toMs, int count)
{
    QList<ReadingBucket> result;
    if (count <= 0 || toMs <= fromMs)
        return result;
    constexpr qint64 hour = 3600000;
    qint64 width = qMax<qint64>(1, (toMs - fromMs + count - 1) / count);
    qint64 origin = fromMs;
    QMap<qint64, Partial> slices;
    bool ok = true;
    if (width < hour) {
        ok = addPartials(QStringLiteral("readings"), address, point, fromMs, toMs, origin, width, &slices);
    } else {
        // Whole hours from the hour `from` is in: an hourly summary falls in one slice.
        width = (width + hour - 1) / hour * hour;
        origin = hourStart(fromMs);
        if (origin + width * count < toMs)
            width += hour; // the earlier start must not cost the last slice
        const qint64 firstWhole = origin == fromMs ? fromMs : origin + hour;
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        const qint64 lastWhole = hourStart(qMin(toMs, now)); // the running hour still fills
        qint64 summarisedTo = firstWhole;
        if (lastWhole > firstWhole) {
            const qint64 rolled = rollUp(address, point, lastWhole);
            if (rolled < 0)
                return result;
            summarisedTo = qMin(rolled, lastWhole);
            ok = addPartials(QStringLiteral("hourly"), address, point, firstWhole, summarisedTo, origin, width, &slices);
        }
        ok = ok && addPartials(QStringLiteral("readings"), address, point, fromMs, qMin(firstWhole, toMs), origin, width, &slices)
             && addPartials(QStringLiteral("readings"), address, point, qMax(summarisedTo, qMin(firstWhole, toMs)), toMs,
                            origin, width, &slices);
    }
    if (!ok)
        return result;
    for (auto it = slices.cbegin(); it != slices.cend(); ++it) {
        ReadingBucket b;
        b.startMs = qMax(fromMs, origin + it.key() * width);
        b.min = it->min;
        b.max = it->max;
        b.mean = it->sum / double(it->count);
        b.count = it->count;
        result.append(b);
    }
    return result;
}

QList<ReadingSet> ReadingStore::framesSince(qint64 sinceMs, int maxPoint)
{
    // Point by point through the key (address, point, time): seeks, never a scan of the table.
    QMap<QPair<qint64, int>, ReadingSet> frames; // (time, address)
    QSqlQuery &q = prepared(QStringLiteral("SELECT %1, raw FROM readings WHERE address = :address AND point = :point "
                                           "AND time > %2%3 ORDER BY time")
                                .arg(msExpr(QStringLiteral("time")), timeExpr(QStringLiteral(":since")), siteFilter()));
    for (const DeviceSeen &d : devices()) {
        if (d.lastSeenMs <= sinceMs)
            continue;
        for (int point = 1; point <= maxPoint; ++point) {
            q.bindValue(QStringLiteral(":address"), d.address);
            q.bindValue(QStringLiteral(":point"), point);
            q.bindValue(QStringLiteral(":since"), sinceMs);
            if (!siteFilter().isEmpty())
                q.bindValue(QStringLiteral(":site"), m_site);
            if (!q.exec()) {
                fail(q);
                return {};
            }
            while (q.next()) {
                ReadingSet &f = frames[{q.value(0).toLongLong(), d.address}];
                f.timeMs = q.value(0).toLongLong();
                f.address = d.address;
                while (f.raw.size() < point)
                    f.raw.append(kNoReading);
                f.raw[point - 1] = quint16(q.value(1).toInt());
            }
            q.finish();
        }
    }
    return frames.values();
}

QList<PointSummary> ReadingStore::pointSummaries(qint64 fromMs, qint64 toMs)
{
    QList<PointSummary> result;
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    prepare(q, QStringLiteral("SELECT address, point, min(celsius), max(celsius), avg(celsius), count(*) FROM readings "
                             "WHERE time >= %1 AND time < %2 AND status = 'ok'%3 GROUP BY address, point "
                             "ORDER BY address, point")
                  .arg(timeExpr(QStringLiteral(":from")), timeExpr(QStringLiteral(":to")), siteFilter()));
    q.bindValue(QStringLiteral(":from"), fromMs);
    q.bindValue(QStringLiteral(":to"), toMs);
    if (!siteFilter().isEmpty())
        q.bindValue(QStringLiteral(":site"), m_site);
    if (!q.exec()) {
        fail(q);
        return result;
    }
    while (q.next())
        result.append({q.value(0).toInt(), q.value(1).toInt(), q.value(2).toDouble(), q.value(3).toDouble(),
                       q.value(4).toDouble(), q.value(5).toLongLong()});
    return result;
}

QList<DeviceSeen> ReadingStore::devices()
{
    QList<DeviceSeen> result;
    QSqlQuery q(m_db);
    prepare(q, QStringLiteral("SELECT address, %1, %2 FROM devices WHERE 1 = 1%3 ORDER BY address")
                  .arg(msExpr(QStringLiteral("first_seen")), msExpr(QStringLiteral("last_seen")), siteFilter()));
    if (!siteFilter().isEmpty())
        q.bindValue(QStringLiteral(":site"), m_site);
    if (!q.exec()) {
        fail(q);
        return result;
    }
    while (q.next())
        result.append({q.value(0).toInt(), q.value(1).toLongLong(), q.value(2).toLongLong()});
    return result;
}

QList<StoreEvent> ReadingStore::events(qint64 fromMs, qint64 toMs)
{
    QList<StoreEvent> result;
    QSqlQuery q(m_db);
    prepare(q, QStringLiteral("SELECT %1, address, kind, detail FROM events WHERE time >= %2 AND time < %3%4 "
                             "ORDER BY time, address, kind")
                  .arg(msExpr(QStringLiteral("time")), timeExpr(QStringLiteral(":from")),
                       timeExpr(QStringLiteral(":to")), siteFilter()));
    q.bindValue(QStringLiteral(":from"), fromMs);
    q.bindValue(QStringLiteral(":to"), toMs);
    if (!siteFilter().isEmpty())
        q.bindValue(QStringLiteral(":site"), m_site);
    if (!q.exec()) {
        fail(q);
        return result;
    }
    while (q.next())
        result.append({q.value(0).toLongLong(), q.value(1).toInt(), q.value(2).toString(), q.value(3).toString()});
    return result;
}

bool ReadingStore::exportCsv(QIODevice &out, const ExportRequest &request, QString *error,
                             const std::function<bool(qint64)> &progress)
{
    QString addressFilter;
    if (!request.addresses.isEmpty()) {
        QStringList list;
        for (int a : request.addresses)
            list << QString::number(a);
        addressFilter = QStringLiteral(" AND address IN (%1)").arg(list.join(QLatin1Char(',')));
    }
    // Frames have 18 points (13 for a device's own upload frames); the
    // columns run to the most any frame in the range has. Asked first: a
    // PostgreSQL connection reads one result at a time.
    const int columns = !request.perFrame ? 0 : [&] {
        QSqlQuery m(m_db);
        prepare(m, QStringLiteral("SELECT max(point) FROM readings WHERE time >= %1 AND time < %2%3%4")
                      .arg(timeExpr(QStringLiteral(":from")), timeExpr(QStringLiteral(":to")), addressFilter,
                           siteFilter()));
        m.bindValue(QStringLiteral(":from"), request.fromMs);
        m.bindValue(QStringLiteral(":to"), request.toMs);
        if (!siteFilter().isEmpty())
            m.bindValue(QStringLiteral(":site"), m_site);
        return m.exec() && m.next() ? m.value(0).toInt() : 0;
    }();
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    prepare(q, QStringLiteral("SELECT %1, address, point, raw FROM readings WHERE time >= %2 AND time < %3%4%5 "
                             "ORDER BY time, address, point")
                  .arg(msExpr(QStringLiteral("time")), timeExpr(QStringLiteral(":from")),
                       timeExpr(QStringLiteral(":to")), addressFilter, siteFilter()));
    q.bindValue(QStringLiteral(":from"), request.fromMs);
    q.bindValue(QStringLiteral(":to"), request.toMs);
    if (!siteFilter().isEmpty())
        q.bindValue(QStringLiteral(":site"), m_site);
    if (!q.exec()) {
        *error = q.lastError().text();
        return false;
    }
    auto write = [&](const QString &line) {
        const QByteArray bytes = line.toUtf8();
        if (out.write(bytes) != bytes.size()) {
            *error = QStringLiteral("cannot write: %1").arg(out.errorString());
            return false;
        }
        return true;
    };
    qint64 rows = 0;
    if (!request.perFrame) {
        if (!write(QStringLiteral("time,address,point,raw,celsius,status\n")))
            return false;
        QString line;
        while (q.next()) {
            const quint16 raw = quint16(q.value(3).toInt());
            line = rfc3339(q.value(0).toLongLong()) + QLatin1Char(',') + QString::number(q.value(1).toInt())
                   + QLatin1Char(',') + QString::number(q.value(2).toInt()) + QLatin1Char(',')
                   + QString::number(raw) + QLatin1Char(',') + celsiusText(raw) + QLatin1Char(',')
                   + statusName(statusOf(raw)) + QLatin1Char('\n');
            if (!write(line))
                return false;
            if (++rows % 10000 == 0 && progress && !progress(rows)) {
                *error = QStringLiteral("stopped");
                return false;
            }
        }
    } else {
        QString header = QStringLiteral("time,address");
        for (int p = 1; p <= columns; ++p)
            header += QStringLiteral(",p%1").arg(p);
        if (!write(header + QLatin1Char('\n')))
            return false;
        qint64 frameTime = -1;
        int frameAddress = -1;
        QStringList cells;
        auto flush = [&] {
            if (frameAddress < 0)
                return true;
            return write(rfc3339(frameTime) + QLatin1Char(',') + QString::number(frameAddress) + QLatin1Char(',')
                         + cells.join(QLatin1Char(',')) + QLatin1Char('\n'));
        };
        while (q.next()) {
            const qint64 time = q.value(0).toLongLong();
            const int address = q.value(1).toInt();
            if (time != frameTime || address != frameAddress) {
                if (!flush())
                    return false;
                frameTime = time;
                frameAddress = address;
                cells = QStringList(columns, QString());
            }
            const int point = q.value(2).toInt();
            if (point >= 1 && point <= columns)
                cells[point - 1] = celsiusText(quint16(q.value(3).toInt()));
            if (++rows % 10000 == 0 && progress && !progress(rows)) {
                *error = QStringLiteral("stopped");
                return false;
            }
        }
        if (!flush())
            return false;
    }
    if (progress)
        progress(rows);
    return true;
}

QList<OutboxEntry> ReadingStore::outbox(int limit, OutboxQueue queue)
{
    QList<OutboxEntry> result;
    QSqlQuery &q = prepared(
        QStringLiteral("SELECT id, time, address, kind, raw, detail FROM %1 ORDER BY id LIMIT ?").arg(outboxTable(queue)));
    q.bindValue(0, limit);
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
            e.event = {q.value(1).toLongLong(), q.value(2).toInt(), kind, q.value(5).toString()};
        }
        result.append(e);
    }
    q.finish();
    return result;
}

bool ReadingStore::dropOutboxThrough(qint64 id, OutboxQueue queue)
{
    QSqlQuery &q = prepared(QStringLiteral("DELETE FROM %1 WHERE id <= ?").arg(outboxTable(queue)));
    q.bindValue(0, id);
    return q.exec() || fail(q);
}

qint64 ReadingStore::outboxReadings(OutboxQueue queue)
{
    QSqlQuery q(m_db);
    if (!q.exec(QStringLiteral("SELECT coalesce(sum(length(raw)), 0) / 2 FROM %1 WHERE kind = 'frame'").arg(outboxTable(queue)))
        || !q.next())
        return fail(q), -1;
    return q.value(0).toLongLong();
}

int ReadingStore::deleteReadingsBefore(qint64 cutoffMs, int limit)
{
    // Point by point: the key leads with address and point, so each step is
    // one seek to that point's oldest readings, not a scan of the whole table.
    const bool sqlite = m_location.engine == StoreLocation::Engine::SQLite;
    QSqlQuery &del = prepared(sqlite ? QStringLiteral("DELETE FROM readings WHERE (address, point, time) IN "
                                                      "(SELECT address, point, time FROM readings WHERE address = :address "
                                                      "AND point = :point AND time < :cutoff LIMIT :limit)")
                                     : QStringLiteral("DELETE FROM readings WHERE ctid IN (SELECT ctid FROM readings "
                                                      "WHERE site = :site AND address = :address AND point = :point "
                                                      "AND time < %1 LIMIT :limit)")
                                           .arg(timeExpr(QStringLiteral(":cutoff"))));
    QSqlQuery &top = prepared(QStringLiteral("SELECT max(point) FROM readings WHERE address = :address") + siteFilter());
    int deleted = 0;
    for (const DeviceSeen &device : devices()) {
        top.bindValue(QStringLiteral(":address"), device.address);
        if (!sqlite)
            top.bindValue(QStringLiteral(":site"), m_site);
        if (!top.exec())
            return fail(top), -1;
        const int points = top.next() ? top.value(0).toInt() : 0;
        top.finish();
        for (int point = 1; point <= points && deleted < limit; ++point) {
            del.bindValue(QStringLiteral(":address"), device.address);
            del.bindValue(QStringLiteral(":point"), point);
            del.bindValue(QStringLiteral(":cutoff"), cutoffMs);
            del.bindValue(QStringLiteral(":limit"), limit - deleted);
            if (!sqlite)
                del.bindValue(QStringLiteral(":site"), m_site);
            if (!del.exec())
                return fail(del), -1;
            const int gone = del.numRowsAffected();
            deleted += gone;
            if (gone > 0 && !trimSummaries(device.address, point, cutoffMs))
                return -1;
        }
        if (deleted >= limit)
            break;
    }
    return deleted;
}

} // namespace vx
