#include "core/store/ReadingStore.h"

#include "core/frames/Measurement.h"
#include "core/store/PostgresStore.h"
#include "core/store/SqliteStore.h"
#include "core/store/StoreRows.h"
#include "core/store/StoreSchema.h"

#include <QAtomicInt>

#include <algorithm>
#include <QSqlError>

namespace vx {

using namespace storerows;

namespace {
QAtomicInt connectionSerial;
} // namespace

ReadingStore::ReadingStore(const StoreLocation &location, const QString &site)
    : m_location(location), m_site(site),
      m_connection(QStringLiteral("vx-store-%1").arg(connectionSerial.fetchAndAddRelaxed(1)))
{
}

ReadingStore::~ReadingStore()
{
    m_statements.clear();
    m_unprepared = QSqlQuery();
    m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_connection);
}

std::unique_ptr<ReadingStore> ReadingStore::open(const StoreLocation &location, const QString &site, QString *error)
{
    std::unique_ptr<ReadingStore> store;
    if (location.engine == StoreLocation::Engine::SQLite)
        store = std::make_unique<SqliteStore>(location, site);
    else
        store = std::make_unique<PostgresStore>(location, site);
    if (!store->connect(error))
        return nullptr;
    return store;
}

bool ReadingStore::connect(QString *error)
{
    const QString driver = driverName();
    if (!QSqlDatabase::isDriverAvailable(driver)) {
        *error = QStringLiteral("the Qt SQL driver %1 is not installed (%2)")
                     .arg(driver, driver == QLatin1String("QSQLITE") ? QStringLiteral("libqt6sql6-sqlite")
                                                                     : QStringLiteral("libqt6sql6-psql"));
        return false;
    }
    m_db = QSqlDatabase::addDatabase(driver, m_connection);
    configure();
    if (!m_db.open()) {
        *error = QStringLiteral("cannot open %1: %2").arg(m_location.display(), sqlErrorText(m_db.lastError()));
        return false;
    }
    if (!prepareSession(error))
        return false;
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

QString ReadingStore::siteFilter() const
{
    return siteColumn().isEmpty() ? QString() : QStringLiteral(" AND site = :site");
}

void ReadingStore::bindSite(QSqlQuery &q, const QString &name) const
{
    if (!siteColumn().isEmpty())
        q.bindValue(name, m_site);
}

bool ReadingStore::add(const QList<ReadingSet> &frames, const QList<StoreEvent> &events, int queues)
{
    return addForSites({SiteRows{m_site, frames, events}}, queues);
}

bool ReadingStore::addForSites(const QList<SiteRows> &batch, int queues)
{
    m_lastAdded = 0;
    if (std::all_of(batch.cbegin(), batch.cend(), [](const SiteRows &r) { return r.frames.isEmpty() && r.events.isEmpty(); }))
        return true;
    if (!beforeBatch(batch)) {
        afterRollback();
        return false;
    }
    if (!m_db.transaction())
        return fail(QSqlQuery(m_db));
    const bool ok = addBatch(batch, queues);
    if (ok && m_db.commit())
        return true;
    if (ok)
        m_lastError = sqlErrorText(m_db.lastError());
    m_db.rollback();
    m_lastAdded = 0;
    afterRollback();
    return false;
}

// First and last seen, widened by a batch; an older reading moves its hour's summary back.
bool ReadingStore::storeDevices(const QMap<int, DeviceSeen> &seen)
{
    QSqlQuery &q = prepared(deviceUpsertSql());
    for (const DeviceSeen &d : seen) {
        bindSite(q);
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

qint64 ReadingStore::readingCount()
{
    QSqlQuery q(m_db);
    prepare(q, QStringLiteral("SELECT count(*) FROM readings WHERE 1 = 1") + siteFilter());
    bindSite(q);
    if (!q.exec() || !q.next())
        return fail(q), -1;
    return q.value(0).toLongLong();
}

std::optional<StoredReading> ReadingStore::nearestReading(int address, int point, qint64 timeMs, qint64 slackMs, bool okOnly)
{
    std::optional<StoredReading> best;
    for (const bool before : {true, false}) {
        QSqlQuery &q = prepared(QStringLiteral("SELECT %1, raw FROM readings WHERE address = :address AND point = :point "
                                               "AND time %2 %3 AND time %4 %5%6%7 ORDER BY time %8 LIMIT 1")
                                    .arg(msExpr(QStringLiteral("time")), before ? QStringLiteral("<=") : QStringLiteral(">"),
                                         timeExpr(QStringLiteral(":at")), before ? QStringLiteral(">=") : QStringLiteral("<="),
                                         timeExpr(QStringLiteral(":edge")),
                                         okOnly ? QStringLiteral(" AND status = 'ok'") : QString(), siteFilter(),
                                         before ? QStringLiteral("DESC") : QStringLiteral("ASC")));
        q.bindValue(QStringLiteral(":address"), address);
        q.bindValue(QStringLiteral(":point"), point);
        q.bindValue(QStringLiteral(":at"), timeMs);
        q.bindValue(QStringLiteral(":edge"), before ? timeMs - slackMs : timeMs + slackMs);
        bindSite(q);
        if (!q.exec()) {
            fail(q);
            return std::nullopt;
        }
        if (q.next()) {
            StoredReading r;
            r.timeMs = q.value(0).toLongLong();
            r.raw = quint16(q.value(1).toInt());
            r.celsius = celsiusOf(r.raw);
            r.status = statusOf(r.raw);
            if (!best || qAbs(r.timeMs - timeMs) < qAbs(best->timeMs - timeMs))
                best = r;
        }
        q.finish();
    }
    return best;
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
    bindSite(q);
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

QString ReadingStore::devicePointsSql(int maxPoint, const QString &timeColumn, const QString &readingWhere,
                                      const QString &deviceWhere) const
{
    // Devices, then points, then each (address, point)'s readings through the
    // key: a seek per point. CROSS JOIN holds SQLite to that order; without
    // statistics it would rather scan the whole readings table.
    QStringList points;
    for (int p = 1; p <= maxPoint; ++p)
        points << QStringLiteral("(%1)").arg(p);
    const QString site = siteColumn().isEmpty() ? QString() : QStringLiteral(" AND r.site = d.site AND d.site = :site");
    return QStringLiteral("WITH points(point) AS (VALUES %1) SELECT d.address, p.point, r.raw, %2 FROM devices d "
                          "CROSS JOIN points p CROSS JOIN readings r WHERE r.address = d.address AND r.point = p.point "
                          "AND %3 AND %4%5")
        .arg(points.join(QLatin1Char(',')), msExpr(timeColumn), readingWhere, deviceWhere, site);
}

QList<ReadingSet> ReadingStore::framesSince(qint64 sinceMs, int maxPoint)
{
    // One statement, so one snapshot: read as the devices and then each point
    // apart, a batch committed in between was half seen, and a device's frame
    // older than another's newer one was passed over for good.
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    prepare(q, devicePointsSql(maxPoint, QStringLiteral("r.time"),
                               QStringLiteral("r.time > %1").arg(timeExpr(QStringLiteral(":since"))),
                               QStringLiteral("d.last_seen > %1").arg(timeExpr(QStringLiteral(":since2")))));
    q.bindValue(QStringLiteral(":since"), sinceMs);
    q.bindValue(QStringLiteral(":since2"), sinceMs); // one name twice is not bound alike by every driver
    bindSite(q);
    QMap<QPair<qint64, int>, ReadingSet> frames; // (time, address)
    if (!q.exec()) {
        fail(q);
        return {};
    }
    while (q.next()) {
        const int address = q.value(0).toInt(), point = q.value(1).toInt();
        const qint64 timeMs = q.value(3).toLongLong();
        ReadingSet &f = frames[{timeMs, address}];
        f.timeMs = timeMs;
        f.address = address;
        while (f.raw.size() < point)
            f.raw.append(kNoReading);
        f.raw[point - 1] = quint16(q.value(2).toInt());
    }
    return frames.values();
}

QList<ReadingSet> ReadingStore::latestFrames(int maxPoint)
{
    // Each device's frame at its last_seen, never a scan of a device's history.
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    prepare(q, devicePointsSql(maxPoint, QStringLiteral("d.last_seen"), QStringLiteral("r.time = d.last_seen"),
                               QStringLiteral("1 = 1"))
                   + QStringLiteral(" ORDER BY d.address, p.point"));
    bindSite(q);
    QList<ReadingSet> frames;
    if (!q.exec()) {
        fail(q);
        return frames;
    }
    while (q.next()) {
        const int address = q.value(0).toInt(), point = q.value(1).toInt();
        if (frames.isEmpty() || frames.last().address != address)
            frames.append({q.value(3).toLongLong(), address, {}});
        QList<quint16> &raw = frames.last().raw;
        while (raw.size() < point)
            raw.append(kNoReading);
        raw[point - 1] = quint16(q.value(2).toInt());
    }
    return frames;
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
    bindSite(q);
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
    bindSite(q);
    if (!q.exec()) {
        fail(q);
        return result;
    }
    while (q.next())
        result.append({q.value(0).toInt(), q.value(1).toLongLong(), q.value(2).toLongLong()});
    return result;
}

QList<StoreEvent> ReadingStore::events(qint64 fromMs, qint64 toMs, const QString &kind)
{
    QList<StoreEvent> result;
    QSqlQuery q(m_db);
    prepare(q, QStringLiteral("SELECT %1, address, kind, detail, data FROM events WHERE time >= %2 AND time < %3%4%5 "
                             "ORDER BY time, address, kind")
                  .arg(msExpr(QStringLiteral("time")), timeExpr(QStringLiteral(":from")),
                       timeExpr(QStringLiteral(":to")), siteFilter(),
                       kind.isEmpty() ? QString() : QStringLiteral(" AND kind = :kind")));
    q.bindValue(QStringLiteral(":from"), fromMs);
    q.bindValue(QStringLiteral(":to"), toMs);
    if (!kind.isEmpty())
        q.bindValue(QStringLiteral(":kind"), kind);
    bindSite(q);
    if (!q.exec()) {
        fail(q);
        return result;
    }
    while (q.next())
        result.append({q.value(0).toLongLong(), q.value(1).toInt(), q.value(2).toString(), q.value(3).toString(),
                       q.value(4).toString().toUtf8()});
    return result;
}

QList<OutboxEntry> ReadingStore::outbox(int, OutboxQueue, qint64)
{
    return {};
}

bool ReadingStore::dropOutboxThrough(qint64, OutboxQueue)
{
    return true;
}

qint64 ReadingStore::outboxReadings(OutboxQueue)
{
    return 0;
}

} // namespace vx
