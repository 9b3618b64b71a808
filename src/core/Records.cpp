#include "core/Records.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>

namespace vx {

// Formatted by hand: QDate::toString parses its format string on every call,
// and these run for every reply.
QString shortDate(const QDate &date)
{
    char buffer[32];
    const int n = std::snprintf(buffer, sizeof buffer, "%d/%d/%d", date.year(), date.month(), date.day());
    return QString::fromLatin1(buffer, qBound(0, n, int(sizeof buffer) - 1));
}

QString longTime(const QTime &time)
{
    char buffer[16];
    const int n = std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d", time.hour(), time.minute(), time.second());
    return QString::fromLatin1(buffer, qBound(0, n, int(sizeof buffer) - 1));
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
    // Unbuffered: nothing is left to be written later, after a failure, by close().
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return false;
    const qint64 before = file.size();
    const bool ok = file.write(bytes) == bytes.size();
    if (!ok)
        file.resize(before); // a full disk must not leave half a record behind
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
