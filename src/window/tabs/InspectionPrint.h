#pragma once

#include "core/depot/InspectionBook.h"

#include <QString>

namespace vx {

// The inspection book as the traditional table (粮情检查记录): one A4 page per
// entry, the bin's particulars, the day's figures layer by layer, and what the
// inspector saw. False and *error when the file cannot be written.
bool writeInspectionPdf(const QString &file, const QList<InspectionEntry> &entries, const Depot &depot, QString *error);
// The same entries as CSV.
bool writeInspectionCsv(const QString &file, const QList<InspectionEntry> &entries, const Depot &depot, QString *error);

} // namespace vx
