#pragma once

#include "core/depot/DepotPicture.h"
#include "core/store/ReadingStore.h"

#include <QDate>
#include <QList>
#include <QMap>
#include <QString>

#include <optional>

namespace vx {

// One entry of the inspection book (粮情检查记录): who looked at a bin when,
// what they saw, and the bin's figures at that time. Entries are events in the
// store ("inspection"); nothing is edited in place: a correction is a new
// entry naming the one it corrects.
struct InspectionEntry {
    qint64 timeMs = 0;          // when it was written
    int bin = 0;
    QDate date;                 // the inspection's day
    QString inspector;
    QString observations;
    qint64 corrects = 0;        // the entry (its time) this one replaces; 0: none
    // The figures when it was written.
    std::optional<double> mean, max, min, topBottom;
    int maxCable = 0, maxPoint = 0;
    QList<std::optional<double>> layerMeans; // by point 1..18

    StoreEvent event() const;
    static std::optional<InspectionEntry> fromEvent(const StoreEvent &event);
    // The figures of a bin now, from its summary.
    void takeFigures(const BinSummary &summary);
};

constexpr const char *kInspectionEvent = "inspection";

// The entries that stand: a corrected entry gives way to its correction; oldest first.
QList<InspectionEntry> standingEntries(const QList<StoreEvent> &events);
// Each bin's latest inspection day.
QMap<int, QDate> lastInspections(const QList<InspectionEntry> &entries);

// The book as CSV, one line per entry: its bin's name, class and grain from the depot.
QByteArray inspectionCsv(const QList<InspectionEntry> &entries, const Depot &depot);

} // namespace vx
