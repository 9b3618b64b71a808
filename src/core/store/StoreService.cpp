#include "core/store/StoreService.h"

#include "core/records/ReportLimiter.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QSysInfo>
#include <QElapsedTimer>
#include <QMutexLocker>
#include <QTimer>

#include <condition_variable>
#include <mutex>
#include <thread>

#include <sys/socket.h>

namespace vx {

namespace {
constexpr int kShipEntries = 500;
constexpr qint64 kCommitChunkRows = 2000; // readings one local transaction carries at most       // outbox entries a central transaction carries
constexpr int kRetentionBatch = 2000;   // readings one retention step deletes
constexpr int kRetentionEveryMs = 10000;
constexpr int kLongestBackoffMs = 30000;
constexpr int kStopDeadlineMs = 3000;   // a stop ends the central shipping by then
constexpr int kSummariseEveryMs = 5 * 60 * 1000;
constexpr int kSummariseBudgetMs = 100;
} // namespace

// Lives in the writer thread: commits batches, runs retention.
class StoreWriter : public QObject {
public:
    explicit StoreWriter(StoreService &service) : m_service(service) {}

    bool open(QString *error)
    {
        QString why;
        const auto location = parseStoreLocation(m_service.m_settings.local, &why);
        if (location)
            m_store = ReadingStore::open(*location, m_service.m_settings.site, &why);
        if (!m_store) {
            *error = why;
            return false;
        }
        // Created here, in the writer's thread, as its children.
        m_timer = new QTimer(this);
        m_timer->setTimerType(Qt::PreciseTimer);
        QObject::connect(m_timer, &QTimer::timeout, this, [this] { commit(); });
        m_timer->start(m_service.m_settings.flushMs);
        // The hourly summaries charts read, kept up beside collection.
        m_summaries = new QTimer(this);
        QObject::connect(m_summaries, &QTimer::timeout, this, [this] { summarise(); });
        m_summaries->start(kSummariseEveryMs);
        if (m_service.m_settings.keepDays > 0) {
            m_retention = new QTimer(this);
            QObject::connect(m_retention, &QTimer::timeout, this, [this] { retain(); });
            m_retention->start(kRetentionEveryMs);
        }
        return true;
    }

    void commit()
    {
        StoreService::Pending pending = m_service.takePending();
        if (pending.frames.isEmpty() && pending.events.isEmpty())
            return;
        // A backlog held through a full disk goes in small transactions: a
        // little freed space lets some commit at once (one big one would need
        // room for all of it), and leaves room for the text logs.
        const qint64 held = pending.rows;
        while (!pending.frames.isEmpty() || !pending.events.isEmpty()) {
            StoreService::Pending chunk;
            chunk.events = std::move(pending.events);
            pending.events.clear();
            while (!pending.frames.isEmpty() && (chunk.rows == 0 || chunk.rows + pending.frames.first().raw.size() <= kCommitChunkRows)) {
                chunk.rows += pending.frames.first().raw.size();
                chunk.frames.append(pending.frames.takeFirst());
            }
            pending.rows -= chunk.rows;
            if (!commitChunk(chunk)) {
                chunk.frames += pending.frames;
                chunk.rows += pending.rows;
                m_service.m_inHand = 0;
                m_service.putBack(std::move(chunk));
                return;
            }
            m_service.m_inHand = pending.rows;
        }
        m_service.m_inHand = 0;
        if (m_failing) {
            m_failing = false;
            emit m_service.recovered(QStringLiteral("the store %1 is writable again; %2 held readings committed")
                                         .arg(m_service.m_settings.local)
                                         .arg(held));
        }
    }

    bool commitChunk(const StoreService::Pending &chunk)
    {
        const int queues = (m_service.forwarding() ? CentralQueue : 0) | (m_service.m_settings.mqtt ? MqttQueue : 0)
                           | (m_service.m_settings.notify ? NotifyQueue : 0);
        if (m_store->add(chunk.frames, chunk.events, queues)) {
            m_service.m_committed += chunk.rows;
            if (m_service.forwarding())
                m_service.m_backlog += chunk.rows;
            if (m_service.m_settings.mqtt)
                m_service.m_mqttQueued += chunk.rows;
            m_service.m_writable = true;
            return true;
        }
        m_service.m_writable = false;
        if (!m_failing) {
            m_failing = true;
            emit m_service.problem(QStringLiteral("cannot write the store %1: %2; readings are held in memory")
                                       .arg(m_service.m_settings.local, m_store->lastError()));
        }
        return false;
    }

    // A little at a time: a commit never waits more than a step for it.
    void summarise()
    {
        const auto done = m_store->summariseHours(QDateTime::currentMSecsSinceEpoch(), kSummariseBudgetMs);
        if (done && !*done)
            QTimer::singleShot(kSummariseBudgetMs, this, [this] { summarise(); });
    }

    void retain()
    {
        // One small batch at a time: the commit timer gets its turn between them.
        const qint64 cutoff = QDateTime::currentMSecsSinceEpoch() - qint64(m_service.m_settings.keepDays) * 86400000;
        const int deleted = m_store->deleteReadingsBefore(cutoff, kRetentionBatch);
        if (deleted == kRetentionBatch)
            QTimer::singleShot(0, this, [this] { retain(); });
    }

    void close()
    {
        delete m_timer;
        delete m_retention;
        delete m_summaries;
        m_timer = m_retention = m_summaries = nullptr;
        if (m_store)
            commit();
        m_store.reset();
    }

private:
    StoreService &m_service;
    std::unique_ptr<ReadingStore> m_store;
    QTimer *m_timer = nullptr;
    QTimer *m_retention = nullptr;
    QTimer *m_summaries = nullptr;
    bool m_failing = false;
};

// Lives in the forwarder thread: ships the outbox, oldest first, and drops
// what the central store has committed. A batch shipped twice (a crash
// between the two commits) is harmless: the central key skips it.
class CentralForwarder : public QObject {
public:
    explicit CentralForwarder(StoreService &service) : m_service(service) {}

    bool open(QString *error)
    {
        QString why;
        const auto local = parseStoreLocation(m_service.m_settings.local, &why);
        if (local)
            m_local = ReadingStore::open(*local, m_service.m_settings.site, &why);
        const auto central = parseStoreLocation(m_service.m_settings.central, &why);
        if (!m_local || !central || central->engine != StoreLocation::Engine::PostgreSQL) {
            *error = central && central->engine != StoreLocation::Engine::PostgreSQL
                         ? QStringLiteral("the central store must be a postgresql:// URL")
                         : why;
            return false;
        }
        m_centralLocation = *central;
        m_service.m_backlog = qMax<qint64>(0, m_local->outboxReadings());
        m_timer = new QTimer(this);
        m_timer->setSingleShot(true);
        QObject::connect(m_timer, &QTimer::timeout, this, [this] { ship(); });
        m_timer->start(0);
        return true;
    }

    void ship()
    {
        if (m_service.m_stopping)
            return;
        if (!m_central && !connectCentral())
            return;
        const QList<OutboxEntry> entries = m_local->outbox(kShipEntries);
        if (entries.isEmpty()) {
            m_timer->start(200);
            return;
        }
        if (!shipEntries(entries)) {
            // Not dropped locally: shipped again later (skipped there if it got in).
            retryLater(QStringLiteral("central store %1: %2; readings wait locally")
                           .arg(m_centralLocation.display(), m_lastError));
            return;
        }
        if (m_failures > 0) {
            m_failures = 0;
            m_reports.clear();
            emit m_service.recovered(QStringLiteral("central store %1: shipping again, %2 readings waiting")
                                         .arg(m_centralLocation.display())
                                         .arg(m_service.m_backlog.load()));
        }
        m_timer->start(entries.size() == kShipEntries ? 0 : 200);
    }

    // One central transaction, then the local outbox drops what it holds.
    bool shipEntries(const QList<OutboxEntry> &entries)
    {
        QList<ReadingSet> frames;
        QList<StoreEvent> events;
        qint64 rows = 0;
        for (const OutboxEntry &e : entries) {
            if (e.isEvent) {
                events.append(e.event);
            } else {
                frames.append(e.frame);
                rows += e.frame.raw.size();
            }
        }
        if (!m_central->add(frames, events)) {
            m_lastError = m_central->lastError();
            disconnectCentral(); // a fresh connection next time: the failure may have been the link's
            return false;
        }
        if (!m_local->dropOutboxThrough(entries.last().id)) {
            m_lastError = QStringLiteral("the local outbox: %1").arg(m_local->lastError());
            return false;
        }
        m_service.m_backlog -= rows;
        return true;
    }

    // What the last commit queued goes too, while the server answers and
    // within the stop's deadline; a server that is away is not waited for.
    void close(qint64 deadlineMs)
    {
        delete m_timer;
        m_timer = nullptr;
        QElapsedTimer clock;
        clock.start();
        while (m_central && m_local && m_service.m_backlog.load() > 0 && clock.elapsed() < deadlineMs) {
            const QList<OutboxEntry> entries = m_local->outbox(kShipEntries);
            if (entries.isEmpty() || !shipEntries(entries))
                break;
        }
        disconnectCentral();
        m_local.reset();
    }

private:
    bool connectCentral()
    {
        QString why;
        auto central = ReadingStore::open(m_centralLocation, m_service.m_settings.site, &why);
        if (!central) {
            retryLater(QStringLiteral("central store %1 not reachable (%2); readings wait locally")
                           .arg(m_centralLocation.display(), why.trimmed()));
            return false;
        }
        m_central = std::move(central);
        m_service.setCentralSocket(m_central->connectionSocket());
        m_service.m_centralConnected = true;
        return true;
    }

    void disconnectCentral()
    {
        m_service.setCentralSocket(-1); // before the socket closes: its number may be reused
        m_central.reset();
        m_service.m_centralConnected = false;
    }

    // Each distinct problem is said once a minute at most; the wait grows
    // with each failure in a row, whether connecting or shipping failed.
    void retryLater(const QString &line)
    {
        ++m_failures;
        const int waitMs = qMin(kLongestBackoffMs, 1000 << qMin(m_failures - 1, 5));
        const QString said = m_reports.line(line, line, QDateTime::currentMSecsSinceEpoch());
        if (!said.isEmpty())
            emit m_service.problem(said);
        if (m_timer)
            m_timer->start(waitMs);
    }

    StoreService &m_service;
    StoreLocation m_centralLocation;
    std::unique_ptr<ReadingStore> m_local, m_central;
    QTimer *m_timer = nullptr;
    QString m_lastError;
    int m_failures = 0;
    ReportLimiter m_reports;
};

StoreService::StoreService(const StoreSettings &settings, QObject *parent) : QObject(parent), m_settings(settings)
{
    m_writerThread.setObjectName(QStringLiteral("store writer"));
    m_forwarderThread.setObjectName(QStringLiteral("store forwarder"));
}

StoreService::~StoreService()
{
    stop();
}

void StoreService::stop()
{
    m_stopping = true;
    if (m_writer) {
        QMetaObject::invokeMethod(m_writer, [this] { m_writer->close(); }, Qt::BlockingQueuedConnection);
        m_writerThread.quit();
        m_writerThread.wait();
        delete m_writer;
        m_writer = nullptr;
    }
    if (m_forwarder) {
        // A central call that hangs (a stalled server or proxy, a lock) is cut
        // at the deadline: a stop never outlasts a service manager's patience.
        std::mutex doneMutex;
        std::condition_variable doneSignal;
        bool done = false;
        std::thread watchdog([&] {
            std::unique_lock<std::mutex> lock(doneMutex);
            if (!doneSignal.wait_for(lock, std::chrono::milliseconds(kStopDeadlineMs), [&] { return done; }))
                interruptCentral();
        });
        QMetaObject::invokeMethod(m_forwarder, [this] { m_forwarder->close(kStopDeadlineMs - 500); },
                                  Qt::BlockingQueuedConnection);
        {
            std::lock_guard<std::mutex> lock(doneMutex);
            done = true;
        }
        doneSignal.notify_all();
        watchdog.join();
        m_forwarderThread.quit();
        m_forwarderThread.wait();
        delete m_forwarder;
        m_forwarder = nullptr;
    }
}

void StoreService::setCentralSocket(int socket)
{
    std::lock_guard<std::mutex> lock(m_socketMutex);
    m_centralSocket = socket;
}

void StoreService::interruptCentral()
{
    std::lock_guard<std::mutex> lock(m_socketMutex);
    // The blocked call sees its connection end and returns; the descriptor stays its owner's to close.
    if (m_centralSocket >= 0)
        ::shutdown(m_centralSocket, SHUT_RDWR);
}

bool StoreService::start(QString *error)
{
    m_writer = new StoreWriter(*this);
    m_writer->moveToThread(&m_writerThread);
    m_writerThread.start();
    bool opened = false;
    QMetaObject::invokeMethod(m_writer, [&] { opened = m_writer->open(error); }, Qt::BlockingQueuedConnection);
    if (!opened)
        return false;
    if (forwarding()) {
        m_forwarder = new CentralForwarder(*this);
        m_forwarder->moveToThread(&m_forwarderThread);
        m_forwarderThread.start();
        QMetaObject::invokeMethod(m_forwarder, [&] { opened = m_forwarder->open(error); },
                                  Qt::BlockingQueuedConnection);
    }
    return opened;
}

void StoreService::add(const ReadingSet &frame)
{
    QMutexLocker lock(&m_mutex);
    m_pending.frames.append(frame);
    m_pending.rows += frame.raw.size();
    if (m_pending.rows >= m_settings.flushRows && !m_flushAsked && m_writer) {
        m_flushAsked = true;
        QMetaObject::invokeMethod(m_writer, [this] { m_writer->commit(); }, Qt::QueuedConnection);
    }
}

qint64 StoreService::readingsPending()
{
    QMutexLocker lock(&m_mutex);
    return m_pending.rows + m_inHand.load();
}

void StoreService::addEvent(const StoreEvent &event)
{
    QMutexLocker lock(&m_mutex);
    m_pending.events.append(event);
}

void StoreService::flush()
{
    if (m_writer)
        QMetaObject::invokeMethod(m_writer, [this] { m_writer->commit(); }, Qt::BlockingQueuedConnection);
}

StoreService::Pending StoreService::takePending()
{
    QMutexLocker lock(&m_mutex);
    m_flushAsked = false;
    Pending taken = std::move(m_pending);
    m_pending = Pending();
    m_inHand = taken.rows; // still held until committed: the gauge counts them
    return taken;
}

void StoreService::putBack(Pending pending)
{
    QMutexLocker lock(&m_mutex);
    // The held batch goes in front of what came since; past the limit the
    // oldest frames go, counted.
    pending.frames += m_pending.frames;
    pending.events += m_pending.events;
    pending.rows += m_pending.rows;
    while (pending.rows > m_settings.pendingLimit && !pending.frames.isEmpty()) {
        const qint64 n = pending.frames.first().raw.size();
        pending.rows -= n;
        m_lost += n;
        pending.frames.removeFirst();
    }
    m_pending = std::move(pending);
}

} // namespace vx
