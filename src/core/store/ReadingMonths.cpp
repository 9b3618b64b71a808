#include "core/store/ReadingMonths.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QTimeZone>

namespace vx {

namespace {
const QString kPrefix = QStringLiteral("reading_rows_");
} // namespace

qint64 monthStartMs(qint64 ms)
{
    return monthsLaterMs(ms, 0);
}

qint64 monthsLaterMs(qint64 ms, int months)
{
    const QDate day = QDateTime::fromMSecsSinceEpoch(ms, QTimeZone::utc()).date();
    return QDateTime(QDate(day.year(), day.month(), 1).addMonths(months), QTime(0, 0), QTimeZone::utc()).toMSecsSinceEpoch();
}

QString monthPartitionName(qint64 monthStart)
{
    return kPrefix + QDateTime::fromMSecsSinceEpoch(monthStart, QTimeZone::utc()).toString(QStringLiteral("yyyy_MM"));
}

std::optional<qint64> partitionMonthMs(const QString &name)
{
    static const QRegularExpression pattern(QStringLiteral("^reading_rows_(\\d{4})_(\\d{2})$"));
    const auto m = pattern.match(name);
    if (!m.hasMatch())
        return std::nullopt;
    const QDate first(m.captured(1).toInt(), m.captured(2).toInt(), 1);
    if (!first.isValid())
        return std::nullopt;
    return QDateTime(first, QTime(0, 0), QTimeZone::utc()).toMSecsSinceEpoch();
}

std::optional<qint64> retentionCutoffMs(qint64 nowMs, int keepMonths)
{
    if (keepMonths <= 0)
        return std::nullopt;
    return monthsLaterMs(nowMs, -keepMonths);
}

} // namespace vx
