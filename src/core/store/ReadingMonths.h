#pragma once

#include <QString>

#include <optional>

namespace vx {

// The months a partitioned readings table is cut into: UTC calendar months.

// The start of the month a time falls in.
qint64 monthStartMs(qint64 ms);
// The start of the month `months` after (negative: before) the one ms falls in.
qint64 monthsLaterMs(qint64 ms, int months);
// "reading_rows_2026_12": a month's partition.
QString monthPartitionName(qint64 monthStartMs);
// The month a partition holds, from its name; nothing for another table.
std::optional<qint64> partitionMonthMs(const QString &name);
// Keeping `keepMonths` whole months before the current one: months that ended
// at or before this go. keepMonths 0 keeps everything (nothing: no cutoff).
std::optional<qint64> retentionCutoffMs(qint64 nowMs, int keepMonths);

} // namespace vx
