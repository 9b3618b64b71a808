#include "core/records/Records.h"

#include "core/platform/SafeFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <limits>

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
    // Every reply formats its time twice and many share a second: the last
    // text is kept (the UI thread is the only caller). Keyed on the local date
    // and second the text is made of: the epoch time of a local QDateTime
    // costs a mktime() each time it is asked for.
    static qint64 lastSecond = std::numeric_limits<qint64>::min();
    static QString lastText;
    const qint64 second = when.isValid()
                              ? when.date().toJulianDay() * 86400 + when.time().msecsSinceStartOfDay() / 1000
                              : std::numeric_limits<qint64>::min() + 1;
    if (second != lastSecond || !when.isValid()) {
        lastText = shortDate(when.date()) + QLatin1Char(' ') + longTime(when.time());
        lastSecond = second;
    }
    return lastText;
}

QString dataGetRecord(const QDateTime &when, const QString &recHex)
{
    const QString time = generalDateTime(when);
    QString record;
    record.reserve(time.size() + recHex.size() + 10);
    record += QLatin1Char('"');
    record += time;
    record += QLatin1String("   ");
    record += recHex;
    record += QLatin1String("   \"\r\n");
    return record;
}

bool RecordFiles::write(const QString &path, const QByteArray &bytes)
{
    if (m_programDir.isEmpty())
        return appendToRegularFile(path, bytes, false) == AppendResult::Written;
    if (!directoryStaysInside(path))
        return false;
    switch (appendToRegularFile(path, bytes, true)) {
    case AppendResult::Written: return true;
    case AppendResult::Failed: return false;
    case AppendResult::IsLink: break; // followed only when it stays inside
    }
    return writeStaysInside(path, m_programDir) && appendToRegularFile(path, bytes, false) == AppendResult::Written;
}

bool RecordFiles::directoryStaysInside(const QString &path)
{
    // Checked again now and then, not for every record: resolving every
    // part of the path costs more than the write.
    constexpr qint64 kRecheckMs = 5000;
    const QString dir = path.left(qMax<qsizetype>(0, path.lastIndexOf(QLatin1Char('/'))));
    DirVerdict &verdict = m_dirs[dir];
    if (!verdict.checked.isValid() || verdict.checked.elapsed() > kRecheckMs) {
        verdict.inside = writeStaysInside(dir, m_programDir);
        verdict.checked.start();
    }
    return verdict.inside;
}

void RecordFiles::setSizeLimit(const QString &path, qint64 maxBytes)
{
    if (maxBytes > 0)
        m_limits.insert(path, Limit{maxBytes, -1});
    else
        m_limits.remove(path);
}

void RecordFiles::rotateIfFull(const QString &path, qint64 adding)
{
    const auto it = m_limits.find(path);
    if (it == m_limits.end())
        return;
    if (it->size < 0)
        it->size = QFileInfo(path).size();
    if (it->size > 0 && it->size + adding > it->maxBytes) {
        const QString older = path + QStringLiteral(".1");
        QFile::remove(older);
        // A file that cannot be renamed is cut off instead: the cap holds either way.
        if (!QFile::rename(path, older))
            QFile::resize(path, 0);
        it->size = 0;
    }
    it->size += adding;
}

bool RecordFiles::append(const QString &path, const QString &record)
{
    const QByteArray bytes = record.toUtf8();
    rotateIfFull(path, bytes.size());
    const QDir dir = QFileInfo(path).dir();
    const QString where = dir.absolutePath();
    if (write(path, bytes) || (!dir.exists() && QDir().mkpath(dir.path()) && write(path, bytes))) {
        if (m_onRecovery && !m_reported.isEmpty()) {
            const auto it = m_reported.find(where);
            if (it != m_reported.end()) {
                const qint64 lost = it.value();
                m_reported.erase(it);
                m_onRecovery(where, lost);
            }
        }
        return true;
    }
    ++m_lost;
    if (auto it = m_reported.find(where); it != m_reported.end()) {
        ++it.value();
        return false;
    }
    m_reported.insert(where, 1);
    if (m_onLoss)
        m_onLoss(path);
    return false;
}

} // namespace vx
