#include "core/central/MqttPublisher.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QMutexLocker>

#include <mosquitto.h>

#include <chrono>
#include <future>
#include <mutex>

namespace vx {

namespace {
constexpr int kBatchEntries = 200;     // outbox entries (frames, events) read and published at a time
// Messages awaiting acknowledgement before no further batch is read: enough
// that libmosquitto always has the next ones queued behind the broker's
// in-flight window, and well below the 65,535 message ids.
constexpr int kMostUnacked = 4 * kBatchEntries * 19;
constexpr int kAloneBeforeSetAside = 3; // an entry that breaks the connection this often alone is set aside
constexpr int kLongestBackoffMs = 30000;
constexpr int kConnackWaitMs = 5000;

void initialiseLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

QString errorText(int rc)
{
    return rc == MOSQ_ERR_ERRNO ? QString::fromLocal8Bit(std::strerror(errno)) : QString::fromUtf8(mosquitto_strerror(rc));
}
} // namespace

MqttPublisher::MqttPublisher(const MqttSettings &settings, const QString &site, const QString &localStore)
    : m_settings(settings), m_localStore(localStore)
{
    m_topics.prefix = settings.prefix;
    m_topics.site = site;
    m_batchLimit = kBatchEntries;
    if (m_settings.clientId.isEmpty())
        m_settings.clientId = QStringLiteral("vxcollect-") + site;
}

MqttPublisher::~MqttPublisher()
{
    stop(0);
}

bool MqttPublisher::start(QString *why)
{
    initialiseLibrary();
    std::promise<QString> opened;
    std::future<QString> result = opened.get_future();
    m_thread = std::thread([this, &opened] {
        // The store connection belongs to this thread: opened here, used here, closed here.
        QString error;
        const auto location = parseStoreLocation(m_localStore, &error);
        if (location)
            m_store = ReadingStore::open(*location, m_topics.site, &error);
        if (m_store)
            m_initialBacklog = qMax<qint64>(0, m_store->outboxReadings(MqttQueue));
        opened.set_value(m_store ? QString() : error);
        if (m_store)
            run();
        m_store.reset();
    });
    const QString error = result.get();
    if (!error.isEmpty()) {
        m_thread.join();
        *why = error;
        return false;
    }
    return true;
}

void MqttPublisher::requestStop(int drainMs)
{
    if (m_stopAsked)
        return;
    m_drainMs = drainMs;
    m_stopAsked = true;
}

void MqttPublisher::stop(int drainMs)
{
    requestStop(drainMs);
    if (m_thread.joinable())
        m_thread.join();
}

void MqttPublisher::publishRetained(const QByteArray &topic, const QByteArray &payload)
{
    QMutexLocker lock(&m_retainedMutex);
    m_retained.insert(topic, payload);
    m_retainedUnsent.insert(topic, payload);
}

qint64 MqttPublisher::backlog() const
{
    const qint64 queued = m_queued ? m_queued() : 0;
    return qMax<qint64>(0, m_initialBacklog.load() + queued - m_published.load() - m_setAsideReadings.load());
}

void MqttPublisher::report(const QString &key, const QString &line)
{
    const QString said = m_limiter.line(key, line, QDateTime::currentMSecsSinceEpoch());
    if (m_report && !said.isEmpty())
        m_report(said);
}

void MqttPublisher::onConnect(struct mosquitto *, void *self, int rc)
{
    auto *p = static_cast<MqttPublisher *>(self);
    p->m_connectAcked = true;
    p->m_connectResult = rc;
}

void MqttPublisher::onDisconnect(struct mosquitto *, void *self, int)
{
    static_cast<MqttPublisher *>(self)->m_connected = false;
}

void MqttPublisher::onPublish(struct mosquitto *, void *self, int mid)
{
    auto *p = static_cast<MqttPublisher *>(self);
    const auto it = p->m_midBatch.find(mid);
    if (it == p->m_midBatch.end()) {
        p->m_earlyAcks.insert(mid); // inside mosquitto_publish(), before its id was known to us
        return;
    }
    const qint64 sequence = it.value();
    p->m_midBatch.erase(it);
    --p->m_unacked;
    if (sequence >= p->m_firstBatchSequence)
        --p->m_inFlight[size_t(sequence - p->m_firstBatchSequence)].unacked;
}

// Counts a message libmosquitto took against its batch (-1: a retained or status message).
void MqttPublisher::track(int mid, qint64 sequence)
{
    if (m_earlyAcks.remove(mid))
        return;
    m_midBatch.insert(mid, sequence);
    ++m_unacked;
    if (sequence >= 0)
        ++m_inFlight[size_t(sequence - m_firstBatchSequence)].unacked;
}

bool MqttPublisher::connectToBroker(QString *why)
{
    // libmosquitto closes descriptor 0 when it refuses an id (its reinit
    // clears the socket to 0 before checking): never hand it one it refuses.
    const QByteArray id = m_settings.clientId.toUtf8();
    if (id.isEmpty() || id.size() > 65535 || mosquitto_validate_utf8(id.constData(), int(id.size())) != MOSQ_ERR_SUCCESS) {
        *why = QStringLiteral("the client id is not one MQTT allows");
        return false;
    }
    // A fresh client each time: libmosquitto would otherwise send its own
    // queue again on reconnection, beside the outbox's entries.
    m_mosq = mosquitto_new(id.constData(), true, this);
    if (!m_mosq) {
        *why = QStringLiteral("cannot create an MQTT client");
        return false;
    }
    // MQTT 5: the broker says its largest packet, and a message it could never
    // take is refused here, by the library, instead of by a disconnection.
    mosquitto_int_option(m_mosq, MOSQ_OPT_PROTOCOL_VERSION, m_settings.version311 ? MQTT_PROTOCOL_V311 : MQTT_PROTOCOL_V5);
    mosquitto_max_inflight_messages_set(m_mosq, unsigned(qMax(1, m_settings.inflight)));
    mosquitto_connect_callback_set(m_mosq, &MqttPublisher::onConnect);
    mosquitto_disconnect_callback_set(m_mosq, &MqttPublisher::onDisconnect);
    mosquitto_publish_callback_set(m_mosq, &MqttPublisher::onPublish);
    const QByteArray status = m_topics.status();
    int rc = mosquitto_will_set(m_mosq, status.constData(), 7, "offline", m_settings.qos, true);
    if (rc == MOSQ_ERR_SUCCESS && !m_settings.user.isEmpty())
        rc = mosquitto_username_pw_set(m_mosq, m_settings.user.toUtf8().constData(),
                                       m_settings.password.isEmpty() ? nullptr : m_settings.password.toUtf8().constData());
    if (rc == MOSQ_ERR_SUCCESS && !m_settings.caFile.isEmpty())
        rc = mosquitto_tls_set(m_mosq, m_settings.caFile.toLocal8Bit().constData(), nullptr, nullptr, nullptr, nullptr);
    if (rc == MOSQ_ERR_SUCCESS)
        rc = mosquitto_connect(m_mosq, m_settings.host.toUtf8().constData(), m_settings.port, m_settings.keepAliveSeconds);
    m_connectAcked = false;
    m_connectResult = -1;
    QElapsedTimer clock;
    clock.start();
    while (rc == MOSQ_ERR_SUCCESS && !m_connectAcked && clock.elapsed() < kConnackWaitMs && !m_stopAsked)
        rc = mosquitto_loop(m_mosq, 50, 1);
    if (rc != MOSQ_ERR_SUCCESS || m_connectResult != 0) {
        // The broker's own reason first ("Not authorized"), over the library's "refused".
        *why = m_connectAcked && m_connectResult != 0
                   ? QString::fromUtf8(m_settings.version311 ? mosquitto_connack_string(m_connectResult)
                                                             : mosquitto_reason_string(m_connectResult))
               : rc != MOSQ_ERR_SUCCESS               ? errorText(rc)
                                                      : QStringLiteral("no answer to the connection");
        dropConnection();
        return false;
    }
    m_connected = true;
    return true;
}

void MqttPublisher::dropConnection()
{
    if (m_mosq) {
        mosquitto_destroy(m_mosq);
        m_mosq = nullptr;
    }
    m_connected = false;
    // Whatever was not acknowledged goes again from the outbox.
    m_inFlight.clear();
    m_midBatch.clear();
    m_earlyAcks.clear();
    m_unacked = 0;
}

// Sends retained messages: every one after a (re)connection, else those new since.
void MqttPublisher::sendRetained(bool all)
{
    QMap<QByteArray, QByteArray> toSend;
    {
        QMutexLocker lock(&m_retainedMutex);
        toSend = all ? m_retained : m_retainedUnsent;
        m_retainedUnsent.clear();
    }
    if (all)
        toSend.insert(m_topics.status(), QByteArrayLiteral("online"));
    for (auto it = toSend.cbegin(); it != toSend.cend(); ++it) {
        int mid = 0;
        const int rc = mosquitto_publish(m_mosq, &mid, it.key().constData(), int(it.value().size()),
                                         it.value().constData(), m_settings.qos, true);
        if (rc == MOSQ_ERR_SUCCESS) {
            track(mid, -1);
        } else {
            QMutexLocker lock(&m_retainedMutex);
            m_retainedUnsent.insert(it.key(), it.value());
        }
    }
}

// Publishes the outbox's next entries after those in flight; true when there were any.
bool MqttPublisher::shipBatch()
{
    const qint64 after = m_inFlight.empty() ? 0 : m_inFlight.back().lastId;
    const QList<OutboxEntry> entries = m_store->outbox(m_batchLimit, MqttQueue, after);
    if (entries.isEmpty())
        return false;
    m_inFlight.push_back({entries.first().id, entries.last().id, 0, 0});
    const qint64 sequence = m_firstBatchSequence + qint64(m_inFlight.size()) - 1;
    qint64 readings = 0;
    for (const OutboxEntry &entry : entries) {
        if (!entry.isEvent)
            readings += entry.frame.raw.size();
        for (const MqttMessage &m : mqttMessagesFor(entry, m_topics)) {
            // A message the broker can never take is set aside, and the rest goes on.
            const qint64 packet = m.topic.size() + m.payload.size() + 7;
            if (m_learnedTooLarge > 0 && packet >= m_learnedTooLarge) {
                setAside(m, entry, QStringLiteral("larger than the broker took before"));
                continue;
            }
            int mid = 0;
            const int rc = mosquitto_publish(m_mosq, &mid, m.topic.constData(), int(m.payload.size()),
                                             m.payload.constData(), m_settings.qos, m.retain);
            if (rc == MOSQ_ERR_OVERSIZE_PACKET) {
                setAside(m, entry, QStringLiteral("larger than the broker's maximum packet"));
                continue;
            }
            if (rc != MOSQ_ERR_SUCCESS) {
                report(QStringLiteral("publish ") + errorText(rc),
                       QStringLiteral("MQTT broker %1:%2: publishing failed (%3); trying again")
                           .arg(m_settings.host)
                           .arg(m_settings.port)
                           .arg(errorText(rc)));
                batchBroke();
                dropConnection();
                return false;
            }
            track(mid, sequence);
            ++m_messages;
        }
    }
    m_inFlight.back().readings = readings;
    return true;
}

// Reads on while libmosquitto's queue could run dry: batches follow each
// other without waiting for the acknowledgements of those before. While an
// entry that breaks the connection is looked for, one batch at a time.
void MqttPublisher::shipMore()
{
    while (m_connected && (m_inFlight.empty() || (m_batchLimit > 1 && m_unacked < kMostUnacked)) && shipBatch()) {
    }
}

// The outbox lets go of the oldest batches whose every message the broker
// has; a later batch acknowledged first waits for those before it.
void MqttPublisher::completeBatches()
{
    qint64 throughId = -1, readings = 0;
    while (!m_inFlight.empty() && m_inFlight.front().unacked == 0) {
        throughId = m_inFlight.front().lastId;
        readings += m_inFlight.front().readings;
        m_inFlight.pop_front();
        ++m_firstBatchSequence;
        if (throughId >= m_brokenLastId) {
            // Past whatever broke the connection: whole batches again.
            m_batchLimit = kBatchEntries;
            m_brokenFirstId = m_brokenLastId = -1;
            m_brokenTimes = 0;
        }
    }
    if (throughId < 0)
        return;
    if (!m_store->dropOutboxThrough(throughId, MqttQueue))
        report(QStringLiteral("outbox"), QStringLiteral("cannot update the MQTT outbox: %1").arg(m_store->lastError()));
    m_published += readings;
}

// The connection broke while a batch was out: the same batch again and again
// means the broker refuses something in it (an MQTT 3.1.1 broker says so only
// by disconnecting). It then goes an entry at a time; an entry that breaks the
// connection alone, again and again, is set aside, and its largest message's
// size is taken as what this broker refuses.
void MqttPublisher::batchBroke()
{
    if (m_inFlight.empty())
        return;
    if (m_inFlight.front().firstId == m_brokenFirstId) {
        ++m_brokenTimes;
    } else {
        m_brokenFirstId = m_inFlight.front().firstId;
        m_brokenLastId = qMax(m_brokenLastId, m_inFlight.back().lastId);
        m_brokenTimes = 1;
    }
    if (m_brokenTimes >= 2)
        m_batchLimit = 1;
    if (m_batchLimit == 1 && m_brokenTimes >= kAloneBeforeSetAside) {
        const QList<OutboxEntry> alone = m_store->outbox(1, MqttQueue);
        if (!alone.isEmpty() && alone.first().id == m_brokenFirstId) {
            const QList<MqttMessage> messages = mqttMessagesFor(alone.first(), m_topics);
            qint64 largest = 0;
            const MqttMessage *culprit = nullptr;
            for (const MqttMessage &m : messages) {
                const qint64 packet = m.topic.size() + m.payload.size() + 7;
                if (packet > largest) {
                    largest = packet;
                    culprit = &m;
                }
            }
            if (culprit) {
                m_learnedTooLarge = m_learnedTooLarge > 0 ? qMin(m_learnedTooLarge, largest) : largest;
                setAside(*culprit, alone.first(), QStringLiteral("the broker dropped the connection each time (%1 times)")
                                                      .arg(m_brokenTimes));
            }
            m_store->dropOutboxThrough(alone.first().id, MqttQueue);
            if (!alone.first().isEvent)
                m_setAsideReadings += alone.first().frame.raw.size();
        }
        m_brokenFirstId = -1;
        m_brokenTimes = 0;
    }
}

void MqttPublisher::setAside(const MqttMessage &message, const OutboxEntry &entry, const QString &why)
{
    ++m_setAside;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const QString detail = QStringLiteral("MQTT message on %1 (%2 bytes) set aside: %3")
                               .arg(QString::fromUtf8(message.topic))
                               .arg(message.payload.size())
                               .arg(why);
    // Stored where an operator finds it, once a minute for a kind of refusal
    // (with how many since), and queued nowhere: it would be refused again.
    const QString said = m_setAsideEvents.line(why, detail, now);
    if (said.isEmpty())
        return;
    const int address = entry.isEvent ? entry.event.address : entry.frame.address;
    m_store->add({}, {StoreEvent{now, address, QStringLiteral("mqtt_refused"), said}}, 0);
    report(QStringLiteral("set aside ") + why, said);
}

bool MqttPublisher::waitForAcks(int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (m_unacked > 0 && clock.elapsed() < timeoutMs)
        if (mosquitto_loop(m_mosq, 20, 1) != MOSQ_ERR_SUCCESS)
            return false;
    return m_unacked == 0;
}

void MqttPublisher::run()
{
    int backoffMs = 0;
    bool everConnected = false;
    QElapsedTimer clock, draining;
    clock.start();
    qint64 nextAttemptMs = 0;
    const QString broker = QStringLiteral("%1:%2").arg(m_settings.host).arg(m_settings.port);
    auto waitBeforeReconnecting = [&] {
        // A batch that broke the connection waits longer each time, even though
        // connecting itself works at once: otherwise it is a hot loop.
        const int brokenWaitMs = m_brokenTimes > 0 ? qMin(kLongestBackoffMs, 500 << qMin(m_brokenTimes - 1, 6)) : 0;
        nextAttemptMs = clock.elapsed() + brokenWaitMs;
    };
    while (true) {
        if (m_stopAsked) {
            if (!draining.isValid())
                draining.start();
            if (!m_connected || draining.elapsed() >= m_drainMs.load())
                break;
        }
        if (!m_connected) {
            if (clock.elapsed() < nextAttemptMs) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                continue;
            }
            QString why;
            if (!connectToBroker(&why)) {
                backoffMs = backoffMs == 0 ? 1000 : qMin(kLongestBackoffMs, backoffMs * 2);
                nextAttemptMs = clock.elapsed() + backoffMs;
                report(QStringLiteral("unreachable ") + why,
                       QStringLiteral("MQTT broker %1 not reachable (%2); readings wait locally").arg(broker, why));
                continue;
            }
            if (everConnected)
                ++m_reconnections;
            if (everConnected || backoffMs > 0)
                report(QStringLiteral("reached"),
                       QStringLiteral("MQTT broker %1 reached; publishing %2 waiting readings").arg(broker).arg(backlog()));
            everConnected = true;
            backoffMs = 0;
            sendRetained(true);
        }
        const int rc = mosquitto_loop(m_mosq, m_inFlight.empty() ? 50 : 10, 1);
        completeBatches();
        if (rc != MOSQ_ERR_SUCCESS || !m_connected) {
            batchBroke();
            dropConnection();
            waitBeforeReconnecting();
            report(QStringLiteral("lost ") + errorText(rc),
                   QStringLiteral("MQTT broker %1 lost (%2); readings wait locally").arg(broker, errorText(rc)));
            continue;
        }
        sendRetained(false);
        shipMore();
        if (m_stopAsked && m_connected && m_inFlight.empty())
            break; // nothing left to publish
        if (!m_connected)
            waitBeforeReconnecting();
    }
    if (m_connected) {
        // A planned stop says so itself; the will is for the unplanned ones.
        const QByteArray status = m_topics.status();
        int mid = 0;
        if (mosquitto_publish(m_mosq, &mid, status.constData(), 7, "offline", m_settings.qos, true) == MOSQ_ERR_SUCCESS)
            track(mid, -1);
        waitForAcks(1000);
        mosquitto_disconnect(m_mosq);
        mosquitto_loop(m_mosq, 10, 1);
    }
    dropConnection();
}

} // namespace vx
