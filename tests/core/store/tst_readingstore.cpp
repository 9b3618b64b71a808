// The readings store, every test on both engines: a SQLite file, and a
// PostgreSQL server the test starts itself.
#include "OpenStore.h"
#include "PgServer.h"
#include "core/store/ReadingMonths.h"
#include "core/store/ReadingStore.h"
#include "core/store/StoreSchema.h"

#include <QBuffer>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <ctime>
#include <thread>

using namespace vx;

class tst_readingstore : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void initTestCase_data();
    void addAndReadBack();
    void storedTwiceIsStoredOnce();
    void wholeBatchOrNothing();
    void buckets();
    void hourlySummariesAgreeWithReadings();
    void exportCsv_data();
    void exportCsv();
    void retentionInSmallBatches();
    void newerSchemaIsRefusedAndLeftAlone();
    void newStoreOpenedByTwoAtOnce();
    void outboxKeepsOrder();
    void outboxesAreIndependent();
    void sensorMapNoticesReplacementsAndRoundTrips();
    void centralUpgradeKeepsRows();
    void centralMonthsAndSummaries();

private:
    std::unique_ptr<ReadingStore> openStore(const QString &site = QStringLiteral("depot"));
    static bool postgres()
    {
        QFETCH_GLOBAL(QString, engine);
        return engine == QLatin1String("postgresql");
    }

    QTemporaryDir m_dir;
    PgServer m_pg;
    int m_files = 0;
    QString m_lastLocation;
};

// 2026-12-07 08:00:00 +08:00
constexpr qint64 kT0 = 1796601600000;

void tst_readingstore::initTestCase()
{
    // Exported times carry the local offset: pin it.
    qputenv("TZ", "Asia/Shanghai");
    ::tzset();
}

void tst_readingstore::initTestCase_data()
{
    QTest::addColumn<QString>("engine");
    QTest::newRow("sqlite") << QStringLiteral("sqlite");
    QTest::newRow("postgresql") << QStringLiteral("postgresql");
}

std::unique_ptr<ReadingStore> tst_readingstore::openStore(const QString &site)
{
    QString location;
    if (postgres()) {
        location = m_pg.createDatabase();
        if (location.isEmpty())
            qWarning() << m_pg.why();
    } else {
        location = m_dir.filePath(QStringLiteral("store%1.db").arg(++m_files));
    }
    m_lastLocation = location;
    return openStoreAt(location, site);
}

#define OPEN_STORE(name)                                                                                               \
    if (postgres())                                                                                                    \
        VX_REQUIRE_PG(m_pg);                                                                                           \
    auto name = openStore();                                                                                           \
    QVERIFY(name)

void tst_readingstore::addAndReadBack()
{
    OPEN_STORE(store);
    // 25.34, no reading, the power-on 85.00, -5.36, 126.00 and -60.00 (out of range), 125.00 and -55.00 (in range)
    const QList<quint16> raw{2534, 65535, 8500, 65000, 12600, 59536, 12500, 60036};
    QVERIFY(store->add({{kT0 + 123, 3, raw}, {kT0 + 1123, 3, raw.mid(0, 2)}, {kT0 + 50, 7, {100}}},
                       {{kT0 + 200, 7, QStringLiteral("silent"), QString()}}));
    QCOMPARE(store->lastAdded(), 11);
    QCOMPARE(store->readingCount(), 11);

    const QList<StoredReading> first = store->readings(3, 1, kT0, kT0 + 2000);
    QCOMPARE(first.size(), 2);
    QCOMPARE(first[0].timeMs, kT0 + 123);
    QCOMPARE(first[1].timeMs, kT0 + 1123);
    QCOMPARE(first[0].raw, quint16(2534));
    QCOMPARE(*first[0].celsius, 25.34);

    const struct {
        int point;
        std::optional<double> celsius;
        ReadingStatus status;
    } expected[] = {{1, 25.34, ReadingStatus::Ok},          {2, std::nullopt, ReadingStatus::NoReading},
                    {3, 85.0, ReadingStatus::PowerOn},      {4, -5.36, ReadingStatus::Ok},
                    {5, 126.0, ReadingStatus::OutOfRange},  {6, -60.0, ReadingStatus::OutOfRange},
                    {7, 125.0, ReadingStatus::Ok},          {8, -55.0, ReadingStatus::Ok}};
    for (const auto &e : expected) {
        const QList<StoredReading> r = store->readings(3, e.point, kT0, kT0 + 1000);
        QCOMPARE(r.size(), 1);
        QCOMPARE(r[0].raw, raw[e.point - 1]);
        QCOMPARE(r[0].celsius.has_value(), e.celsius.has_value());
        if (e.celsius)
            QCOMPARE(*r[0].celsius, *e.celsius);
        QCOMPARE(int(r[0].status), int(e.status));
    }
    // The range is [from, to).
    QCOMPARE(store->readings(3, 1, kT0 + 123, kT0 + 1123).size(), 1);

    const QList<DeviceSeen> devices = store->devices();
    QCOMPARE(devices.size(), 2);
    QCOMPARE(devices[0].address, 3);
    QCOMPARE(devices[0].firstSeenMs, kT0 + 123);
    QCOMPARE(devices[0].lastSeenMs, kT0 + 1123);
    QVERIFY(store->add({{kT0 - 5000, 3, {1}}}));
    QCOMPARE(store->devices()[0].firstSeenMs, kT0 - 5000);
    QCOMPARE(store->devices()[0].lastSeenMs, kT0 + 1123);
    // Each device's latest frame: device 3's two-point frame (not its longer, older one), padded.
    const QList<ReadingSet> latest = store->latestFrames(4);
    QCOMPARE(latest.size(), 2);
    QCOMPARE(latest[0].address, 3);
    QCOMPARE(latest[0].timeMs, kT0 + 1123);
    QCOMPARE(latest[0].raw, (QList<quint16>{2534, 65535}));
    QCOMPARE(latest[1].raw, QList<quint16>{100});
    // What came after a time, whole frames in time order (a viewer's follow).
    const QList<ReadingSet> since = store->framesSince(kT0 + 100, 8);
    QCOMPARE(since.size(), 2);
    QCOMPARE(since[0].timeMs, kT0 + 123);
    QCOMPARE(since[0].raw, raw);
    QCOMPARE(since[1].timeMs, kT0 + 1123);
    QCOMPARE(since[1].raw, raw.mid(0, 2));
    QCOMPARE(store->framesSince(kT0 + 123, 8).size(), 1);
    QVERIFY(store->framesSince(kT0 + 1123).isEmpty());

    const QList<StoreEvent> events = store->events(kT0, kT0 + 1000);
    QCOMPARE(events.size(), 1);
    QCOMPARE(events[0].address, 7);
    QCOMPARE(events[0].kind, QStringLiteral("silent"));
    QCOMPARE(events[0].timeMs, kT0 + 200);
}

void tst_readingstore::storedTwiceIsStoredOnce()
{
    OPEN_STORE(store);
    const QList<ReadingSet> frames{{kT0, 1, {2000, 2001}}, {kT0 + 40, 2, {2100, 2101}}};
    QVERIFY(store->add(frames));
    QCOMPARE(store->lastAdded(), 4);
    // The same frames again, and one more: only the new one's readings are added, the old ones keep their values.
    QVERIFY(store->add({{kT0, 1, {9999, 9999}}, {kT0 + 40, 2, {2100, 2101}}, {kT0 + 80, 1, {2002, 2003}}}));
    QCOMPARE(store->lastAdded(), 2);
    QCOMPARE(store->readingCount(), 6);
    QCOMPARE(store->readings(1, 1, kT0, kT0 + 1)[0].raw, quint16(2000));

    // A site with the characters a bulk load must escape reads back as itself.
    auto odd = openStore(QStringLiteral("仓\\a\"b'"));
    QVERIFY(odd);
    QVERIFY(odd->add({{kT0, 5, {2000}}}));
    QCOMPARE(odd->readings(5, 1, kT0, kT0 + 1).size(), 1);
}

void tst_readingstore::wholeBatchOrNothing()
{
    if (!postgres())
        QSKIP("SQLite takes any integer, so no row can be refused here; vxcollect's power-cut test covers its batches");
    OPEN_STORE(store);
    // The second frame's address does not fit the column: the batch is refused whole.
    const QList<ReadingSet> frames{{kT0, 1, {2000}}, {kT0, 40000, {2000}}, {kT0 + 1, 2, {2001}}};
    QVERIFY(!store->add(frames));
    QVERIFY(!store->lastError().isEmpty());
    QCOMPARE(store->readingCount(), 0);
    QCOMPARE(store->devices().size(), 0);
    // And the connection is usable afterwards.
    QVERIFY(store->add({{kT0, 1, {2000}}}));
    QCOMPARE(store->readingCount(), 1);
}

void tst_readingstore::buckets()
{
    OPEN_STORE(store);
    // Ten minutes of one-minute readings 20.00, 20.01, ...; minute 4 has no
    // reading and minute 7 the power-on value: neither is a temperature.
    QList<ReadingSet> frames;
    for (int m = 0; m < 10; ++m) {
        const quint16 raw = m == 4 ? 65535 : m == 7 ? 8500 : quint16(2000 + m);
        frames.append({kT0 + m * 60000, 5, {raw}});
    }
    QVERIFY(store->add(frames));
    const QList<ReadingBucket> b = store->buckets(5, 1, kT0, kT0 + 600000, 5);
    QCOMPARE(b.size(), 5);
    const struct {
        double min, mean, max;
        qint64 count;
    } expected[] = {{20.00, 20.005, 20.01, 2}, {20.02, 20.025, 20.03, 2}, {20.05, 20.05, 20.05, 1},
                    {20.06, 20.06, 20.06, 1},  {20.08, 20.085, 20.09, 2}};
    for (int i = 0; i < 5; ++i) {
        QCOMPARE(b[i].startMs, kT0 + i * 120000);
        QCOMPARE(b[i].count, expected[i].count);
        QVERIFY(qAbs(b[i].min - expected[i].min) < 1e-9);
        QVERIFY(qAbs(b[i].mean - expected[i].mean) < 1e-9);
        QVERIFY(qAbs(b[i].max - expected[i].max) < 1e-9);
    }
    // Empty slices are left out; a span past the data gives nothing.
    QCOMPARE(store->buckets(5, 1, kT0 + 600000, kT0 + 700000, 10).size(), 0);
    QCOMPARE(store->buckets(5, 1, kT0, kT0 + 1200000, 2).size(), 1);
}

namespace {
struct Minute {
    qint64 time;
    quint16 raw;
};

// The buckets worked out from the readings themselves, by the documented rule
// for slices of an hour or more.
QList<ReadingBucket> bruteBuckets(const QList<Minute> &data, qint64 from, qint64 to, int count)
{
    const qint64 hour = 3600000;
    qint64 width = ((to - from + count - 1) / count + hour - 1) / hour * hour;
    const qint64 origin = from - from % hour;
    if (origin + width * count < to)
        width += hour;
    QMap<qint64, ReadingBucket> slices;
    for (const Minute &m : data) {
        if (m.time < from || m.time >= to || statusOf(m.raw) != ReadingStatus::Ok)
            continue;
        const double c = *celsiusOf(m.raw);
        const qint64 k = (m.time - origin) / width;
        ReadingBucket &b = slices[k];
        if (b.count == 0) {
            b.startMs = qMax(from, origin + k * width);
            b.min = b.max = c;
        }
        b.min = qMin(b.min, c);
        b.max = qMax(b.max, c);
        b.mean += c; // a sum until the end
        ++b.count;
    }
    QList<ReadingBucket> out;
    for (ReadingBucket b : slices) {
        b.mean /= double(b.count);
        out.append(b);
    }
    return out;
}

bool sameBuckets(const QList<ReadingBucket> &got, const QList<ReadingBucket> &want)
{
    if (got.size() != want.size()) {
        qWarning() << "bucket count" << got.size() << "want" << want.size();
        return false;
    }
    for (int i = 0; i < got.size(); ++i) {
        if (got[i].startMs != want[i].startMs || got[i].count != want[i].count || qAbs(got[i].min - want[i].min) > 1e-9
            || qAbs(got[i].max - want[i].max) > 1e-9 || qAbs(got[i].mean - want[i].mean) > 1e-9) {
            qWarning() << "bucket" << i << got[i].startMs << want[i].startMs << got[i].count << want[i].count
                       << got[i].min << want[i].min << got[i].mean << want[i].mean;
            return false;
        }
    }
    return true;
}
} // namespace

// Slices of hours come from the hourly summaries: they must say what the
// readings say, also after older readings arrive late and after retention
// cuts an hour in two.
void tst_readingstore::hourlySummariesAgreeWithReadings()
{
    OPEN_STORE(store);
    const qint64 minute = 60000;
    const qint64 start = kT0 - 3 * 86400000 + 17 * minute; // not on an hour
    QList<Minute> data;
    QList<ReadingSet> frames;
    for (int m = 0; m < 3 * 1440; m += 1) {
        if (m % 97 == 50)
            continue; // a missed minute now and then
        const quint16 raw = m % 113 == 7 ? 65535 : m % 211 == 3 ? 8500 : quint16(1500 + (m * 37) % 700);
        data.append({start + m * minute, raw});
        frames.append({start + m * minute, 4, {raw}});
    }
    QVERIFY(store->add(frames));
    const qint64 from = start + 23 * minute, to = start + 3 * 86400000 - 41 * minute;
    QVERIFY2(sameBuckets(store->buckets(4, 1, from, to, 10), bruteBuckets(data, from, to, 10)),
             qPrintable(store->lastError()));
    // Summarised as the writer thread does it, a step at a time: the same buckets, now from the summaries.
    std::optional<bool> done;
    for (int step = 0; step < 1000 && !(done && *done); ++step) {
        done = store->summariseHours(kT0 + 2 * 3600000, 1);
        QVERIFY(done);
    }
    QVERIFY(sameBuckets(store->buckets(4, 1, from, to, 10), bruteBuckets(data, from, to, 10)));

    // A reading arriving late, into an hour already summarised.
    const Minute late{start + 30 * 60 * minute + 30 * 1000, 9000};
    data.append(late);
    QVERIFY(store->add({{late.time, 4, {late.raw}}}));
    const QList<ReadingBucket> withLate = store->buckets(4, 1, from, to, 10);
    QVERIFY(sameBuckets(withLate, bruteBuckets(data, from, to, 10)));
    QCOMPARE(std::max_element(withLate.begin(), withLate.end(),
                              [](const ReadingBucket &a, const ReadingBucket &b) { return a.max < b.max; })->max,
             90.0);

    // Retention cuts an hour in two; what is left of it is what counts.
    const qint64 cutoff = start + 40 * 60 * minute + 25 * minute;
    while (store->deleteReadingsBefore(cutoff, 500) > 0) {
    }
    QList<Minute> left;
    for (const Minute &m : data)
        if (m.time >= cutoff)
            left.append(m);
    QVERIFY(sameBuckets(store->buckets(4, 1, from, to, 10), bruteBuckets(left, from, to, 10)));
    QVERIFY(sameBuckets(store->buckets(4, 1, start, to, 7), bruteBuckets(left, start, to, 7)));
}

void tst_readingstore::exportCsv_data()
{
    QTest::addColumn<bool>("perFrame");
    QTest::addColumn<QList<int>>("addresses");
    QTest::addColumn<QString>("expected");
    QTest::newRow("reading") << false << QList<int>{}
                             << QStringLiteral("time,address,point,raw,celsius,status\n"
                                               "2026-12-07T08:00:00.120+08:00,2,1,2534,25.34,ok\n"
                                               "2026-12-07T08:00:00.120+08:00,2,2,65535,,no_reading\n"
                                               "2026-12-07T08:00:00.120+08:00,2,3,65000,-5.36,ok\n"
                                               "2026-12-07T08:00:00.500+08:00,9,1,8500,85.00,power_on\n"
                                               "2026-12-07T08:00:01.000+08:00,2,1,2535,25.35,ok\n");
    QTest::newRow("reading, one address") << false << QList<int>{9}
                                          << QStringLiteral("time,address,point,raw,celsius,status\n"
                                                            "2026-12-07T08:00:00.500+08:00,9,1,8500,85.00,power_on\n");
    QTest::newRow("frame") << true << QList<int>{}
                           << QStringLiteral("time,address,p1,p2,p3\n"
                                             "2026-12-07T08:00:00.120+08:00,2,25.34,,-5.36\n"
                                             "2026-12-07T08:00:00.500+08:00,9,85.00,,\n"
                                             "2026-12-07T08:00:01.000+08:00,2,25.35,,\n");
    QTest::newRow("frame, nothing in range") << true << QList<int>{4} << QStringLiteral("time,address\n");
}

void tst_readingstore::exportCsv()
{
    QFETCH(bool, perFrame);
    QFETCH(QList<int>, addresses);
    QFETCH(QString, expected);
    OPEN_STORE(store);
    QVERIFY(store->add({{kT0 + 120, 2, {2534, 65535, 65000}}, {kT0 + 500, 9, {8500}}, {kT0 + 1000, 2, {2535}},
                        {kT0 + 5000, 2, {2536}}, {kT0 - 1, 2, {2533}}}));
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    QString why;
    qint64 rows = -1;
    QVERIFY2(store->exportCsv(out, {kT0, kT0 + 5000, addresses, perFrame}, &why,
                              [&](qint64 n) {
                                  rows = n;
                                  return true;
                              }),
             qPrintable(why));
    QCOMPARE(QString::fromUtf8(out.data()), expected);
    QVERIFY(rows >= 0);
}

void tst_readingstore::retentionInSmallBatches()
{
    OPEN_STORE(store);
    const qint64 day = 86400000;
    QList<ReadingSet> frames;
    for (int d = 0; d < 5; ++d)
        for (int a = 1; a <= 2; ++a)
            frames.append({kT0 - d * day, a, {2000, 2001, 2002}});
    QVERIFY(store->add(frames));
    QCOMPARE(store->readingCount(), 30);
    // Older than two days: days 3 and 4 (12 readings) go, at most 5 a step.
    QList<int> steps;
    for (int n = -1; n != 0;) {
        n = store->deleteReadingsBefore(kT0 - 2 * day - 1, 5);
        QVERIFY(n >= 0 && n <= 5);
        steps << n;
        QVERIFY(steps.size() < 10);
    }
    QCOMPARE(steps, (QList<int>{5, 5, 2, 0}));
    QCOMPARE(store->readingCount(), 18);
    QCOMPARE(store->readings(2, 3, kT0 - 10 * day, kT0 + 1).size(), 3);
    QCOMPARE(store->readings(2, 3, kT0 - 2 * day, kT0 + 1).size(), 3);
}

void tst_readingstore::newerSchemaIsRefusedAndLeftAlone()
{
    OPEN_STORE(store);
    QVERIFY(store->add({{kT0, 1, {2000}}}));
    const int known = storeMigrations(store->engine()).last().version;
    store.reset();
    QString why;
    const auto location = parseStoreLocation(m_lastLocation, &why);
    QVERIFY(location);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(postgres() ? QStringLiteral("QPSQL") : QStringLiteral("QSQLITE"),
                                                    QStringLiteral("raw"));
        db.setDatabaseName(postgres() ? location->database : location->file);
        db.setHostName(location->host);
        db.setPort(location->port);
        db.setUserName(location->user);
        QVERIFY(db.open());
        QSqlQuery q(db);
        QVERIFY(q.exec(QStringLiteral("UPDATE schema_version SET version = %1").arg(known + 1)));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("raw"));
    QVERIFY(!ReadingStore::open(*location, QString(), &why));
    QVERIFY2(why.contains(QStringLiteral("newer than this program")), qPrintable(why));
    // Left as it was: the version still the newer one, the reading still there.
    QSqlDatabase db = QSqlDatabase::addDatabase(postgres() ? QStringLiteral("QPSQL") : QStringLiteral("QSQLITE"),
                                                QStringLiteral("check"));
    db.setDatabaseName(postgres() ? location->database : location->file);
    db.setHostName(location->host);
    db.setPort(location->port);
    db.setUserName(location->user);
    QVERIFY(db.open());
    QSqlQuery q(db);
    QVERIFY(q.exec(QStringLiteral("SELECT version FROM schema_version")) && q.next());
    QCOMPARE(q.value(0).toInt(), known + 1);
    QVERIFY(q.exec(QStringLiteral("SELECT count(*) FROM readings")) && q.next());
    QCOMPARE(q.value(0).toInt(), 1);
    q = QSqlQuery();
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("check"));
}

void tst_readingstore::newStoreOpenedByTwoAtOnce()
{
    // The window and vxcollect (or two ingesters) starting on a store not yet
    // made: each must get it, neither may find the other's half-made schema.
    if (postgres())
        VX_REQUIRE_PG(m_pg);
    for (int round = 0; round < 8; ++round) {
        QString why;
        const QString text = postgres() ? m_pg.createDatabase()
                                        : m_dir.filePath(QStringLiteral("race%1.db").arg(round));
        const auto location = parseStoreLocation(text, &why);
        QVERIFY2(location, qPrintable(why));
        std::atomic<int> ready{0};
        QString errors[2];
        auto open = [&](int who) {
            ++ready;
            while (ready < 2) {
            }
            QString error;
            if (!ReadingStore::open(*location, QStringLiteral("depot"), &error))
                errors[who] = error.isEmpty() ? QStringLiteral("failed") : error;
        };
        std::thread first(open, 0), second(open, 1);
        first.join();
        second.join();
        QVERIFY2(errors[0].isEmpty() && errors[1].isEmpty(), qPrintable(errors[0] + QLatin1Char('|') + errors[1]));
        auto store = ReadingStore::open(*location, QStringLiteral("depot"), &why);
        QVERIFY2(store && store->add({{kT0, 1, {2000}}}), qPrintable(why));
    }
}

void tst_readingstore::outboxKeepsOrder()
{
    if (postgres())
        QSKIP("the outbox is the local store's");
    auto store = openStore();
    QVERIFY(store);
    QVERIFY(store->add({{kT0 + 10, 2, {2000, 2001}}, {kT0, 1, {2100}}}, {{kT0 + 5, 1, QStringLiteral("silent"), {}}}, true));
    QVERIFY(store->add({{kT0 + 20, 3, {2200, 2201, 2202}}}, {}, true));
    QVERIFY(store->add({{kT0 + 30, 4, {2300}}}, {}, false)); // not for the central store
    QCOMPARE(store->outboxReadings(), 6);
    const QList<OutboxEntry> entries = store->outbox(10);
    QCOMPARE(entries.size(), 4);
    QCOMPARE(entries[0].frame.address, 2);
    QCOMPARE(entries[0].frame.raw, (QList<quint16>{2000, 2001}));
    QCOMPARE(entries[1].frame.address, 1);
    QVERIFY(entries[2].isEvent);
    QCOMPARE(entries[2].event.kind, QStringLiteral("silent"));
    QCOMPARE(entries[3].frame.timeMs, kT0 + 20);
    // A reader with entries in flight reads on after them.
    const QList<OutboxEntry> after = store->outbox(1, CentralQueue, entries[1].id);
    QCOMPARE(after.size(), 1);
    QCOMPARE(after[0].id, entries[2].id);
    QVERIFY(store->dropOutboxThrough(entries[1].id));
    QCOMPARE(store->outbox(10).size(), 2);
    QCOMPARE(store->outboxReadings(), 3);
}

// The broker's queue and the central store's are drained apart: one away
// longer than the other still gets everything, in order.
void tst_readingstore::outboxesAreIndependent()
{
    if (postgres())
        QSKIP("the outboxes are the local store's");
    auto store = openStore();
    QVERIFY(store);
    QVERIFY(store->add({{kT0, 1, {2000, 2001}}}, {{kT0 + 1, 1, QStringLiteral("alarm_raised"), QStringLiteral("x")}},
                       CentralQueue | MqttQueue));
    QVERIFY(store->add({{kT0 + 10, 2, {2100}}}, {}, MqttQueue));
    QVERIFY(store->add({{kT0 + 20, 3, {2200}}}, {}, CentralQueue));
    QCOMPARE(store->outboxReadings(CentralQueue), 3);
    QCOMPARE(store->outboxReadings(MqttQueue), 3);
    const QList<OutboxEntry> mqtt = store->outbox(10, MqttQueue);
    QCOMPARE(mqtt.size(), 3);
    QCOMPARE(mqtt[1].event.detail, QStringLiteral("x"));
    QCOMPARE(mqtt[2].frame.address, 2);
    QVERIFY(store->dropOutboxThrough(mqtt.last().id, MqttQueue));
    QCOMPARE(store->outboxReadings(MqttQueue), 0);
    const QList<OutboxEntry> central = store->outbox(10, CentralQueue);
    QCOMPARE(central.size(), 3);
    QCOMPARE(central.last().frame.address, 3);
}

void tst_readingstore::sensorMapNoticesReplacementsAndRoundTrips()
{
    OPEN_STORE(store);
    const QString a = QStringLiteral("28 FF 4A 3B 05 00 00 F5"), b = QStringLiteral("28 FF 4A 3B 01 00 00 6B"),
                  c = QStringLiteral("28 FF 4A 3B 02 00 00 8F");
    auto changes = store->recordSensorCodes(2, 1, {a, b}, kT0);
    QVERIFY2(changes, qPrintable(store->lastError()));
    QVERIFY(changes->isEmpty()); // nothing known before: nothing replaced
    changes = store->recordSensorCodes(2, 1, {a, c}, kT0 + 60000);
    QVERIFY(changes);
    QCOMPARE(changes->size(), 1);
    QCOMPARE(changes->first().text(), QStringLiteral("通道1 位置02 传感器已更换: %1 → %2").arg(b, c));
    changes = store->recordSensorCodes(2, 1, {a, c}, kT0 + 120000);
    QVERIFY(changes && changes->isEmpty()); // reported once
    const QList<StoreEvent> events = store->events(kT0, kT0 + 200000);
    QCOMPARE(events.size(), 1);
    QCOMPARE(events[0].kind, QStringLiteral("sensor_replaced"));
    QCOMPARE(events[0].address, 2);
    QCOMPARE(events[0].detail, QStringLiteral("通道1 位置02 传感器已更换: %1 → %2").arg(b, c));

    const QList<SensorPlace> map = store->sensorMap();
    QCOMPARE(map.size(), 2);
    QCOMPARE(map[0].firstSeenMs, kT0);
    QCOMPARE(map[0].lastSeenMs, kT0 + 120000);
    QCOMPARE(map[1].code, c);
    QCOMPARE(map[1].firstSeenMs, kT0 + 60000); // a new sensor is new from when it was found

    QBuffer out;
    out.open(QIODevice::WriteOnly);
    QString why;
    QVERIFY(store->exportSensorMap(out, &why));
    const QByteArray csv = out.data();
    QCOMPARE(QString::fromUtf8(csv),
             QStringLiteral("address,channel,position,code,family,first_seen,last_seen\n"
                            "2,1,1,%1,DS18B20,2026-12-07T08:00:00.000+08:00,2026-12-07T08:02:00.000+08:00\n"
                            "2,1,2,%2,DS18B20,2026-12-07T08:01:00.000+08:00,2026-12-07T08:02:00.000+08:00\n")
                 .arg(a, c));

    // Back in, as another site's reference.
    auto other = openStore();
    QVERIFY(other);
    QBuffer in;
    in.setData(csv);
    in.open(QIODevice::ReadOnly);
    int places = 0;
    QVERIFY2(other->importSensorMap(in, &places, &why), qPrintable(why));
    QCOMPARE(places, 2);
    const QList<SensorPlace> copied = other->sensorMap();
    QCOMPARE(copied.size(), 2);
    for (int i = 0; i < 2; ++i) {
        QCOMPARE(copied[i].code, map[i].code);
        QCOMPARE(copied[i].firstSeenMs, map[i].firstSeenMs);
        QCOMPARE(copied[i].lastSeenMs, map[i].lastSeenMs);
    }
    QBuffer bad;
    bad.setData(csv + "2,1,3,28 FF,DS18B20,x,y\n");
    bad.open(QIODevice::ReadOnly);
    QVERIFY(!other->importSensorMap(bad, &places, &why));
    QCOMPARE(why, QStringLiteral("line 4 is not address,channel,position,code,family,first_seen,last_seen"));
}

// One value of one statement, on a connection of its own.
static QVariant sqlValue(const QString &location, const QString &sql)
{
    QString why;
    const auto at = parseStoreLocation(location, &why);
    QVariant value;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("peek"));
        db.setDatabaseName(at->database);
        db.setHostName(at->host);
        db.setPort(at->port);
        db.setUserName(at->user);
        if (db.open()) {
            QSqlQuery q(db);
            if (q.exec(sql) && q.next())
                value = q.value(0);
            else
                qWarning() << sql << q.lastError().text();
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("peek"));
    return value;
}

// A central database written before readings were narrowed and partitioned:
// after the upgrade every row reads back as it was, temperature and status
// included, and new batches land beside them.
void tst_readingstore::centralUpgradeKeepsRows()
{
    if (!postgres())
        QSKIP("the central schema's own upgrade");
    VX_REQUIRE_PG(m_pg);
    const QString location = m_pg.createDatabase();
    QString why;
    const auto at = parseStoreLocation(location, &why);
    QVERIFY2(at, qPrintable(why));
    // Ordinary, zero, no reading, power-on, negative, out of range both ways, the positive limit.
    const QList<quint16> raws{2345, 0, 65535, 8500, 64986, 12501, 20000, 20001, 65535 - 5499};
    const QList<qint64> times{kT0 - 40LL * 86400000, kT0};
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("old"));
        db.setDatabaseName(at->database);
        db.setHostName(at->host);
        db.setPort(at->port);
        db.setUserName(at->user);
        QVERIFY(db.open());
        QVERIFY2(migrateSchema(db, storeMigrations(StoreLocation::Engine::PostgreSQL).mid(0, 4), &why), qPrintable(why));
        QSqlQuery q(db);
        QVERIFY(q.prepare(QStringLiteral("INSERT INTO readings (site, address, point, time, raw, celsius, status) VALUES "
                                         "(?, 3, ?, timestamptz 'epoch' + ? * interval '1 millisecond', ?, ?, ?)")));
        for (const QString &site : {QStringLiteral("north"), QStringLiteral("south")})
            for (const qint64 t : times)
                for (int k = 0; k < raws.size(); ++k) {
                    const auto celsius = celsiusOf(raws[k]);
                    q.addBindValue(site);
                    q.addBindValue(k + 1);
                    q.addBindValue(t);
                    q.addBindValue(int(raws[k]));
                    q.addBindValue(celsius ? QVariant(*celsius) : QVariant());
                    q.addBindValue(statusName(statusOf(raws[k])));
                    QVERIFY2(q.exec(), qPrintable(q.lastError().text()));
                }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("old"));

    auto store = ReadingStore::open(*at, QStringLiteral("north"), &why);
    QVERIFY2(store, qPrintable(why));
    for (const QString &site : {QStringLiteral("north"), QStringLiteral("south")}) {
        store->setSite(site);
        for (int k = 0; k < raws.size(); ++k) {
            const QList<StoredReading> got = store->readings(3, k + 1, times.first(), times.last() + 1);
            QCOMPARE(got.size(), 2);
            for (int i = 0; i < 2; ++i) {
                QCOMPARE(got[i].timeMs, times[i]);
                QCOMPARE(got[i].raw, raws[k]);
                QCOMPARE(got[i].celsius, celsiusOf(raws[k]));
                QCOMPARE(int(got[i].status), int(statusOf(raws[k])));
            }
        }
    }
    QCOMPARE(sqlValue(location, QStringLiteral("SELECT count(*) FROM reading_rows")).toInt(), 2 * 2 * raws.size());
    QVERIFY(store->add({{times.last(), 3, raws}, {kT0 + 60000, 3, raws}}));
    QCOMPARE(store->lastAdded(), qint64(raws.size())); // the frame already there is skipped
}

// Several sites in one batch, readings in three months: the summaries are
// brought up for every site at once (and again after a late reading), the
// next month is made ahead, and retention drops a whole month.
void tst_readingstore::centralMonthsAndSummaries()
{
    if (!postgres())
        QSKIP("partitions and set-wise summaries are PostgreSQL's");
    OPEN_STORE(store);
    const qint64 thisMonth = monthStartMs(kT0);
    QList<SiteRows> batch{{QStringLiteral("north"), {}, {}}, {QStringLiteral("so\"uth, \\"), {}, {}}};
    double okSum = 0;
    qint64 okCount = 0;
    for (int month = -2; month <= 0; ++month)
        for (int m = 0; m < 6 * 60; ++m) {
            const qint64 t = monthsLaterMs(kT0, month) + 86400000 + m * 60000;
            const quint16 raw = m % 50 == 7 ? 65535 : quint16(1500 + (m * 37) % 700);
            for (SiteRows &part : batch)
                part.frames.append({t, 5, {raw, quint16(raw + 1)}});
            if (raw != 65535) {
                okSum += raw / 100.0;
                ++okCount;
            }
        }
    QVERIFY2(store->addForSites(batch), qPrintable(store->lastError()));
    QCOMPARE(store->lastAdded(), qint64(2 * 3 * 6 * 60 * 2));
    QVERIFY(store->prepareMonths(kT0, 1));
    QCOMPARE(sqlValue(m_lastLocation, QStringLiteral("SELECT to_regclass('%1') IS NOT NULL")
                                          .arg(monthPartitionName(monthsLaterMs(kT0, 1))))
                 .toBool(),
             true);

    const auto sums = [&](const QString &site) {
        return sqlValue(m_lastLocation, QStringLiteral("SELECT round(sum(sum)::numeric, 2) || '/' || sum(count) FROM hourly "
                                                       "WHERE site = '%1' AND point = 1").arg(QString(site).replace("'", "''")))
            .toString();
    };
    const auto summarised = [&] {
        const std::optional<bool> done = store->summariseAllSites(kT0 + 86400000 * 3, 0);
        return done && *done;
    };
    QVERIFY2(summarised(), qPrintable(store->lastError()));
    const QString want = QString::number(okSum, 'f', 2) + QLatin1Char('/') + QString::number(okCount);
    for (const SiteRows &part : batch)
        QCOMPARE(sums(part.site), want);

    // A late reading in an hour already summarised moves only its own site back.
    const qint64 late = thisMonth + 86400000 + 90 * 60000 + 30000;
    QVERIFY(store->addForSites({{QStringLiteral("north"), {{late, 5, {9000}}}, {}}}));
    QVERIFY(summarised());
    QCOMPARE(sums(QStringLiteral("north")), QString::number(okSum + 90, 'f', 2) + QLatin1Char('/') + QString::number(okCount + 1));
    QCOMPARE(sums(batch.last().site), want);

    const auto gone = store->dropMonthsBefore(*retentionCutoffMs(kT0, 1));
    QVERIFY(gone);
    QCOMPARE(*gone, QStringList{monthPartitionName(monthsLaterMs(kT0, -2)).mid(13)});
    store->setSite(QStringLiteral("north"));
    QCOMPARE(store->readingCount(), qint64(2 * 6 * 60 * 2 + 1));
}

QTEST_GUILESS_MAIN(tst_readingstore)
#include "tst_readingstore.moc"
