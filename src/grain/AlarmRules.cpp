#include "grain/AlarmRules.h"

#include "store/ReadingSet.h"

namespace vx {

double AlarmSettings::highFor(int cable, int layer) const
{
    if (pointHigh.contains({cable, layer}))
        return pointHigh.value({cable, layer});
    return cableHigh.value(cable, highLimit);
}

QString ruleName(AlarmRule rule)
{
    switch (rule) {
    case AlarmRule::HighTemperature: return QStringLiteral("高温");
    case AlarmRule::HotPoint: return QStringLiteral("热点");
    case AlarmRule::RateOfRise: return QStringLiteral("温升过快");
    case AlarmRule::SensorFault: return QStringLiteral("传感器故障");
    case AlarmRule::CableSilent: return QStringLiteral("电缆无响应");
    }
    return QString();
}

QString ruleKey(AlarmRule rule)
{
    switch (rule) {
    case AlarmRule::HighTemperature: return QStringLiteral("high_temperature");
    case AlarmRule::HotPoint: return QStringLiteral("hot_point");
    case AlarmRule::RateOfRise: return QStringLiteral("rate_of_rise");
    case AlarmRule::SensorFault: return QStringLiteral("sensor_fault");
    case AlarmRule::CableSilent: return QStringLiteral("cable_silent");
    }
    return QString();
}

namespace {
double celsius(quint16 raw)
{
    return celsiusOf(raw).value_or(0);
}
} // namespace

QList<AlarmCondition> evaluateAlarms(const GrainSnapshot &snapshot, qint64 nowMs, const AlarmSettings &settings,
                                     const QMap<QPair<int, int>, PointReading> &windowAgo)
{
    QList<AlarmCondition> out;
    const GrainStatistics stats = grainStatistics(snapshot, nowMs, settings.silentAfterMs);
    for (int c = 1; c <= kCables; ++c) {
        const CableState state = cableState(snapshot.lastSeen[std::size_t(c - 1)], nowMs, settings.silentAfterMs);
        if (state == CableState::Silent) {
            out.append({AlarmRule::CableSilent, c, 0, double(nowMs - *snapshot.lastSeen[std::size_t(c - 1)]) / 1000.0,
                        QStringLiteral("%1 s 无应答").arg((nowMs - *snapshot.lastSeen[std::size_t(c - 1)]) / 1000)});
            continue;
        }
        if (state != CableState::Answering)
            continue; // stale values of a silent cable raise nothing but its silence
        for (int l = 1; l <= kLayers; ++l) {
            const PointHistory &p = snapshot.at(c, l);
            if (!p.latest.has())
                continue;
            const quint16 raw = p.latest.raw;
            const ReadingStatus status = statusOf(raw);
            // Sensor faults first: a faulty value is no temperature.
            if (status == ReadingStatus::NoReading) {
                out.append({AlarmRule::SensorFault, c, l, 0, QStringLiteral("无读数")});
                continue;
            }
            if (status == ReadingStatus::OutOfRange) {
                out.append({AlarmRule::SensorFault, c, l, celsius(raw), QStringLiteral("超出量程")});
                continue;
            }
            const bool hadPrevious = p.previous.has() && statusOf(p.previous.raw) != ReadingStatus::NoReading;
            if (status == ReadingStatus::PowerOn) {
                // 85.00 is a temperature unless it came out of nowhere: the 1-Wire power-on value.
                if (hadPrevious && qAbs(celsius(p.previous.raw) - 85.0) > 10.0) {
                    out.append({AlarmRule::SensorFault, c, l, 85.0, QStringLiteral("上电值 85.00")});
                    continue;
                }
            }
            const double t = celsius(raw);
            if (hadPrevious && qAbs(t - celsius(p.previous.raw)) > settings.jumpStep
                && !(status == ReadingStatus::PowerOn)) {
                out.append({AlarmRule::SensorFault, c, l, t,
                            QStringLiteral("跳变 %1 °C").arg(t - celsius(p.previous.raw), 0, 'f', 2)});
                continue;
            }
            if (t > settings.highFor(c, l))
                out.append({AlarmRule::HighTemperature, c, l, t,
                            QStringLiteral("高于 %1 °C").arg(settings.highFor(c, l), 0, 'f', 1)});
            const Figures &layer = stats.layers[std::size_t(l - 1)];
            if (layer.count > 1 && t - layer.mean > settings.hotPointDelta)
                out.append({AlarmRule::HotPoint, c, l, t,
                            QStringLiteral("高于层平均 %1 °C").arg(t - layer.mean, 0, 'f', 2)});
            const auto ago = windowAgo.find({c, l});
            if (ago != windowAgo.end() && ago->temperature()) {
                const double span = double(p.latest.timeMs - ago->timeMs);
                const double window = double(settings.riseWindowHours) * 3600000.0;
                if (span >= window / 2) {
                    const double perDay = (t - *ago->temperature()) / (span / 86400000.0);
                    if (perDay > settings.risePerDay)
                        out.append({AlarmRule::RateOfRise, c, l, perDay,
                                    QStringLiteral("%1 °C/天").arg(perDay, 0, 'f', 2)});
                }
            }
        }
    }
    return out;
}

} // namespace vx
