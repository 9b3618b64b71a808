#pragma once

#include "core/notify/NotifySettings.h"

#include <QMap>
#include <QMutex>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace vx {

class ReadingStore;

// Notifications through a durable outbox. The store puts every event a
// notification is made of into its notify outbox in the transaction that
// stores the event; a thread here turns them into each channel's messages
// (and drops the events) in one transaction; a thread per channel sends its
// messages oldest first and drops each only once the channel accepted it,
// retrying with growing back-off up to the channel's maximum age. So a
// receiver that is away, or a restart, loses nothing, and a channel that
// hangs holds up only itself.
class Notifier {
public:
    Notifier(const NotifySettings &settings, const QString &site, const QString &localStore);
    ~Notifier();
    Notifier(const Notifier &) = delete;
    Notifier &operator=(const Notifier &) = delete;

    // One line for each problem (once a minute) and its clearing; from the notifier's threads.
    void setReporter(std::function<void(const QString &)> report) { m_report = std::move(report); }
    bool start(QString *why);
    // Sends what waits for up to drainMs, then ends the threads (a send in flight ends within its timeout).
    void stop(int drainMs = 2000);

    struct ChannelFigures {
        qint64 waiting = 0;  // messages not yet accepted
        qint64 sent = 0;     // accepted since start
        qint64 expired = 0;  // given up after the maximum age
    };
    QMap<QString, ChannelFigures> figures() const;
    qint64 waiting() const;

private:
    struct Channel;
    void compose();
    void composeSummaries(ReadingStore &store);
    void serve(Channel &channel);
    void report(const QString &line);

    NotifySettings m_settings;
    QString m_site;
    QString m_localStore;
    std::function<void(const QString &)> m_report;
    std::atomic<bool> m_stopping{false};
    std::atomic<bool> m_composed{false}; // the composer has drained the outbox: a channel's empty list is final
    std::atomic<qint64> m_drainUntil{0};
    std::atomic<qint64> m_outboxWaiting{0};
    std::thread m_composer;
    std::vector<std::unique_ptr<Channel>> m_channels;
    mutable QMutex m_reportLock;
};

} // namespace vx
