#pragma once

#include "core/store/ReadingStore.h"

#include <QDate>
#include <QMap>

namespace vx {

// A day of the bin: each point's minimum, maximum and average, the bin's
// figures, and the alarms raised that day. One model for the table, the PDF
// and the CSV, so their numbers are the same.
struct DailyReport {
    QDate date;                    // a local calendar day
    QList<PointSummary> points;    // by cable, then layer
    PointSummary bin;              // address and point: where the maximum was
    QList<StoreEvent> alarms;      // raised that day, in time order
    QMap<int, double> fanHours;    // bin -> hours its fans ran that day (bins with fans that switched lately)

    QList<int> cables() const;
    const PointSummary *at(int cable, int layer) const;
    // cable,layer,min,max,mean,count; then a line "bin" with the bin's figures, and "fans,BIN,hours" lines.
    QByteArray csv() const;
    static QString number(double v) { return QString::number(v, 'f', 2); }
};

// Reads the day from the store; an empty report (no points) when nothing was read that day.
DailyReport buildDailyReport(ReadingStore &store, const QDate &date);

} // namespace vx
