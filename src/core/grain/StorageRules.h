#pragma once

#include "core/depot/Depot.h"
#include "core/grain/AlarmRules.h"

#include <QDate>
#include <QList>
#include <QString>

#include <optional>

namespace vx {

// The rules grain-storage practice judges a whole bin by, beside the
// alarm rules of single points: a steep gradient down a cable, the top and
// the bottom far apart, a bin warmer than the others of its grain.
struct StorageSettings {
    double gradientPerMetre = 1;      // °C/m between neighbouring points of a cable
    double topBottomDifference = 3;   // °C between the bin's top and bottom layers
    double sameGrainMargin = 3;       // °C a bin's mean above the mean of its grain's other bins
};

// A bin's trustworthy temperatures now, cable by cable, the top point first.
struct ProfilePoint {
    int layer = 0;
    double depthM = 0;
    double celsius = 0;
};
struct CableProfile {
    int cable = 0;
    QList<ProfilePoint> points;
};
struct BinProfile {
    int bin = 0;
    QString grain;
    QList<CableProfile> cables;
};

// The mean of each cable's top point and of each cable's bottom point; nothing without two points on some cable.
std::optional<std::pair<double, double>> topAndBottom(const BinProfile &bin);
std::optional<double> binMean(const BinProfile &bin);

// Every storage rule that holds now, one condition per cable (gradient) or per bin (the others).
QList<AlarmCondition> evaluateStorageRules(const QList<BinProfile> &bins, const StorageSettings &settings);

// The inspection book's intervals (粮情检查): by the grain's class and its
// warmest temperature, a long interval while the warmest grain is at most
// the threshold and a short one above it.
struct InspectionIntervals {
    double thresholdC = 15;
    int safeCool = 15, safeWarm = 10;
    int semiSafeCool = 10, semiSafeWarm = 5;
    int dangerousCool = 5, dangerousWarm = 1;
};
int inspectionIntervalDays(StorageClass storageClass, double warmestC, const InspectionIntervals &intervals = {});
// When the next inspection is due after the last (or the intake, or today when there was none).
QDate nextInspection(const QDate &last, StorageClass storageClass, double warmestC,
                     const InspectionIntervals &intervals = {});
// An overdue inspection as a low alarm of the bin; nothing while it is not due.
std::optional<AlarmCondition> inspectionOverdue(int bin, const QDate &due, const QDate &today);

} // namespace vx
