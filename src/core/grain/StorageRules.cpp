#include "core/grain/StorageRules.h"

#include <QMap>

#include <algorithm>

namespace vx {

std::optional<std::pair<double, double>> topAndBottom(const BinProfile &bin)
{
    double top = 0, bottom = 0;
    int cables = 0;
    for (const CableProfile &c : bin.cables) {
        if (c.points.size() < 2)
            continue;
        top += c.points.first().celsius;
        bottom += c.points.last().celsius;
        ++cables;
    }
    if (cables == 0)
        return std::nullopt;
    return std::make_pair(top / cables, bottom / cables);
}

std::optional<double> binMean(const BinProfile &bin)
{
    double sum = 0;
    int count = 0;
    for (const CableProfile &c : bin.cables)
        for (const ProfilePoint &p : c.points) {
            sum += p.celsius;
            ++count;
        }
    if (count == 0)
        return std::nullopt;
    return sum / count;
}

namespace {

std::optional<AlarmCondition> gradient(const BinProfile &bin, const CableProfile &cable, double limit)
{
    AlarmCondition c;
    c.rule = AlarmRule::Gradient;
    c.cable = cable.cable;
    c.bin = bin.bin;
    c.limit = limit;
    // Each steep step is told at its upper point.
    for (int i = 1; i < cable.points.size(); ++i) {
        const ProfilePoint &upper = cable.points[i - 1], &lower = cable.points[i];
        const double span = lower.depthM - upper.depthM;
        if (span <= 0)
            continue;
        const double perMetre = std::abs(lower.celsius - upper.celsius) / span;
        if (perMetre <= limit)
            continue;
        c.points.append({upper.layer, perMetre, SensorFaultKind::None});
        if (perMetre > c.value) {
            c.value = perMetre;
            c.layer = upper.layer;
        }
    }
    if (c.points.isEmpty())
        return std::nullopt;
    std::sort(c.points.begin(), c.points.end(), [](const AlarmPoint &a, const AlarmPoint &b) { return a.layer < b.layer; });
    return c;
}

} // namespace

QList<AlarmCondition> evaluateStorageRules(const QList<BinProfile> &bins, const StorageSettings &settings)
{
    QList<AlarmCondition> out;
    QMap<QString, QList<std::pair<int, double>>> byGrain; // grain -> (bin, mean)
    for (const BinProfile &bin : bins) {
        for (const CableProfile &cable : bin.cables)
            if (const auto c = gradient(bin, cable, settings.gradientPerMetre))
                out.append(*c);
        if (const auto tb = topAndBottom(bin); tb && std::abs(tb->first - tb->second) > settings.topBottomDifference) {
            AlarmCondition c;
            c.rule = AlarmRule::TopBottom;
            c.bin = bin.bin;
            c.value = std::abs(tb->first - tb->second);
            c.limit = settings.topBottomDifference;
            out.append(c);
        }
        if (const auto mean = binMean(bin); mean && !bin.grain.trimmed().isEmpty())
            byGrain[bin.grain.trimmed().toLower()].append({bin.bin, *mean});
    }
    for (const auto &group : std::as_const(byGrain)) {
        if (group.size() < 2)
            continue;
        double total = 0;
        for (const auto &b : group)
            total += b.second;
        for (const auto &b : group) {
            const double others = (total - b.second) / double(group.size() - 1);
            if (b.second - others <= settings.sameGrainMargin)
                continue;
            AlarmCondition c;
            c.rule = AlarmRule::WarmerThanSameGrain;
            c.bin = b.first;
            c.value = b.second - others;
            c.limit = settings.sameGrainMargin;
            out.append(c);
        }
    }
    return out;
}

int inspectionIntervalDays(StorageClass storageClass, double warmestC, const InspectionIntervals &intervals)
{
    const bool cool = warmestC <= intervals.thresholdC;
    switch (storageClass) {
    case StorageClass::Safe: return cool ? intervals.safeCool : intervals.safeWarm;
    case StorageClass::SemiSafe: return cool ? intervals.semiSafeCool : intervals.semiSafeWarm;
    case StorageClass::Dangerous: return cool ? intervals.dangerousCool : intervals.dangerousWarm;
    }
    return intervals.dangerousWarm;
}

QDate nextInspection(const QDate &last, StorageClass storageClass, double warmestC, const InspectionIntervals &intervals)
{
    return last.addDays(inspectionIntervalDays(storageClass, warmestC, intervals));
}

std::optional<AlarmCondition> inspectionOverdue(int bin, const QDate &due, const QDate &today)
{
    if (!due.isValid() || !today.isValid() || today <= due)
        return std::nullopt;
    AlarmCondition c;
    c.rule = AlarmRule::InspectionOverdue;
    c.bin = bin;
    c.value = double(due.daysTo(today));
    return c;
}

} // namespace vx
