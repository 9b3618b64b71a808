#include "core/Records.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>

namespace vx {

// Formatted by hand: QDate::toString parses its format string on every call,
// and these run for every reply.
namespace {

char *putNumber(char *out, int value)
{
    char digits[12];
    int n = 0;
    unsigned magnitude = value < 0 ? 0u - unsigned(value) : unsigned(value);
    do {
        digits[n++] = char('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude > 0);
    if (value < 0)
        *out++ = '-';
    while (n > 0)
        *out++ = digits[--n];
    return out;
}

char *putTwoDigits(char *out, int value)
{
    *out++ = char('0' + value / 10 % 10);
    *out++ = char('0' + value % 10);
    return out;
}

} // namespace

QString shortDate(const QDate &date)
{
    char buffer[32];
    char *out = putNumber(buffer, date.year());
    *out++ = '/';
    out = putNumber(out, date.month());
    *out++ = '/';
    out = putNumber(out, date.day());
    return QString::fromLatin1(buffer, out - buffer);
}

QString longTime(const QTime &time)
{
    if (!time.isValid())
        return QString::fromLatin1("-1:-1:-1"); // what an invalid time has always read
    char buffer[8];
    char *out = putTwoDigits(buffer, time.hour());
    *out++ = ':';
    out = putTwoDigits(out, time.minute());
    *out++ = ':';
    out = putTwoDigits(out, time.second());
    return QString::fromLatin1(buffer, out - buffer);
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
