#pragma once

#include <QHash>
#include <QString>

namespace vx {

// Says each distinct problem at most once a minute (or as set): a fault that
// repeats many times a second gives one line a minute, with how many times it
// came since the last line, never a flood.
class ReportLimiter {
public:
    explicit ReportLimiter(qint64 intervalMs = 60000) : m_intervalMs(intervalMs) {}

    // The line to print for this problem now, or an empty string when it was said
    // less than the interval ago. The key is what tells problems apart.
    QString line(const QString &key, const QString &text, qint64 nowMs)
    {
        Seen &seen = m_seen[key];
        if (seen.saidMs >= 0 && nowMs - seen.saidMs < m_intervalMs) {
            ++seen.unsaid;
            return {};
        }
        const QString said = seen.unsaid > 0 ? QStringLiteral("%1 (%2 more times since)").arg(text).arg(seen.unsaid) : text;
        seen.saidMs = nowMs;
        seen.unsaid = 0;
        return said;
    }
    // The problem went away: the next one is said at once.
    void clear() { m_seen.clear(); }

private:
    struct Seen {
        qint64 saidMs = -1;
        qint64 unsaid = 0;
    };
    qint64 m_intervalMs;
    QHash<QString, Seen> m_seen;
};

} // namespace vx
