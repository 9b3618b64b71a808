// vxingest's rates and delay, into PostgreSQL with fsync on. Prints; asserts nothing.
//   bench_ingest [FRAMES]   (18 readings a frame; 10 depots x 4 addresses)
// 1. a broker queue of FRAMES frames filled for one ingester's session while it
//    was away, then taken: readings/s;
// 2. the same for two ingesters sharing the subscription (the broker splits the queue);
// 3. live: the fleet's rate of 10,000 depots (600 frames, 10,800 readings a
//    second) for LIVE_SECONDS (20), each reading's time the moment it was
//    published: delay from reading to committed central row, median and p95.
#include "MqttBroker.h"
#include "PgServer.h"
#include "core/central/Ingest.h"
#include "core/central/MqttMessages.h"
#include "core/store/StoreLocation.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QMutex>
#include <QSqlDatabase>
#include <QSqlQuery>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <thread>

using namespace vx;

namespace {

constexpr int kSites = 10, kAddresses = 4;

// One mosquitto_pub -l a topic (a depot's address), fed line by line.
class Publishers {
public:
    explicit Publishers(int port)
    {
        for (int site = 1; site <= kSites; ++site)
            for (int address = 1; address <= kAddresses; ++address)
                m_pipes.push_back(popen(QStringLiteral("mosquitto_pub -h 127.0.0.1 -p %1 -q 1 -t vxmon/depot%2/%3 -l")
                                            .arg(port).arg(site).arg(address).toUtf8().constData(),
                                        "w"));
    }
    ~Publishers() { close(); }
    // Frame n goes to topic n % 40, its address that topic's.
    void send(int n, qint64 timeMs)
    {
        const int topic = n % int(m_pipes.size());
        QList<quint16> raw;
        for (int k = 0; k < 18; ++k)
            raw.append(quint16(2000 + (n + k) % 300));
        const QByteArray line = framePayload({timeMs, topic % kAddresses + 1, raw}) + '\n';
        std::fwrite(line.constData(), 1, size_t(line.size()), m_pipes[size_t(topic)]);
    }
    void flush()
    {
        for (FILE *p : m_pipes)
            std::fflush(p);
    }
    void close()
    {
        for (FILE *p : m_pipes)
            pclose(p);
        m_pipes.clear();
    }

private:
    std::vector<FILE *> m_pipes;
};

// Each phase its own group: a session of an earlier phase, gone but not
// expired, would keep taking its share of the group's messages.
IngestSettings settingsFor(const MqttBroker &broker, const QString &central, const QByteArray &id, const QString &group)
{
    IngestSettings s;
    s.group = group;
    s.broker.port = broker.port();
    s.broker.connect.clientId = id;
    s.broker.connect.receiveMaximum = 65535;
    s.central = central;
    return s;
}

// A session that exists, so the broker keeps what comes while its ingester is away.
bool makeSession(const IngestSettings &s)
{
    MqttConsumer session(s.broker);
    QString why;
    if (!session.connectToBroker(5000, &why)
        || !session.subscribe(QStringLiteral("$share/%1/vxmon/+/+").arg(s.group).toUtf8(), 1, 5000, &why)) {
        std::printf("cannot subscribe: %s\n", qPrintable(why));
        return false;
    }
    session.disconnect();
    return true;
}

// The readings' partitions with their index, as the ingester wrote them.
void printStorage(const QString &central)
{
    QString why;
    const auto at = parseStoreLocation(central, &why);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("size"));
        db.setHostName(at->host);
        db.setPort(at->port);
        db.setDatabaseName(at->database);
        db.setUserName(at->user);
        QSqlQuery q(db);
        if (db.open() && q.exec(QStringLiteral("VACUUM ANALYZE reading_rows"))
            && q.exec(QStringLiteral("SELECT sum(pg_total_relation_size(inhrelid)), (SELECT count(*) FROM reading_rows), "
                                     "sum(pg_relation_size(inhrelid)), sum(pg_indexes_size(inhrelid)) "
                                     "FROM pg_inherits WHERE inhparent = 'reading_rows'::regclass"))
            && q.next()) {
            const double million = q.value(1).toDouble() / 1e6;
            std::printf("central storage: %.1f MB per million readings (table %.1f, index %.1f; %lld readings)\n",
                        q.value(0).toDouble() / 1e6 / million, q.value(2).toDouble() / 1e6 / million,
                        q.value(3).toDouble() / 1e6 / million, q.value(1).toLongLong());
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("size"));
}

// The queue filled, then taken by `count` ingesters: readings/s.
void queued(PgServer &pg, const MqttBroker &broker, int frames, int count)
{
    const QString central = pg.createDatabase();
    std::vector<std::unique_ptr<Ingester>> ingesters;
    for (int k = 0; k < count; ++k) {
        const IngestSettings s = settingsFor(broker, central, QStringLiteral("bench-ingest-%1-%2").arg(count).arg(k).toUtf8(),
                                               QStringLiteral("queued%1").arg(count));
        if (!makeSession(s))
            return;
        ingesters.push_back(std::make_unique<Ingester>(s));
    }
    const qint64 t0 = QDateTime::currentMSecsSinceEpoch() - qint64(frames) * 1000;
    {
        Publishers publish(broker.port());
        for (int f = 0; f < frames; ++f)
            publish.send(f, t0 + f * 1000 / 40);
    }
    const qint64 readings = qint64(frames) * 18;
    std::printf("== %d frames (%lld readings, %d depots) queued at the broker for %d ingester%s\n", frames, readings,
                kSites, count, count > 1 ? "s" : "");
    std::fflush(stdout);
    QElapsedTimer clock;
    clock.start();
    std::vector<std::thread> workers;
    for (auto &i : ingesters)
        workers.emplace_back([&i] { i->run([](const QString &) {}); });
    const auto stored = [&] {
        qint64 sum = 0;
        for (auto &i : ingesters)
            sum += i->readings();
        return sum;
    };
    qint64 last = -1;
    QElapsedTimer still;
    still.start();
    // Until all are in, or nothing moved for 20 s.
    while (stored() < readings && still.elapsed() < 20000) {
        if (stored() != last) {
            last = stored();
            still.start();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const double seconds = clock.nsecsElapsed() / 1e9;
    for (auto &i : ingesters)
        i->stop();
    for (std::thread &w : workers)
        w.join();
    QString shares;
    for (auto &i : ingesters)
        shares += QStringLiteral(" %1").arg(i->readings());
    std::printf("readings/s stored %.0f (%lld in %.2f s; each ingester's:%s; batches of 5,000 readings or 1 s, COPY)\n",
                double(stored()) / seconds, stored(), seconds, qPrintable(shares));
    if (count == 1)
        printStorage(central);
}

// The fleet's rate, live: the delay of each frame from its time to its commit.
void live(PgServer &pg, const MqttBroker &broker, int seconds)
{
    const IngestSettings s = settingsFor(broker, pg.createDatabase(), "bench-ingest-live", QStringLiteral("live"));
    Ingester ingester(s);
    QMutex mutex;
    QList<qint64> delays;
    ingester.onCommitted([&](const QList<IngestItem> &items) {
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        QMutexLocker lock(&mutex);
        for (const IngestItem &i : items)
            if (i.kind == IngestItem::Kind::Frame)
                delays << now - i.frame.timeMs;
    });
    std::thread worker([&] { ingester.run([](const QString &) {}); });
    while (!ingester.stats().brokerConnected)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    Publishers publish(broker.port());
    constexpr int kPerSecond = 600; // 10,000 depots' 10,800 readings/s, in frames of 18
    QElapsedTimer clock;
    clock.start();
    int sent = 0;
    while (clock.elapsed() < seconds * 1000LL) {
        const int due = int(clock.elapsed() * kPerSecond / 1000);
        for (; sent < due; ++sent)
            publish.send(sent, QDateTime::currentMSecsSinceEpoch());
        publish.flush();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    publish.close();
    const qint64 wanted = qint64(sent) * 18;
    QElapsedTimer drain;
    drain.start();
    while (ingester.readings() < wanted && drain.elapsed() < 30000)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ingester.stop();
    worker.join();
    QMutexLocker lock(&mutex);
    std::sort(delays.begin(), delays.end());
    if (delays.isEmpty()) {
        std::printf("live: nothing committed\n");
        return;
    }
    const auto at = [&](double q) { return delays[qMin(qsizetype(q * delays.size()), delays.size() - 1)] / 1000.0; };
    std::printf("== live, %d frames/s (%d readings/s) for %d s, batches of 5,000 readings or 1 s\n", kPerSecond,
                kPerSecond * 18, seconds);
    std::printf("reading -> central row: median %.2f s, p95 %.2f s, max %.2f s (%lld frames of %d committed)\n", at(0.5),
                at(0.95), delays.last() / 1000.0, qint64(delays.size()), sent);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int frames = argc > 1 && std::atoi(argv[1]) > 0 ? std::atoi(argv[1]) : 20000;
    PgServer pg;
    pg.setDurable(true);
    MqttBroker broker;
    if (!pg.start() || !broker.start()) {
        std::printf("not measured: %s%s\n", qPrintable(pg.why()), qPrintable(broker.why()));
        return 1;
    }
    queued(pg, broker, frames, 1);
    queued(pg, broker, frames, 2);
    live(pg, broker, qEnvironmentVariableIntValue("LIVE_SECONDS") > 0 ? qEnvironmentVariableIntValue("LIVE_SECONDS") : 20);
    return 0;
}
