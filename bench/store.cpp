// The readings store's figures: readings stored per second (SQLite, and a
// PostgreSQL server of its own with fsync on), and one point's year of
// one-minute readings read back as 2,000 chart buckets and as plain rows.
// Prints figures; asserts nothing.
//   store [frames] [--year] [--keep DIR]
#include "PgServer.h"
#include "core/store/ReadingStore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <libpq-fe.h>

#include <algorithm>
#include <cstdio>

using namespace vx;

namespace {

// Frames as a bus gives them: 36 devices, 18 points, one frame after another.
QList<ReadingSet> frames(int count, qint64 start, int devices = 36)
{
    QList<ReadingSet> out;
    out.reserve(count);
    for (int i = 0; i < count; ++i) {
        QList<quint16> raw(18);
        for (int p = 0; p < 18; ++p)
            raw[p] = quint16(p == 17 ? 65535 : 1500 + (i * 7 + p * 13) % 900);
        out.append({start + i * 30, 1 + i % devices, raw});
    }
    return out;
}

// Batches of 1,000 readings (56 frames), one transaction each, as the collector commits them.
double storeRate(ReadingStore &store, int frameCount, int framesPerBatch = 56)
{
    const QList<ReadingSet> all = frames(frameCount, 1796601600000);
    QElapsedTimer clock;
    clock.start();
    qint64 rows = 0;
    for (int i = 0; i < all.size(); i += framesPerBatch) {
        if (!store.add(all.mid(i, framesPerBatch))) {
            std::printf("  failed: %s\n", qPrintable(store.lastError()));
            return 0;
        }
        rows += store.lastAdded();
    }
    return double(rows) / (clock.nsecsElapsed() / 1e9);
}

// What the server can take at best: the same rows by COPY into a bare table of
// the readings' shape (the site by number, the raw value), as many rows a transaction as the forwarder ships.
double copyRate(const QString &url, int frameCount, int framesPerBatch)
{
    PGconn *conn = PQconnectdb(url.toUtf8().constData());
    const auto exec = [conn](const char *sql) {
        PGresult *r = PQexec(conn, sql);
        const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK || PQresultStatus(r) == PGRES_COPY_IN;
        PQclear(r);
        return ok;
    };
    if (PQstatus(conn) != CONNECTION_OK
        || !exec("CREATE TABLE copied (site_id integer NOT NULL, address smallint NOT NULL, point smallint NOT NULL, "
                 "time timestamptz NOT NULL, raw integer NOT NULL, PRIMARY KEY (site_id, address, point, time))")) {
        std::printf("  COPY: cannot prepare: %s", PQerrorMessage(conn));
        PQfinish(conn);
        return 0;
    }
    const QList<ReadingSet> all = frames(frameCount, 1796601600000);
    QElapsedTimer clock;
    clock.start();
    qint64 rows = 0;
    for (int i = 0; i < all.size(); i += framesPerBatch) {
        QByteArray text;
        for (const ReadingSet &f : all.mid(i, framesPerBatch)) {
            const QByteArray time = QDateTime::fromMSecsSinceEpoch(f.timeMs, Qt::UTC)
                                        .toString(Qt::ISODateWithMs).toLatin1();
            for (int p = 0; p < f.raw.size(); ++p, ++rows) {
                const quint16 raw = f.raw[p];
                text += "1\t" + QByteArray::number(f.address) + '\t' + QByteArray::number(p + 1) + '\t' + time
                        + '\t' + QByteArray::number(raw) + '\n';
            }
        }
        if (!exec("BEGIN") || !exec("COPY copied FROM STDIN") || PQputCopyData(conn, text.constData(), int(text.size())) != 1
            || PQputCopyEnd(conn, nullptr) != 1) {
            std::printf("  COPY failed: %s", PQerrorMessage(conn));
            break;
        }
        PGresult *r = PQgetResult(conn);
        const bool copied = PQresultStatus(r) == PGRES_COMMAND_OK;
        PQclear(r);
        while ((r = PQgetResult(conn)))
            PQclear(r);
        if (!copied || !exec("COMMIT")) {
            std::printf("  COPY failed: %s", PQerrorMessage(conn));
            break;
        }
    }
    const double rate = double(rows) / (clock.nsecsElapsed() / 1e9);
    PQfinish(conn);
    return rate;
}

std::unique_ptr<ReadingStore> open(const QString &text)
{
    QString why;
    auto store = ReadingStore::open(*parseStoreLocation(text, &why), QStringLiteral("bench"), &why);
    if (!store)
        std::printf("  cannot open %s: %s\n", qPrintable(text), qPrintable(why));
    return store;
}

void measureYear(ReadingStore &store, qint64 start, qint64 minute, int minutes)
{
    QList<double> bucketMs, fetchMs;
    int buckets = 0;
    qint64 fetched = 0;
    for (int run = 0; run < 5; ++run) {
        QElapsedTimer clock;
        clock.start();
        buckets = int(store.buckets(2, 5, start, start + minutes * minute, 2000).size());
        bucketMs << clock.nsecsElapsed() / 1e6;
        clock.start();
        fetched = store.readings(2, 5, start, start + minutes * minute).size();
        fetchMs << clock.nsecsElapsed() / 1e6;
    }
    std::sort(bucketMs.begin(), bucketMs.end());
    std::sort(fetchMs.begin(), fetchMs.end());
    std::printf("  one point's year as %d buckets (min/mean/max): median %.1f ms (slowest %.1f, best %.1f)\n", buckets,
                bucketMs[2], bucketMs.last(), bucketMs.first());
    std::printf("  one point's year fetched, %lld rows: median %.1f ms\n", fetched, fetchMs[2]);
}

// A year of ten depots in PostgreSQL (2 devices x 18 points each, a reading
// every 10 minutes), made by the server itself (generate_series) in time order
// as an ingester writes it: the figures wanted are the size and the reading
// back, and a client would take minutes to send it.
void yearInPostgres(PgServer &pg)
{
    const QString url = pg.createDatabase();
    auto store = open(url);
    if (!store)
        return;
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("year"));
    QString why;
    const auto location = parseStoreLocation(url, &why);
    db.setHostName(location->host);
    db.setPort(location->port);
    db.setDatabaseName(location->database);
    db.setUserName(location->user);
    if (!db.open()) {
        std::printf("  cannot connect: %s\n", qPrintable(db.lastError().text()));
        return;
    }
    QElapsedTimer clock;
    clock.start();
    QSqlQuery q(db);
    const bool built =
        q.exec(QStringLiteral("INSERT INTO sites (name) SELECT 'depot' || s FROM generate_series(1, 10) s"))
        && q.exec(QStringLiteral("SELECT vx_reading_month(timestamptz '2025-01-01 00:00:00+00' + k * interval '1 month') "
                                 "FROM generate_series(0, 11) k"))
        && q.exec(QStringLiteral(
            "INSERT INTO reading_rows (site_id, address, point, time, raw) "
            "SELECT s, a, p, timestamptz '2025-01-01 00:00:00+00' + m * interval '10 minutes', "
            "1500 + (m / 6 + p * 13 + a + s) % 900 "
            "FROM generate_series(0, 52559) m, generate_series(1, 10) s, generate_series(1, 2) a, "
            "generate_series(1, 18) p ORDER BY m, s, a, p"))
        && q.exec(QStringLiteral("INSERT INTO hourly_state (site, address, point, rolled_to) SELECT 'depot' || s, a, p, "
                                 "timestamptz '2025-01-01 00:00:00+00' FROM generate_series(1, 10) s, "
                                 "generate_series(1, 2) a, generate_series(1, 18) p"))
        && q.exec(QStringLiteral("VACUUM ANALYZE reading_rows"));
    if (!built) {
        std::printf("  cannot build: %s\n", qPrintable(q.lastError().text()));
        return;
    }
    q.exec(QStringLiteral("SELECT sum(pg_total_relation_size(inhrelid)) FROM pg_inherits "
                          "WHERE inhparent = 'reading_rows'::regclass"));
    q.next();
    const double mb = q.value(0).toDouble() / 1e6;
    q.exec(QStringLiteral("SELECT count(*) FROM reading_rows"));
    q.next();
    const qint64 rows = q.value(0).toLongLong();
    std::printf("  built %lld readings (10 depots) in %.1f s; partitions with their index %.0f MB: %.1f MB per "
                "million readings\n", rows, clock.nsecsElapsed() / 1e9, mb, mb * 1e6 / double(rows));
    clock.start();
    const qint64 yearEnd = QDateTime(QDate(2026, 1, 1), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
    const std::optional<bool> summarised = store->summariseAllSites(yearEnd, 0);
    std::printf("  hourly summaries of every depot's points brought up set-wise: %s in %.1f s\n",
                summarised && *summarised ? "done" : qPrintable(store->lastError()), clock.nsecsElapsed() / 1e9);
    q = QSqlQuery();
    db.close();
    store->setSite(QStringLiteral("depot7"));
    measureYear(*store, QDateTime(QDate(2025, 1, 1), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch(), 600000, 52560);
}

void year(const QString &file)
{
    const qint64 start = QDateTime(QDate(2025, 1, 1), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
    const qint64 minute = 60000;
    const int minutes = 525600;
    if (!QFileInfo::exists(file)) {
        auto store = open(file);
        if (!store)
            return;
        std::printf("  building a year: 2 devices x 18 points x %d minutes...\n", minutes);
        std::fflush(stdout);
        QElapsedTimer clock;
        clock.start();
        QList<ReadingSet> batch;
        for (int m = 0; m < minutes; ++m) {
            for (int a = 1; a <= 2; ++a) {
                QList<quint16> raw(18);
                for (int p = 0; p < 18; ++p)
                    raw[p] = quint16(1500 + (m / 60 + p * 13 + a) % 900);
                batch.append({start + m * minute, a, raw});
            }
            if (batch.size() >= 5000) {
                store->add(batch);
                batch.clear();
            }
        }
        store->add(batch);
        std::printf("  built %lld readings in %.1f s\n", store->readingCount(), clock.nsecsElapsed() / 1e9);
    }
    auto store = open(file);
    if (!store)
        return;
    const qint64 rows = store->readingCount();
    const double mb = QFileInfo(file).size() / 1e6;
    std::printf("  file %.0f MB for %lld readings: %.1f MB per million readings\n", mb, rows, mb * 1e6 / double(rows));
    measureYear(*store, start, minute, minutes);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int frameCount = args.size() > 1 && args[1].toInt() > 0 ? args[1].toInt() : 20000;
    QTemporaryDir dir;
    std::printf("== store: %d frames of 18 readings, committed 1,000 readings a transaction\n", frameCount);
    {
        auto store = open(dir.filePath(QStringLiteral("rate.db")));
        if (store)
            std::printf("  SQLite (WAL, synchronous=FULL): %.0f readings/s\n", storeRate(*store, frameCount));
    }
    PgServer pg;
    pg.setDurable(true);
    if (pg.start()) {
        const QString url = pg.createDatabase();
        auto store = open(url);
        if (store) {
            std::printf("  PostgreSQL (fsync on, 127.0.0.1): %.0f readings/s\n", storeRate(*store, frameCount));
            // The forwarder's road: 500 frames of the outbox a transaction, set
            // beside COPY of the same rows (the most the server takes).
            // Taken in turns, five times each, medians: the machine's moods hit both.
            QList<double> shipped, copied;
            for (int round = 0; round < 5; ++round) {
                shipped << storeRate(*open(pg.createDatabase()), frameCount, 500);
                copied << copyRate(pg.createDatabase(), frameCount, 500);
            }
            std::sort(shipped.begin(), shipped.end());
            std::sort(copied.begin(), copied.end());
            std::printf("  PostgreSQL, 9,000 readings a transaction (the forwarder's batches): median %.0f readings/s; "
                        "COPY of the same rows %.0f/s (%.2fx)\n", shipped[2], copied[2],
                        copied[2] > 0 ? shipped[2] / copied[2] : 0.0);
        }
    } else {
        std::printf("  PostgreSQL: not measured (%s)\n", qPrintable(pg.why()));
    }
    if (args.contains(QStringLiteral("--year"))) {
        const int keep = int(args.indexOf(QStringLiteral("--keep")));
        const QString file = keep > 0 && keep + 1 < args.size() ? args[keep + 1] + QStringLiteral("/year.db")
                                                                  : dir.filePath(QStringLiteral("year.db"));
        std::printf("== one point over a year of one-minute readings (SQLite)\n");
        year(file);
        if (pg.running()) {
            std::printf("== a year of ten depots in PostgreSQL (readings every 10 minutes, monthly partitions)\n");
            yearInPostgres(pg);
        }
    }
    return 0;
}
