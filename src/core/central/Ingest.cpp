#include "core/central/Ingest.h"

#include "core/depot/Depot.h"

#include "core/records/ReportLimiter.h"
#include "core/store/ReadingMonths.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>

#include <cmath>
#include <thread>

namespace vx {

namespace {
constexpr int kLargestPayload = 1 << 20;
constexpr int kMostPoints = 64;

std::optional<IngestItem> refuse(QString *why, const char *kind)
{
    *why = QString::fromLatin1(kind);
    return std::nullopt;
}

qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}
} // namespace

std::optional<IngestItem> ingestItemFrom(const QByteArray &topic, const QByteArray &payload, const QString &prefix,
                                         QString *why)
{
    const QList<QByteArray> levels = topic.split('/');
    if (levels.size() != 3 || levels[0] != prefix.toUtf8() || levels[1].isEmpty())
        return refuse(why, "a topic that is not a collector's frame, alarm or status");
    IngestItem item;
    item.site = QString::fromUtf8(levels[1]);
    if (levels[2] == "status")
        return item; // online/offline: the collector's own business
    if (payload.size() > kLargestPayload)
        return refuse(why, "a payload over 1 MB");
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(payload, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return refuse(why, "a payload that is not a JSON object");
    const QJsonObject o = doc.object();
    const QDateTime time = QDateTime::fromString(o.value(QLatin1String("time")).toString(), Qt::ISODateWithMs);
    if (!time.isValid())
        return refuse(why, "no valid time");
    if (levels[2] == "alarms") {
        const QString state = o.value(QLatin1String("state")).toString();
        const int cable = o.value(QLatin1String("cable")).toInt(-1);
        if (state.isEmpty() || cable < 0 || cable > 65535)
            return refuse(why, "an alarm without its state or cable");
        item.kind = IngestItem::Kind::Alarm;
        QJsonObject data;
        for (const char *key : {"rule", "priority", "value", "layer", "limit", "points"})
            if (o.contains(QLatin1String(key)))
                data.insert(QLatin1String(key), o.value(QLatin1String(key)));
        item.event = {time.toMSecsSinceEpoch(), cable, QStringLiteral("alarm_") + state,
                      o.value(QLatin1String("text")).toString(),
                      data.isEmpty() ? QByteArray() : QJsonDocument(data).toJson(QJsonDocument::Compact)};
        return item;
    }
    bool numeric = false;
    const int address = levels[2].toInt(&numeric);
    if (!numeric || !validDeviceKey(address)) // bus n's devices are (n - 1) * 1000 + address
        return refuse(why, "an address outside 1-247 (on bus n: (n - 1) * 1000 + 1-247)");
    const QJsonArray raw = o.value(QLatin1String("raw")).toArray();
    if (raw.isEmpty() || raw.size() > kMostPoints)
        return refuse(why, "a frame without its raw values");
    item.kind = IngestItem::Kind::Frame;
    item.frame.timeMs = time.toMSecsSinceEpoch();
    item.frame.address = address;
    for (const QJsonValue &v : raw) {
        const double d = v.toDouble(-1);
        if (!v.isDouble() || d < 0 || d > 65535 || d != std::floor(d))
            return refuse(why, "raw values of the wrong type");
        item.frame.raw.append(quint16(d));
    }
    return item;
}

QByteArray ingestMetricsText(const IngestStats &s, qint64 nowMs)
{
    QByteArray out;
    const auto metric = [&out](const char *name, const char *type, const char *help, const QByteArray &lines) {
        out += QByteArray("# HELP ") + name + ' ' + help + "\n# TYPE " + name + ' ' + type + '\n' + lines;
    };
    const auto value = [](const char *name, double v) { return QByteArray(name) + ' ' + QByteArray::number(v, 'g', 15) + '\n'; };
    metric("vxingest_messages_total", "counter", "Messages taken from the broker.", value("vxingest_messages_total", s.messages));
    metric("vxingest_readings_total", "counter", "Readings committed centrally.", value("vxingest_readings_total", s.readings));
    metric("vxingest_refused_total", "counter", "Messages that could not be stored (malformed).",
           value("vxingest_refused_total", s.refused));
    metric("vxingest_duplicates_total", "counter", "Readings delivered again and skipped (already stored).",
           value("vxingest_duplicates_total", s.duplicates));
    metric("vxingest_batches_total", "counter", "Batches committed.", value("vxingest_batches_total", s.batches));
    metric("vxingest_commit_failures_total", "counter", "Batch commits that failed (the batch waits and is tried again).",
           value("vxingest_commit_failures_total", s.commitFailures));
    metric("vxingest_batch_readings", "gauge", "Readings in the last batch committed.",
           value("vxingest_batch_readings", s.lastBatchReadings));
    metric("vxingest_commit_seconds", "gauge", "Time the last batch took to commit.",
           value("vxingest_commit_seconds", s.lastCommitSeconds));
    metric("vxingest_broker_up", "gauge", "1 while connected and subscribed.", value("vxingest_broker_up", s.brokerConnected));
    metric("vxingest_database_up", "gauge", "1 while the last commit worked.", value("vxingest_database_up", s.databaseOk));
    QStringList sites = s.newestCommittedMs.keys();
    sites.sort();
    QByteArray lag;
    for (const QString &site : sites) {
        QString label = site;
        label.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('"'), QLatin1String("\\\""))
            .replace(QLatin1Char('\n'), QLatin1String("\\n"));
        lag += "vxingest_lag_seconds{site=\"" + label.toUtf8() + "\"} "
               + QByteArray::number((nowMs - s.newestCommittedMs.value(site)) / 1000.0, 'f', 3) + '\n';
    }
    metric("vxingest_lag_seconds", "gauge", "Now minus the newest committed reading's time, per site.", lag);
    return out;
}

HttpResponse ingestHealth(const IngestStats &s)
{
    if (!s.brokerConnected)
        return HttpResponse::text(503, "broker not connected\n");
    if (!s.databaseOk)
        return HttpResponse::text(503, "central store: " + s.databaseProblem.toUtf8() + '\n');
    return HttpResponse::text(200, "ok\n");
}

Ingester::Ingester(IngestSettings settings) : m_settings(std::move(settings)) {}

IngestStats Ingester::stats() const
{
    QMutexLocker lock(&m_statsMutex);
    IngestStats s = m_stats;
    s.messages = m_messages;
    s.readings = m_readings;
    s.refused = m_refused;
    return s;
}

// The whole batch, every site's rows, in one transaction; a failure leaves
// the batch unacknowledged, and nothing of it committed.
bool Ingester::openStore(QString *why)
{
    if (m_store)
        return true;
    const auto location = parseStoreLocation(m_settings.central, why);
    if (!location)
        return false;
    m_store = ReadingStore::open(*location, QString(), why);
    return m_store != nullptr;
}

bool Ingester::upkeep(const std::function<void(const QString &)> &say, QString *why)
{
    if (!openStore(why))
        return false;
    const qint64 now = nowMs();
    const auto fail = [&] {
        *why = m_store->lastError();
        m_store.reset();
        return false;
    };
    if (!m_store->prepareMonths(now, 1))
        return fail();
    if (const auto cutoff = retentionCutoffMs(now, m_settings.keepMonths)) {
        const auto gone = m_store->dropMonthsBefore(*cutoff);
        if (!gone)
            return fail();
        if (!gone->isEmpty())
            say(QStringLiteral("dropped the readings of %1 (older than %2 months)")
                    .arg(gone->join(QStringLiteral(", ")))
                    .arg(m_settings.keepMonths));
    }
    // A share of each minute: a long backlog (a migrated store) is worked off
    // over several, and the messages never wait long.
    if (!m_store->summariseAllSites(now, 2000))
        return fail();
    return true;
}

bool Ingester::commit(const QList<IngestItem> &items, QString *why)
{
    if (!openStore(why))
        return false;
    QElapsedTimer clock;
    clock.start();
    QMap<QString, SiteRows> bySite;
    QHash<QString, qint64> newest;
    qint64 readings = 0;
    for (const IngestItem &item : items) {
        SiteRows &rows = bySite[item.site];
        rows.site = item.site;
        if (item.kind == IngestItem::Kind::Frame) {
            rows.frames.append(item.frame);
            readings += item.frame.raw.size();
            newest[item.site] = qMax(newest.value(item.site), item.frame.timeMs);
        } else {
            rows.events.append(item.event);
        }
    }
    if (!m_store->addForSites(bySite.values())) {
        *why = m_store->lastError();
        m_store.reset(); // a fresh connection next time: the failure may have been the link's
        QMutexLocker lock(&m_statsMutex);
        ++m_stats.commitFailures;
        m_stats.databaseOk = false;
        m_stats.databaseProblem = *why;
        return false;
    }
    const qint64 added = m_store->lastAdded();
    m_readings += readings;
    QMutexLocker lock(&m_statsMutex);
    ++m_stats.batches;
    m_stats.duplicates += readings - added;
    m_stats.lastBatchReadings = readings;
    m_stats.lastCommitSeconds = clock.nsecsElapsed() / 1e9;
    m_stats.databaseOk = true;
    m_stats.databaseProblem.clear();
    for (auto it = newest.cbegin(); it != newest.cend(); ++it)
        m_stats.newestCommittedMs[it.key()] = qMax(m_stats.newestCommittedMs.value(it.key()), it.value());
    lock.unlock();
    if (m_committed)
        m_committed(items);
    return true;
}

void Ingester::run(const std::function<void(const QString &)> &say)
{
    const QString broker = QStringLiteral("%1:%2").arg(m_settings.broker.host).arg(m_settings.broker.port);
    const QByteArray filter = QStringLiteral("$share/%1/%2/+/+").arg(m_settings.group, m_settings.prefix).toUtf8();
    MqttConsumer consumer(m_settings.broker);
    QList<IngestItem> batch;
    QList<quint16> ids;
    qint64 batchReadings = 0, batchStartMs = -1;
    QString why;
    ReportLimiter reports; // each distinct problem once a minute at most
    bool troubled = false;
    const auto problem = [&](const QString &key, const QString &line) {
        troubled = true;
        const QString said = reports.line(key, line, nowMs());
        if (!said.isEmpty())
            say(said);
    };
    const auto pause = [this](int ms) {
        for (int waited = 0; waited < ms && !m_stop; waited += 50)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    };
    const auto setConnected = [this](bool up) {
        QMutexLocker lock(&m_statsMutex);
        m_stats.brokerConnected = up;
    };
    const auto take = [&](const QList<mqttwire::Delivery> &got) {
        for (const mqttwire::Delivery &d : got) {
            ++m_messages;
            if (d.packetId)
                ids.append(d.packetId);
            if (batchStartMs < 0)
                batchStartMs = nowMs();
            QString bad;
            const std::optional<IngestItem> item = ingestItemFrom(d.topic, d.payload, m_settings.prefix, &bad);
            if (!item) {
                ++m_refused;
                if (m_refusedByKind[bad]++ == 0)
                    say(QStringLiteral("refused %1 (on %2); such messages are counted, never stored")
                            .arg(bad, QString::fromUtf8(d.topic.left(200))));
                continue;
            }
            if (item->kind == IngestItem::Kind::Ignored)
                continue;
            batchReadings += item->frame.raw.size();
            batch.append(*item);
        }
    };
    int backoffMs = 0;
    qint64 lastStatusMs = nowMs(), lastUpkeepMs = -1;
    while (!m_stop) {
        if (lastUpkeepMs < 0 || nowMs() - lastUpkeepMs >= m_settings.upkeepMs) {
            lastUpkeepMs = nowMs();
            QString failed;
            if (!upkeep(say, &failed))
                problem(QStringLiteral("upkeep ") + failed, QStringLiteral("central store upkeep: %1").arg(failed));
        }
        if (nowMs() - lastStatusMs >= 10000) {
            lastStatusMs = nowMs();
            say(QStringLiteral("%1 messages, %2 readings stored, %3 refused").arg(m_messages).arg(m_readings).arg(m_refused));
        }
        setConnected(consumer.connected());
        if (!consumer.connected()) {
            // What this connection had not acknowledged, the broker gives again.
            batch.clear();
            ids.clear();
            batchReadings = 0;
            batchStartMs = -1;
            why.clear();
            if (!consumer.connectToBroker(5000, &why) || !consumer.subscribe(filter, 1, 5000, &why)) {
                consumer.abort();
                backoffMs = qMin(30000, backoffMs == 0 ? 1000 : backoffMs * 2);
                problem(QStringLiteral("connect ") + why, QStringLiteral("MQTT broker %1: %2; trying again").arg(broker, why));
                pause(backoffMs);
                continue;
            }
            backoffMs = 0;
            setConnected(true);
            say(QStringLiteral("MQTT broker %1 reached; taking %2").arg(broker, QString::fromUtf8(filter)));
        }
        QList<mqttwire::Delivery> got;
        why.clear();
        if (!consumer.receive(&got, 100, &why)) {
            problem(QStringLiteral("lost ") + why, QStringLiteral("MQTT broker %1 lost (%2)").arg(broker, why));
            consumer.abort();
            continue;
        }
        take(got);
        if (ids.isEmpty() || (batchReadings < m_settings.batchReadings && nowMs() - batchStartMs < m_settings.batchMs))
            continue;
        // The batch waits, unacknowledged, while the database is away; the
        // connection is kept (and what else comes joins the batch).
        bool committed = false;
        while (!m_stop && consumer.connected() && !(committed = commit(batch, &why))) {
            problem(QStringLiteral("central ") + why,
                    QStringLiteral("central store: %1; %2 readings wait unacknowledged").arg(why).arg(batchReadings));
            QList<mqttwire::Delivery> more;
            QString lost;
            if (!consumer.receive(&more, 1000, &lost))
                consumer.abort();
            take(more);
        }
        if (!committed)
            continue;
        if (!consumer.acknowledge(ids, &why)) {
            consumer.abort();
            continue;
        }
        if (troubled) {
            say(QStringLiteral("storing again"));
            troubled = false;
            reports.clear();
        }
        batch.clear();
        ids.clear();
        batchReadings = 0;
        batchStartMs = -1;
    }
    consumer.disconnect();
    setConnected(false);
}

} // namespace vx
