#include "core/store/StoreSchema.h"

#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>
#include <optional>

namespace vx {

QList<Migration> storeMigrations(StoreLocation::Engine engine)
{
    if (engine == StoreLocation::Engine::SQLite) {
        return {
            {1,
             {
                 // Clustered by point and time: one point over a time range is one
                 // contiguous stretch, and the key is the natural one (a reading
                 // stored twice is the same row).
                 QStringLiteral("CREATE TABLE readings (address INTEGER NOT NULL, point INTEGER NOT NULL, "
                                "time INTEGER NOT NULL, raw INTEGER NOT NULL, celsius REAL, status TEXT NOT NULL, "
                                "PRIMARY KEY (address, point, time)) WITHOUT ROWID"),
                 QStringLiteral("CREATE TABLE devices (address INTEGER PRIMARY KEY, first_seen INTEGER NOT NULL, "
                                "last_seen INTEGER NOT NULL)"),
                 // address 0: the collector itself
                 QStringLiteral("CREATE TABLE events (time INTEGER NOT NULL, address INTEGER NOT NULL, "
                                "kind TEXT NOT NULL, detail TEXT NOT NULL DEFAULT '', "
                                "PRIMARY KEY (time, address, kind)) WITHOUT ROWID"),
                 // Frames and events not yet shipped to a central store, in the order they came.
                 QStringLiteral("CREATE TABLE outbox (id INTEGER PRIMARY KEY AUTOINCREMENT, time INTEGER NOT NULL, "
                                "address INTEGER NOT NULL, kind TEXT NOT NULL, raw BLOB, detail TEXT)"),
             }},
            {2,
             {
                 // Hourly summaries of the good readings, so a chart of a year reads
                 // 8,760 rows a point instead of half a million. Filled when asked
                 // for, up to rolled_to (a whole hour); older readings arriving
                 // later move rolled_to back.
                 QStringLiteral("CREATE TABLE hourly (address INTEGER NOT NULL, point INTEGER NOT NULL, "
                                "hour INTEGER NOT NULL, min REAL NOT NULL, max REAL NOT NULL, sum REAL NOT NULL, "
                                "count INTEGER NOT NULL, PRIMARY KEY (address, point, hour)) WITHOUT ROWID"),
                 QStringLiteral("CREATE TABLE hourly_state (address INTEGER NOT NULL, point INTEGER NOT NULL, "
                                "rolled_to INTEGER NOT NULL, PRIMARY KEY (address, point)) WITHOUT ROWID"),
             }},
            {3,
             {
                 // The sensor last read at each device, channel and position.
                 QStringLiteral("CREATE TABLE sensor_map (address INTEGER NOT NULL, channel INTEGER NOT NULL, "
                                "position INTEGER NOT NULL, code TEXT NOT NULL, first_seen INTEGER NOT NULL, "
                                "last_seen INTEGER NOT NULL, PRIMARY KEY (address, channel, position)) WITHOUT ROWID"),
                 // Several sensors of one device replaced in one read are several
                 // events: the detail is part of an event's key.
                 QStringLiteral("CREATE TABLE events_v3 (time INTEGER NOT NULL, address INTEGER NOT NULL, "
                                "kind TEXT NOT NULL, detail TEXT NOT NULL DEFAULT '', "
                                "PRIMARY KEY (time, address, kind, detail)) WITHOUT ROWID"),
                 QStringLiteral("INSERT INTO events_v3 SELECT time, address, kind, detail FROM events"),
                 QStringLiteral("DROP TABLE events"),
                 QStringLiteral("ALTER TABLE events_v3 RENAME TO events"),
             }},
            {4,
             {
                 // What waits for the MQTT broker: its own queue, so a broker and a
                 // central database that are away at different times each get everything.
                 QStringLiteral("CREATE TABLE mqtt_outbox (id INTEGER PRIMARY KEY AUTOINCREMENT, time INTEGER NOT NULL, "
                                "address INTEGER NOT NULL, kind TEXT NOT NULL, raw BLOB, detail TEXT)"),
             }},
            {5,
             {
                 // An alarm's rule, layers and values beside its text, as JSON: a
                 // report in another language, a viewer's alarm book, a message.
                 QStringLiteral("ALTER TABLE events ADD COLUMN data TEXT"),
                 QStringLiteral("ALTER TABLE outbox ADD COLUMN data TEXT"),
                 QStringLiteral("ALTER TABLE mqtt_outbox ADD COLUMN data TEXT"),
             }},
            {6,
             {
                 // Events that notifications are made of, then the messages made
                 // for each channel, kept until the channel accepted them.
                 QStringLiteral("CREATE TABLE notify_outbox (id INTEGER PRIMARY KEY AUTOINCREMENT, time INTEGER NOT NULL, "
                                "address INTEGER NOT NULL, kind TEXT NOT NULL, raw BLOB, detail TEXT, data TEXT)"),
                 QStringLiteral("CREATE TABLE notices (id INTEGER PRIMARY KEY AUTOINCREMENT, channel TEXT NOT NULL, "
                                "kind TEXT NOT NULL, created INTEGER NOT NULL, due INTEGER NOT NULL, "
                                "next_try INTEGER NOT NULL, attempts INTEGER NOT NULL DEFAULT 0, message TEXT NOT NULL, "
                                "last_error TEXT)"),
                 QStringLiteral("CREATE INDEX notices_channel ON notices (channel, id)"),
             }},
        };
    }
    return {
        {1,
         {
             QStringLiteral("CREATE TABLE readings (site text NOT NULL, address smallint NOT NULL, "
                            "point smallint NOT NULL, time timestamptz NOT NULL, raw integer NOT NULL, "
                            "celsius double precision, status text NOT NULL, "
                            "PRIMARY KEY (site, address, point, time) INCLUDE (celsius, status))"),
             QStringLiteral("CREATE TABLE devices (site text NOT NULL, address smallint NOT NULL, "
                            "first_seen timestamptz NOT NULL, last_seen timestamptz NOT NULL, "
                            "PRIMARY KEY (site, address))"),
             QStringLiteral("CREATE TABLE events (site text NOT NULL, time timestamptz NOT NULL, "
                            "address smallint NOT NULL, kind text NOT NULL, detail text NOT NULL DEFAULT '', "
                            "PRIMARY KEY (site, time, address, kind))"),
         }},
        {2,
         {
             QStringLiteral("CREATE TABLE hourly (site text NOT NULL, address smallint NOT NULL, point smallint NOT NULL, "
                            "hour timestamptz NOT NULL, min double precision NOT NULL, max double precision NOT NULL, "
                            "sum double precision NOT NULL, count bigint NOT NULL, PRIMARY KEY (site, address, point, hour))"),
             QStringLiteral("CREATE TABLE hourly_state (site text NOT NULL, address smallint NOT NULL, "
                            "point smallint NOT NULL, rolled_to timestamptz NOT NULL, PRIMARY KEY (site, address, point))"),
         }},
        {3,
         {
             QStringLiteral("CREATE TABLE sensor_map (site text NOT NULL, address smallint NOT NULL, "
                            "channel smallint NOT NULL, position smallint NOT NULL, code text NOT NULL, "
                            "first_seen timestamptz NOT NULL, last_seen timestamptz NOT NULL, "
                            "PRIMARY KEY (site, address, channel, position))"),
             QStringLiteral("ALTER TABLE events DROP CONSTRAINT events_pkey, "
                            "ADD PRIMARY KEY (site, time, address, kind, detail)"),
         }},
        {4,
         {
             QStringLiteral("ALTER TABLE events ADD COLUMN data text"),
         }},
        {5,
         {
             // Readings narrowed for a company's scale (about 95 bytes a reading
             // with its key, was 181): the site by number, the temperature and
             // status worked out from the raw value when read, and the table
             // partitioned by month so old months go whole. The view keeps the
             // columns every query and every reader outside this program know.
             QStringLiteral("CREATE TABLE sites (id integer GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY, "
                            "name text NOT NULL UNIQUE)"),
             // As ReadingSet's celsiusOf() and statusOf(): raw 65535 is no reading,
             // above 20000 a negative value in hundredths of a degree.
             QStringLiteral("CREATE FUNCTION vx_celsius(raw integer) RETURNS double precision LANGUAGE sql "
                            "IMMUTABLE PARALLEL SAFE AS $$ SELECT CASE WHEN raw = 65535 THEN NULL "
                            "WHEN raw > 20000 THEN (raw - 65536) / 100.0::double precision "
                            "ELSE raw / 100.0::double precision END $$"),
             QStringLiteral("CREATE FUNCTION vx_status(raw integer) RETURNS text LANGUAGE sql IMMUTABLE PARALLEL SAFE "
                            "AS $$ SELECT CASE WHEN raw = 65535 THEN 'no_reading' WHEN raw = 8500 THEN 'power_on' "
                            "WHEN (CASE WHEN raw > 20000 THEN raw - 65536 ELSE raw END) NOT BETWEEN -5500 AND 12500 "
                            "THEN 'out_of_range' ELSE 'ok' END $$"),
             // raw: the register's 16 bits as a smallint (65535 is -1). The key's
             // index entries are 24 bytes; covering raw too would make them 32
             // (alignment), a third more index for plain-row reads that charts,
             // reading the hourly summaries, do not make.
             QStringLiteral("CREATE TABLE reading_rows (site_id integer NOT NULL, address smallint NOT NULL, "
                            "point smallint NOT NULL, time timestamptz NOT NULL, raw smallint NOT NULL, "
                            "PRIMARY KEY (site_id, address, point, time)) PARTITION BY RANGE (time)"),
             // A month's partition (UTC months), made once; two writers making it
             // at the same moment are both content.
             QStringLiteral("CREATE FUNCTION vx_reading_month(at timestamptz) RETURNS text LANGUAGE plpgsql AS $$ "
                            "DECLARE m timestamp := date_trunc('month', at AT TIME ZONE 'UTC'); "
                            "name text := 'reading_rows_' || to_char(m, 'YYYY_MM'); "
                            "BEGIN IF to_regclass(name) IS NULL THEN BEGIN "
                            "EXECUTE format('CREATE TABLE %I PARTITION OF reading_rows FOR VALUES FROM (%L) TO (%L)', "
                            "name, m AT TIME ZONE 'UTC', (m + interval '1 month') AT TIME ZONE 'UTC'); "
                            "EXCEPTION WHEN duplicate_table OR unique_violation THEN NULL; END; END IF; "
                            "RETURN name; END $$"),
             // A depot that shipped here before keeps its rows.
             QStringLiteral("INSERT INTO sites (name) SELECT DISTINCT site FROM readings ORDER BY 1"),
             QStringLiteral("SELECT vx_reading_month(m) FROM (SELECT DISTINCT date_trunc('month', time AT TIME ZONE "
                            "'UTC') AT TIME ZONE 'UTC' AS m FROM readings) AS months"),
             QStringLiteral("INSERT INTO reading_rows (site_id, address, point, time, raw) SELECT s.id, r.address, "
                            "r.point, r.time, (r.raw - CASE WHEN r.raw > 32767 THEN 65536 ELSE 0 END)::smallint "
                            "FROM readings r JOIN sites s ON s.name = r.site"),
             QStringLiteral("DROP TABLE readings"),
             QStringLiteral("CREATE VIEW readings AS SELECT s.name AS site, r.address, r.point, r.time, "
                            "r.raw::integer & 65535 AS raw, vx_celsius(r.raw::integer & 65535) AS celsius, "
                            "vx_status(r.raw::integer & 65535) AS status "
                            "FROM reading_rows r JOIN sites s ON s.id = r.site_id"),
             // Points never summarised have their row from their first batch on,
             // so the summaries can be brought up for every site in one statement.
             QStringLiteral("INSERT INTO hourly_state (site, address, point, rolled_to) SELECT site, address, point, "
                            "timestamptz 'epoch' + floor(extract(epoch FROM min(time)) / 3600) * interval '1 hour' "
                            "FROM readings GROUP BY site, address, point ON CONFLICT DO NOTHING"),
             QStringLiteral("CREATE INDEX hourly_state_due ON hourly_state (rolled_to)"),
         }},
    };
}

SchemaPlan planSchema(int found, const QList<Migration> &migrations)
{
    SchemaPlan plan;
    const int known = migrations.isEmpty() ? 0 : migrations.last().version;
    if (found > known) {
        plan.refused = true;
        return plan;
    }
    for (const Migration &m : migrations)
        if (m.version > found)
            plan.toApply << m.version;
    return plan;
}

bool migrateSchema(QSqlDatabase &db, const QList<Migration> &migrations, QString *error)
{
    QSqlQuery q(db);
    auto readVersion = [&]() -> std::optional<int> {
        if (!q.exec(QStringLiteral("SELECT max(version) FROM schema_version")) || !q.next())
            return std::nullopt;
        const int found = q.value(0).toInt();
        q.finish();
        return found;
    };
    auto refuse = [&](int found) {
        *error = QStringLiteral("the database has schema version %1, newer than this program knows (%2); "
                                "it was left unchanged: use a newer program")
                     .arg(found)
                     .arg(migrations.isEmpty() ? 0 : migrations.last().version);
        return false;
    };
    // A store already at this version is only read: a viewer may open it
    // without the right to write.
    if (db.tables().contains(QStringLiteral("schema_version"))) {
        const std::optional<int> found = readVersion();
        if (!found) {
            *error = QStringLiteral("cannot read the schema version: %1").arg(q.lastError().text());
            return false;
        }
        const SchemaPlan plan = planSchema(*found, migrations);
        if (plan.refused)
            return refuse(*found);
        if (plan.toApply.isEmpty())
            return true;
    }
    // Two programs may make a new store at once (the window and vxcollect,
    // two ingesters): each step under a lock held to its commit, the version
    // read again under it, so a step is made once and the other finds it done.
    const bool postgres = db.driverName() == QLatin1String("QPSQL");
    auto begin = [&] {
        if (postgres)
            return db.transaction() && q.exec(QStringLiteral("SELECT pg_advisory_xact_lock(7678001)"));
        return q.exec(QStringLiteral("BEGIN IMMEDIATE")); // waits out the other writer (busy timeout)
    };
    auto end = [&](bool keep) {
        if (postgres)
            return keep ? db.commit() : db.rollback();
        return q.exec(keep ? QStringLiteral("COMMIT") : QStringLiteral("ROLLBACK"));
    };
    // The message is made before the rollback, which would replace the query's error.
    auto abandon = [&](const QString &message) {
        end(false);
        *error = message;
        return false;
    };
    for (;;) {
        if (!begin())
            return abandon(QStringLiteral("cannot lock the schema to bring it up to date: %1").arg(q.lastError().text()));
        if (!q.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS schema_version (version integer NOT NULL)"))
            || !q.exec(QStringLiteral("INSERT INTO schema_version SELECT 0 WHERE NOT EXISTS (SELECT 1 FROM schema_version)")))
            return abandon(QStringLiteral("cannot create the schema: %1").arg(q.lastError().text()));
        const std::optional<int> found = readVersion();
        if (!found)
            return abandon(QStringLiteral("cannot read the schema version: %1").arg(q.lastError().text()));
        const SchemaPlan plan = planSchema(*found, migrations);
        if (plan.refused) {
            end(false);
            return refuse(*found);
        }
        if (plan.toApply.isEmpty())
            return end(true) || abandon(QStringLiteral("cannot commit: %1").arg(db.lastError().text()));
        const int version = plan.toApply.first();
        const auto step = std::find_if(migrations.begin(), migrations.end(),
                                       [version](const Migration &m) { return m.version == version; });
        auto failed = [&] {
            const QString why = q.lastError().text().isEmpty() ? db.lastError().text() : q.lastError().text();
            return abandon(QStringLiteral("migration to version %1 failed: %2").arg(version).arg(why));
        };
        for (const QString &statement : step->statements)
            if (!q.exec(statement))
                return failed();
        if (!q.exec(QStringLiteral("UPDATE schema_version SET version = %1").arg(version)) || !end(true))
            return failed();
    }
}

} // namespace vx
