#pragma once

#include "core/store/ReadingSet.h"
#include "core/store/ReadingStore.h"

#include <QMutex>
#include <QObject>
#include <QThread>

#include <atomic>
#include <mutex>
#include <memory>

namespace vx {

struct StoreSettings {
    QString local;          // the SQLite file every reading is committed to first
    QString central;        // postgresql://... the readings are shipped to; empty: none
    QString site;           // this bus's name in the central store
    int keepDays = 0;       // 0: readings are kept for ever
    bool mqtt = false;      // readings and events also wait in the outbox of an MQTT publisher
    bool notify = false;    // alarm and collector events also wait in the notify outbox
    int flushMs = 1000;     // a batch is committed at least this often...
    int flushRows = 1000;   // ...and as soon as this many readings wait
    int pendingLimit = 1000000; // readings held in memory while the file cannot be written
};

class StoreWriter;
class CentralForwarder;

// The store as the collecting programs use it: add() from any thread costs a
// lock and an append; a thread of its own commits the batches, deletes what
// is past its age, and another ships the outbox to the central store, so a
// slow disk or an unreachable server never holds up the bus or the window.
class StoreService : public QObject {
    Q_OBJECT
public:
    explicit StoreService(const StoreSettings &settings, QObject *parent = nullptr);
    ~StoreService() override;   // stop()

    // Commits what waits, ships what it can within a few seconds, and stops
    // its threads (cutting a central call that hangs). Also done on destruction.
    void stop();

    // Opens the local store (and starts shipping); false and *error when the file cannot be used.
    bool start(QString *error);
    void add(const ReadingSet &frame);
    void addEvent(const StoreEvent &event);
    // Commits what waits now; returns once it is committed (or failed).
    void flush();

    const StoreSettings &settings() const { return m_settings; }
    bool forwarding() const { return !m_settings.central.isEmpty(); }
    // Readings committed locally and not yet in the central store.
    qint64 centralBacklog() const { return m_backlog.load(); }
    bool centralConnected() const { return m_centralConnected.load(); }
    qint64 readingsCommitted() const { return m_committed.load(); }
    qint64 readingsLost() const { return m_lost.load(); }
    // Readings committed into the MQTT outbox since start.
    qint64 readingsQueuedForMqtt() const { return m_mqttQueued.load(); }
    // Readings taken and not yet committed (waiting, being committed, or held through a failure).
    qint64 readingsPending();
    // False from a failed commit until one succeeds again.
    bool writable() const { return m_writable.load(); }

signals:
    // A problem worth one line (said once until it clears), and its clearing.
    void problem(const QString &message);
    void recovered(const QString &message);

private:
    friend class StoreWriter;
    friend class CentralForwarder;
    struct Pending {
        QList<ReadingSet> frames;
        QList<StoreEvent> events;
        qint64 rows = 0;
    };
    Pending takePending();
    void putBack(Pending pending);
    void setCentralSocket(int socket);
    void interruptCentral();

    StoreSettings m_settings;
    QThread m_writerThread, m_forwarderThread;
    StoreWriter *m_writer = nullptr;
    CentralForwarder *m_forwarder = nullptr;
    QMutex m_mutex;
    Pending m_pending;
    bool m_flushAsked = false;
    std::atomic<qint64> m_backlog{0};
    std::atomic<bool> m_centralConnected{false};
    std::atomic<qint64> m_committed{0};
    std::atomic<qint64> m_lost{0};
    std::atomic<qint64> m_mqttQueued{0};
    std::atomic<bool> m_writable{true};
    std::atomic<qint64> m_inHand{0}; // taken by the writer and not yet committed
    std::atomic<bool> m_stopping{false};
    std::mutex m_socketMutex;
    int m_centralSocket = -1;        // the forwarder's central connection, for interruptCentral()
};

} // namespace vx
