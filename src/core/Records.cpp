#include "core/Records.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

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

bool RecordFiles::write(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return false;
    bool ok = file.write(bytes) == bytes.size();
    ok = file.flush() && ok;
    file.close();
    return ok && file.error() == QFileDevice::NoError;
}

bool RecordFiles::append(const QString &path, const QString &record)
{
    const QByteArray bytes = record.toUtf8();
    if (write(path, bytes))
        return true;
    const QDir dir = QFileInfo(path).dir();
    if (!dir.exists() && QDir().mkpath(dir.path()) && write(path, bytes))
        return true;
    ++m_lost;
    const QString where = dir.absolutePath();
    if (!m_reported.contains(where)) {
        m_reported.insert(where);
        if (m_onLoss)
            m_onLoss(path);
    }
    return false;
}

} // namespace vx
