#include "core/notify/Notifier.h"

#include "core/notify/NotifyCompose.h"
#include "core/notify/NotifySender.h"
#include "core/records/ReportLimiter.h"
#include "core/store/ReadingStore.h"

#include <QDateTime>

#include <chrono>
#include <future>

namespace vx {

namespace {
qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

void pause(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::unique_ptr<ReadingStore> openStore(const QString &path, QString *why)
{
    const auto location = parseStoreLocation(path, why);
    return location ? ReadingStore::open(*location, QString(), why) : nullptr;
}
} // namespace

struct Notifier::Channel {
    NotifyChannel settings;
    std::thread thread;
    std::atomic<qint64> waiting{0}, sent{0}, expired{0};
    std::unique_ptr<FloodGate> flood; // the composer's
    qint64 summaryMadeMs = -1;        // the composer's: when its last daily summary was made (-1: not looked up)
};

Notifier::Notifier(const NotifySettings &settings, const QString &site, const QString &localStore)
    : m_settings(settings), m_site(site), m_localStore(localStore)
{
    for (const NotifyChannel &c : settings.channels) {
        auto channel = std::make_unique<Channel>();
        channel->settings = c;
        channel->flood = std::make_unique<FloodGate>(c.floodPerMinute);
        m_channels.push_back(std::move(channel));
    }
}

Notifier::~Notifier()
{
    stop(0);
}

bool Notifier::start(QString *why)
{
    // The tables exist once the store has been opened (and migrated) here.
    if (!openStore(m_localStore, why))
        return false;
    acquireNotifyLibraries();
    m_composer = std::thread([this] { compose(); });
    for (auto &c : m_channels)
        c->thread = std::thread([this, channel = c.get()] { serve(*channel); });
    return true;
}

void Notifier::stop(int drainMs)
{
    if (!m_composer.joinable())
        return;
    m_drainUntil = nowMs() + drainMs;
    m_stopping = true;
    m_composer.join();
    m_composed = true;
    for (auto &c : m_channels)
        if (c->thread.joinable())
            c->thread.join();
    releaseNotifyLibraries();
}

QMap<QString, Notifier::ChannelFigures> Notifier::figures() const
{
    QMap<QString, ChannelFigures> result;
    for (const auto &c : m_channels)
        result.insert(c->settings.name, {c->waiting.load(), c->sent.load(), c->expired.load()});
    return result;
}

qint64 Notifier::waiting() const
{
    qint64 n = m_outboxWaiting.load();
    for (const auto &c : m_channels)
        n += c->waiting.load();
    return n;
}

void Notifier::report(const QString &line)
{
    QMutexLocker lock(&m_reportLock);
    if (m_report && !line.isEmpty())
        m_report(line);
}

// The notify outbox's events into each channel's messages. A flood (more new
// alarm groups within a minute than a channel takes) is held and sent as one
// summary when the minute is over.
void Notifier::compose()
{
    QString why;
    auto store = openStore(m_localStore, &why);
    ReportLimiter limiter;
    qint64 summaryLook = 0;
    while (store) {
        const bool draining = m_stopping.load();
        if (!draining && nowMs() - summaryLook >= 10000) {
            summaryLook = nowMs();
            composeSummaries(*store);
        }
        const QList<OutboxEntry> entries = store->outbox(200, NotifyQueue);
        m_outboxWaiting = entries.size();
        if (entries.isEmpty()) {
            if (draining)
                break;
            pause(50);
            continue;
        }
        const qint64 now = nowMs();
        QList<StoredNotice> made;
        for (const OutboxEntry &entry : entries) {
            if (!entry.isEvent)
                continue;
            for (auto &c : m_channels) {
                const auto message = messageOf(entry.event, c->settings.english, m_site);
                if (!message || !channelWants(c->settings, *message))
                    continue;
                StoredNotice n;
                n.channel = c->settings.name;
                n.kind = message->kind;
                n.createdMs = now;
                n.dueMs = dueAt(c->settings, *message, now);
                n.message = packMessage(*message);
                if (message->kind == QLatin1String("raised")) {
                    bool flooded = false;
                    const qint64 due = c->flood->admit(now, &flooded);
                    if (flooded) {
                        n.kind = QStringLiteral("flooded");
                        n.dueMs = qMax(n.dueMs, due);
                    }
                }
                made.append(n);
            }
        }
        if (!store->composeNotices(made, entries.last().id)) {
            report(limiter.line(QStringLiteral("compose"),
                                QStringLiteral("notifications: cannot use the store: %1").arg(store->lastError()), now));
            pause(1000);
        }
    }
    if (!store)
        report(QStringLiteral("notifications: cannot open the store: %1").arg(why));
}

// Daily summaries, once a day per channel that wants one; a marker event
// ("notify_summary", the channel) says it was made, across restarts. Made
// before the marker: a crash between them sends it twice rather than never.
void Notifier::composeSummaries(ReadingStore &store)
{
    const qint64 now = nowMs();
    for (auto &c : m_channels) {
        if (c->settings.summaryMinute < 0)
            continue;
        if (c->summaryMadeMs < 0) {
            c->summaryMadeMs = 0;
            for (const StoreEvent &e : store.events(now - 2 * 86400000LL, now + 1))
                if (e.kind == QLatin1String("notify_summary") && e.detail == c->settings.name)
                    c->summaryMadeMs = e.timeMs;
        }
        const auto day = summaryDue(c->settings, c->summaryMadeMs, now);
        if (!day)
            continue;
        const NotifyMessage m = dailySummary(buildDailyReport(store, *day), c->settings.english, m_site);
        StoredNotice n;
        n.channel = c->settings.name;
        n.kind = m.kind;
        n.createdMs = n.dueMs = now;
        n.message = packMessage(m);
        if (store.composeNotices({n}, -1) && store.add({}, {{now, 0, QStringLiteral("notify_summary"), c->settings.name, {}}}))
            c->summaryMadeMs = now;
    }
}

// One channel: its oldest due message (or a flood's held ones as one
// summary), sent until accepted, in order; a message older than the
// channel's maximum age is given up and counted.
void Notifier::serve(Channel &c)
{
    QString why;
    auto store = openStore(m_localStore, &why);
    ReportLimiter limiter;
    bool failing = false;
    const QString name = c.settings.name;
    while (store) {
        const qint64 now = nowMs();
        const QList<StoredNotice> list = store->notices(name, 500);
        c.waiting = list.size();
        // Not before the composer is done: the stop's own message may still be on its way in.
        if (m_stopping.load() && ((m_composed.load() && list.isEmpty()) || now >= m_drainUntil.load()))
            break;
        const auto head = std::find_if(list.begin(), list.end(), [now](const StoredNotice &n) { return n.dueMs <= now; });
        if (head == list.end() || head->nextTryMs > now) {
            pause(m_stopping.load() ? 20 : 100);
            continue;
        }
        QList<qint64> ids{head->id};
        NotifyMessage message = unpackMessage(head->message).value_or(NotifyMessage{});
        if (head->kind == QLatin1String("flooded")) {
            QList<NotifyMessage> flood;
            ids.clear();
            for (const StoredNotice &n : list)
                if (n.kind == QLatin1String("flooded") && n.dueMs <= now) {
                    ids << n.id;
                    flood << unpackMessage(n.message).value_or(NotifyMessage{});
                }
            message = floodSummary(flood, c.settings.english, m_site);
        }
        if (now - head->createdMs > qint64(c.settings.maxAgeHours) * 3600000) {
            store->dropNotices(ids);
            c.expired += ids.size();
            report(QStringLiteral("notify %1: gave up %2 message(s) after %3 h (%4)")
                       .arg(name).arg(ids.size()).arg(c.settings.maxAgeHours).arg(head->lastError));
            continue;
        }
        const SendResult result = sendNotice(c.settings, message, m_site);
        if (result.accepted) {
            if (store->dropNotices(ids))
                c.sent += ids.size();
            if (failing)
                report(QStringLiteral("notify %1: delivering again (%2)").arg(name, result.answer));
            failing = false;
            limiter.clear();
            continue;
        }
        failing = true;
        const int attempts = head->attempts + 1;
        const qint64 backoff = qMin<qint64>(300000, 1000LL << qMin(attempts - 1, 9));
        store->retryNotice(head->id, attempts, nowMs() + backoff, result.answer);
        report(limiter.line(name, QStringLiteral("notify %1: not accepted: %2; %3 waiting, retrying")
                                      .arg(name, result.answer).arg(list.size()), now));
    }
    if (!store)
        report(QStringLiteral("notify %1: cannot open the store: %2").arg(name, why));
}

} // namespace vx
