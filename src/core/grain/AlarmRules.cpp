#include "core/grain/AlarmRules.h"

#include <QCoreApplication>

#include "core/store/ReadingSet.h"

namespace vx {

double AlarmSettings::highFor(int cable, int layer) const
{
    if (pointHigh.contains({cable, layer}))
        return pointHigh.value({cable, layer});
    return cableHigh.value(cable, highLimit);
}

namespace {
// The detail as stored (the source text) and what to translate it from when shown.
AlarmCondition condition(AlarmRule rule, int cable, int layer, double value, const char *source,
                         const QString &argument = QString())
{
    const QString text = QString::fromUtf8(source);
    AlarmCondition c{rule, cable, layer, value, argument.isNull() ? text : text.arg(argument)};
    c.detailSource = source;
    c.detailArgument = argument;
    return c;
}
} // namespace

QString alarmDetailShown(const AlarmCondition &condition)
{
    if (!condition.detailSource)
        return condition.detail;
    const QString text = QCoreApplication::translate("vx", condition.detailSource);
    return condition.detailArgument.isNull() ? text : text.arg(condition.detailArgument);
}

QString ruleNameShown(AlarmRule rule)
{
    return QCoreApplication::translate("vx", ruleName(rule).toUtf8().constData());
}

QString ruleName(AlarmRule rule)
{
    switch (rule) {
    case AlarmRule::HighTemperature: return QString::fromUtf8(QT_TRANSLATE_NOOP("vx", "高温"));
    case AlarmRule::HotPoint: return QString::fromUtf8(QT_TRANSLATE_NOOP("vx", "热点"));
    case AlarmRule::RateOfRise: return QString::fromUtf8(QT_TRANSLATE_NOOP("vx", "温升过快"));
    case AlarmRule::SensorFault: return QString::fromUtf8(QT_TRANSLATE_NOOP("vx", "传感器故障"));
    case AlarmRule::CableSilent: return QString::fromUtf8(QT_TRANSLATE_NOOP("vx", "电缆无响应"));
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
            out.append(condition(AlarmRule::CableSilent, c, 0, double(nowMs - *snapshot.lastSeen[std::size_t(c - 1)]) / 1000.0,
                                 QT_TRANSLATE_NOOP("vx", "%1 s 无应答"),
                                 QString::number((nowMs - *snapshot.lastSeen[std::size_t(c - 1)]) / 1000)));
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
                out.append(condition(AlarmRule::SensorFault, c, l, 0, QT_TRANSLATE_NOOP("vx", "无读数")));
                continue;
            }
            if (status == ReadingStatus::OutOfRange) {
                out.append(condition(AlarmRule::SensorFault, c, l, celsius(raw), QT_TRANSLATE_NOOP("vx", "超出量程")));
                continue;
            }
            const bool hadPrevious = p.previous.has() && statusOf(p.previous.raw) != ReadingStatus::NoReading;
            if (status == ReadingStatus::PowerOn) {
                // 85.00 is a temperature unless it came out of nowhere: the 1-Wire power-on value.
                if (hadPrevious && qAbs(celsius(p.previous.raw) - 85.0) > 10.0) {
                    out.append(condition(AlarmRule::SensorFault, c, l, 85.0, QT_TRANSLATE_NOOP("vx", "上电值 85.00")));
                    continue;
                }
            }
            const double t = celsius(raw);
            if (hadPrevious && qAbs(t - celsius(p.previous.raw)) > settings.jumpStep
                && !(status == ReadingStatus::PowerOn)) {
                out.append(condition(AlarmRule::SensorFault, c, l, t, QT_TRANSLATE_NOOP("vx", "跳变 %1 °C"),
                                     QString::number(t - celsius(p.previous.raw), 'f', 2)));
                continue;
            }
            if (t > settings.highFor(c, l))
                out.append(condition(AlarmRule::HighTemperature, c, l, t, QT_TRANSLATE_NOOP("vx", "高于 %1 °C"),
                                     QString::number(settings.highFor(c, l), 'f', 1)));
            const Figures &layer = stats.layers[std::size_t(l - 1)];
            if (layer.count > 1 && t - layer.mean > settings.hotPointDelta)
                out.append(condition(AlarmRule::HotPoint, c, l, t, QT_TRANSLATE_NOOP("vx", "高于层平均 %1 °C"),
                                     QString::number(t - layer.mean, 'f', 2)));
            const auto ago = windowAgo.find({c, l});
            if (ago != windowAgo.end() && ago->temperature()) {
                const double span = double(p.latest.timeMs - ago->timeMs);
                const double window = double(settings.riseWindowHours) * 3600000.0;
                if (span >= window / 2) {
                    const double perDay = (t - *ago->temperature()) / (span / 86400000.0);
                    if (perDay > settings.risePerDay)
                        out.append(condition(AlarmRule::RateOfRise, c, l, perDay, QT_TRANSLATE_NOOP("vx", "%1 °C/天"),
                                             QString::number(perDay, 'f', 2)));
                }
            }
        }
    }
    return out;
}

} // namespace vx
