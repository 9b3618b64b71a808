#include "core/Records.h"

#include <QFile>

namespace vx {

QString shortDate(const QDate &date)
{
    return date.toString(QStringLiteral("yyyy/M/d"));
}

QString longTime(const QTime &time)
{
    return time.toString(QStringLiteral("HH:mm:ss"));
}

QString generalDateTime(const QDateTime &when)
{
    return shortDate(when.date()) + QLatin1Char(' ') + longTime(when.time());
}

QString dataGetRecord(const QDateTime &when, const QString &recHex)
{
    return QLatin1Char('"') + generalDateTime(when) + QLatin1String("   ") + recHex
        + QLatin1String("   \"\r\n");
}

bool RecordFiles::append(const QString &path, const QString &record)
{
    QFile file(path);
    bool ok = file.open(QIODevice::WriteOnly | QIODevice::Append);
    if (ok) {
        const QByteArray bytes = record.toUtf8();
        ok = file.write(bytes) == bytes.size();
        ok = file.flush() && ok;
        file.close();
    }
    if (!ok) {
        ++m_lost;
        if (!m_reported.contains(path)) {
            m_reported.insert(path);
            if (m_onLoss)
                m_onLoss(path);
        }
    }
    return ok;
}

} // namespace vx
