#include "core/grain/AlarmRules.h"

#include "core/store/ReadingSet.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace vx {

double AlarmSettings::highFor(int cable, int layer) const
{
    if (pointHigh.contains({cable, layer}))
        return pointHigh.value({cable, layer});
    return cableHigh.value(cable, highLimit);
}

AlarmPriority priorityOf(AlarmRule rule)
{
    switch (rule) {
    case AlarmRule::HighTemperature:
    case AlarmRule::CableSilent: return AlarmPriority::High;
    case AlarmRule::HotPoint:
    case AlarmRule::RateOfRise:
    case AlarmRule::WeeklyRise: return AlarmPriority::Medium;
    case AlarmRule::Gradient:
    case AlarmRule::TopBottom:
    case AlarmRule::WarmerThanSameGrain: return AlarmPriority::Medium;
    case AlarmRule::SensorFault:
    case AlarmRule::InspectionOverdue: return AlarmPriority::Low;
    }
    return AlarmPriority::Low;
}

const QList<AlarmRule> &allAlarmRules()
{
    static const QList<AlarmRule> rules{AlarmRule::HighTemperature, AlarmRule::HotPoint,    AlarmRule::RateOfRise,
                                        AlarmRule::WeeklyRise,      AlarmRule::SensorFault, AlarmRule::CableSilent,
                                        AlarmRule::Gradient,        AlarmRule::TopBottom,   AlarmRule::WarmerThanSameGrain,
                                        AlarmRule::InspectionOverdue};
    return rules;
}

QString priorityNameShown(AlarmPriority priority)
{
    switch (priority) {
    case AlarmPriority::High: return QCoreApplication::translate("vx", "高");
    case AlarmPriority::Medium: return QCoreApplication::translate("vx", "中");
    case AlarmPriority::Low: return QCoreApplication::translate("vx", "低");
    }
    return QString();
}

QString priorityKey(AlarmPriority priority)
{
    switch (priority) {
    case AlarmPriority::High: return QStringLiteral("high");
    case AlarmPriority::Medium: return QStringLiteral("medium");
    case AlarmPriority::Low: return QStringLiteral("low");
    }
    return QString();
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
    case AlarmRule::WeeklyRise: return QString::fromUtf8(QT_TRANSLATE_NOOP("vx", "周温升过快"));
    case AlarmRule::SensorFault: return QString::fromUtf8(QT_TRANSLATE_NOOP("vx", "传感器故障"));
    case AlarmRule::CableSilent: return QString::fromUtf8(QT_TRANSLATE_NOOP("vx", "电缆无响应"));
    case AlarmRule::Gradient: return QString::fromUtf8(QT_TRANSLATE_NOOP("vx", "温度梯度过大"));
    case AlarmRule::TopBottom: return QString::fromUtf8(QT_TRANSLATE_NOOP("vx", "上下层温差过大"));
    case AlarmRule::WarmerThanSameGrain: return QString::fromUtf8(QT_TRANSLATE_NOOP("vx", "高于同品种仓"));
    case AlarmRule::InspectionOverdue: return QString::fromUtf8(QT_TRANSLATE_NOOP("vx", "粮情检查逾期"));
    }
    return QString();
}

QString ruleKey(AlarmRule rule)
{
    switch (rule) {
    case AlarmRule::HighTemperature: return QStringLiteral("high_temperature");
    case AlarmRule::HotPoint: return QStringLiteral("hot_point");
    case AlarmRule::RateOfRise: return QStringLiteral("rate_of_rise");
    case AlarmRule::WeeklyRise: return QStringLiteral("weekly_rise");
    case AlarmRule::SensorFault: return QStringLiteral("sensor_fault");
    case AlarmRule::CableSilent: return QStringLiteral("cable_silent");
    case AlarmRule::Gradient: return QStringLiteral("gradient");
    case AlarmRule::TopBottom: return QStringLiteral("top_bottom");
    case AlarmRule::WarmerThanSameGrain: return QStringLiteral("warmer_than_same_grain");
    case AlarmRule::InspectionOverdue: return QStringLiteral("inspection_overdue");
    }
    return QString();
}

std::optional<AlarmRule> ruleFromKey(const QString &key)
{
    for (AlarmRule r : allAlarmRules())
        if (ruleKey(r) == key)
            return r;
    return std::nullopt;
}

namespace {

const char *faultKey(SensorFaultKind kind)
{
    switch (kind) {
    case SensorFaultKind::NoReading: return "no_reading";
    case SensorFaultKind::PowerOn: return "power_on";
    case SensorFaultKind::Jump: return "jump";
    case SensorFaultKind::OutOfRange: return "out_of_range";
    case SensorFaultKind::None: break;
    }
    return "";
}

SensorFaultKind faultFromKey(const QString &key)
{
    for (SensorFaultKind k : {SensorFaultKind::NoReading, SensorFaultKind::PowerOn, SensorFaultKind::Jump,
                              SensorFaultKind::OutOfRange})
        if (key == QLatin1String(faultKey(k)))
            return k;
    return SensorFaultKind::None;
}

// The texts an alarm is told in: stored as written (Chinese), shown through the translation.
struct Words {
    bool shown;
    QString operator()(const char *source) const
    {
        return shown ? QCoreApplication::translate("vx", source) : QString::fromUtf8(source);
    }
};

QString two(int n)
{
    return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0'));
}

QString faultText(const AlarmPoint &p, const Words &w)
{
    switch (p.fault) {
    case SensorFaultKind::NoReading: return w(QT_TRANSLATE_NOOP("vx", "无读数"));
    case SensorFaultKind::PowerOn: return w(QT_TRANSLATE_NOOP("vx", "上电值 85.00"));
    case SensorFaultKind::OutOfRange: return w(QT_TRANSLATE_NOOP("vx", "超出量程"));
    case SensorFaultKind::Jump:
        return w(QT_TRANSLATE_NOOP("vx", "跳变 %1 °C")).arg(QString::number(p.value, 'f', 2));
    case SensorFaultKind::None: break;
    }
    return QString();
}

QString describe(const AlarmCondition &c, bool shown)
{
    const Words w{shown};
    const QString layers = w(QT_TRANSLATE_NOOP("vx", "层%1")).arg(c.layersText());
    const QString at = w(QT_TRANSLATE_NOOP("vx", "层%1")).arg(two(c.layer));
    const bool many = c.points.size() > 1;
    switch (c.rule) {
    case AlarmRule::CableSilent:
        return w(QT_TRANSLATE_NOOP("vx", "%1 s 无应答")).arg(qint64(c.value));
    case AlarmRule::SensorFault: {
        QStringList parts;
        for (const AlarmPoint &p : c.points)
            parts << w(QT_TRANSLATE_NOOP("vx", "层%1")).arg(two(p.layer)) + QLatin1Char(' ') + faultText(p, w);
        return parts.join(w(QT_TRANSLATE_NOOP("vx", "；")));
    }
    case AlarmRule::HighTemperature:
        return many ? w(QT_TRANSLATE_NOOP("vx", "%1 最高 %2 °C（%3），高于 %4 °C"))
                          .arg(layers, QString::number(c.value, 'f', 2), at, QString::number(c.limit, 'f', 1))
                    : w(QT_TRANSLATE_NOOP("vx", "%1 %2 °C，高于 %3 °C"))
                          .arg(layers, QString::number(c.value, 'f', 2), QString::number(c.limit, 'f', 1));
    case AlarmRule::HotPoint:
        return many ? w(QT_TRANSLATE_NOOP("vx", "%1 最多高于层平均 %2 °C（%3）"))
                          .arg(layers, QString::number(c.value, 'f', 2), at)
                    : w(QT_TRANSLATE_NOOP("vx", "%1 高于层平均 %2 °C")).arg(layers, QString::number(c.value, 'f', 2));
    case AlarmRule::RateOfRise:
        return many ? w(QT_TRANSLATE_NOOP("vx", "%1 最快 %2 °C/天（%3）")).arg(layers, QString::number(c.value, 'f', 2), at)
                    : w(QT_TRANSLATE_NOOP("vx", "%1 %2 °C/天")).arg(layers, QString::number(c.value, 'f', 2));
    case AlarmRule::WeeklyRise:
        return many ? w(QT_TRANSLATE_NOOP("vx", "%1 最快 %2 °C/周（%3）")).arg(layers, QString::number(c.value, 'f', 2), at)
                    : w(QT_TRANSLATE_NOOP("vx", "%1 %2 °C/周")).arg(layers, QString::number(c.value, 'f', 2));
    case AlarmRule::Gradient:
        return w(QT_TRANSLATE_NOOP("vx", "%1 最大 %2 °C/m（%3），高于 %4 °C/m"))
            .arg(layers, QString::number(c.value, 'f', 2), at, QString::number(c.limit, 'f', 1));
    case AlarmRule::TopBottom:
        return w(QT_TRANSLATE_NOOP("vx", "上下层相差 %1 °C，高于 %2 °C"))
            .arg(QString::number(c.value, 'f', 2), QString::number(c.limit, 'f', 1));
    case AlarmRule::WarmerThanSameGrain:
        return w(QT_TRANSLATE_NOOP("vx", "平均高于同品种仓 %1 °C，高于 %2 °C"))
            .arg(QString::number(c.value, 'f', 2), QString::number(c.limit, 'f', 1));
    case AlarmRule::InspectionOverdue:
        return w(QT_TRANSLATE_NOOP("vx", "已逾期 %1 天")).arg(qint64(c.value));
    }
    return QString();
}

} // namespace

QString AlarmCondition::layersText() const
{
    // Runs of neighbouring layers as ranges: "03-05,07".
    QStringList parts;
    for (int i = 0; i < points.size();) {
        int j = i;
        while (j + 1 < points.size() && points[j + 1].layer == points[j].layer + 1)
            ++j;
        parts << (j > i ? two(points[i].layer) + QLatin1Char('-') + two(points[j].layer) : two(points[i].layer));
        i = j + 1;
    }
    return parts.join(QLatin1Char(','));
}

QString AlarmCondition::detail() const
{
    return describe(*this, false);
}

QString AlarmCondition::detailShown() const
{
    return describe(*this, true);
}

QByteArray AlarmCondition::json() const
{
    QJsonArray list;
    for (const AlarmPoint &p : points) {
        QJsonObject o{{QStringLiteral("layer"), p.layer}, {QStringLiteral("value"), p.value}};
        if (p.fault != SensorFaultKind::None)
            o.insert(QStringLiteral("fault"), QLatin1String(faultKey(p.fault)));
        list.append(o);
    }
    QJsonObject o{{QStringLiteral("rule"), ruleKey(rule)},
                  {QStringLiteral("priority"), priorityKey(priority())},
                  {QStringLiteral("cable"), cable},
                  {QStringLiteral("value"), value},
                  {QStringLiteral("layer"), layer},
                  {QStringLiteral("points"), list}};
    if (bin != 0)
        o.insert(QStringLiteral("bin"), bin);
    if (limit != 0)
        o.insert(QStringLiteral("limit"), limit);
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

std::optional<AlarmCondition> AlarmCondition::fromJson(const QByteArray &json)
{
    const QJsonObject o = QJsonDocument::fromJson(json).object();
    const auto rule = ruleFromKey(o.value(QStringLiteral("rule")).toString());
    if (!rule)
        return std::nullopt;
    AlarmCondition c;
    c.rule = *rule;
    c.cable = o.value(QStringLiteral("cable")).toInt();
    c.bin = o.value(QStringLiteral("bin")).toInt();
    c.value = o.value(QStringLiteral("value")).toDouble();
    c.layer = o.value(QStringLiteral("layer")).toInt();
    c.limit = o.value(QStringLiteral("limit")).toDouble();
    for (const QJsonValue &v : o.value(QStringLiteral("points")).toArray()) {
        const QJsonObject p = v.toObject();
        c.points.append({p.value(QStringLiteral("layer")).toInt(), p.value(QStringLiteral("value")).toDouble(),
                         faultFromKey(p.value(QStringLiteral("fault")).toString())});
    }
    return c;
}

bool pointInstalled(const GrainSnapshot &snapshot, const AlarmSettings &settings, int cable, int layer)
{
    const auto named = settings.installed.constFind(cable);
    if (named != settings.installed.constEnd())
        return named->contains(layer);
    return snapshot.at(cable, layer).installed;
}

namespace {

// The points of one rule at one cable, grouped into one condition; the extreme is the largest value.
struct Grouper {
    QMap<AlarmRule, AlarmCondition> byRule;
    void add(AlarmRule rule, int cable, const AlarmPoint &point, double limit = 0)
    {
        AlarmCondition &c = byRule[rule];
        c.rule = rule;
        c.cable = cable;
        c.points.append(point);
        if (c.points.size() == 1 || point.value > c.value) {
            c.value = point.value;
            c.layer = point.layer;
            c.limit = limit;
        }
    }
};

double weekly(const PointReading &latest, double t, const PointReading &ago, double windowMs, double perMs)
{
    const double span = double(latest.timeMs - ago.timeMs);
    if (span < windowMs / 2 || !ago.temperature())
        return -1e9;
    return (t - *ago.temperature()) / (span / perMs);
}

} // namespace

QList<AlarmCondition> evaluateAlarms(const GrainSnapshot &snapshot, qint64 nowMs, const AlarmSettings &settings,
                                     const QMap<QPair<int, int>, PointReading> &windowAgo,
                                     const QMap<QPair<int, int>, PointReading> &weekAgo)
{
    QList<AlarmCondition> out;
    const GrainStatistics stats = grainStatistics(snapshot, nowMs, settings.silentAfterMs);
    for (int c = 1; c <= kCables; ++c) {
        const auto seen = snapshot.lastSeen[std::size_t(c - 1)];
        const CableState state = snapshot.stateOf(c, nowMs, settings.silentAfterMs);
        if (state == CableState::Silent) {
            AlarmCondition silent;
            silent.rule = AlarmRule::CableSilent;
            silent.cable = c;
            silent.value = double((nowMs - seen.value_or(nowMs)) / 1000);
            out.append(silent);
            continue;
        }
        if (state != CableState::Answering)
            continue; // stale values of a silent cable raise nothing but its silence
        Grouper g;
        for (int l = 1; l <= kLayers; ++l) {
            const PointHistory &p = snapshot.at(c, l);
            if (!p.latest.has() || !pointInstalled(snapshot, settings, c, l))
                continue; // no sensor there: nothing to say
            const quint16 raw = p.latest.raw;
            // A sensor's fault first: its value is no temperature, and feeds no other rule.
            switch (statusOf(raw)) {
            case ReadingStatus::NoReading:
                g.add(AlarmRule::SensorFault, c, {l, 0, SensorFaultKind::NoReading});
                continue;
            case ReadingStatus::OutOfRange:
                g.add(AlarmRule::SensorFault, c, {l, celsiusOf(raw).value_or(0), SensorFaultKind::OutOfRange});
                continue;
            case ReadingStatus::PowerOn: // what a 1-Wire sensor holds before its first conversion
                g.add(AlarmRule::SensorFault, c, {l, 85.0, SensorFaultKind::PowerOn});
                continue;
            case ReadingStatus::Ok: break;
            }
            if (p.faultReadingsLeft > 0) {
                g.add(AlarmRule::SensorFault, c, {l, p.lastJump, SensorFaultKind::Jump});
                continue;
            }
            const double t = *p.temperature();
            if (t > settings.highFor(c, l))
                g.add(AlarmRule::HighTemperature, c, {l, t}, settings.highFor(c, l));
            const Figures &layer = stats.layers[std::size_t(l - 1)];
            if (layer.count > 1 && t - layer.mean > settings.hotPointDelta)
                g.add(AlarmRule::HotPoint, c, {l, t - layer.mean}, settings.hotPointDelta);
            const auto ago = windowAgo.find({c, l});
            if (ago != windowAgo.end()) {
                const double perDay = weekly(p.latest, t, *ago, double(settings.riseWindowHours) * 3600000.0, 86400000.0);
                if (perDay > settings.risePerDay)
                    g.add(AlarmRule::RateOfRise, c, {l, perDay}, settings.risePerDay);
            }
            const auto week = weekAgo.find({c, l});
            if (week != weekAgo.end()) {
                const double perWeek = weekly(p.latest, t, *week, 7 * 86400000.0, 7 * 86400000.0);
                if (perWeek > settings.risePerWeek)
                    g.add(AlarmRule::WeeklyRise, c, {l, perWeek}, settings.risePerWeek);
            }
        }
        for (const AlarmCondition &condition : std::as_const(g.byRule))
            out.append(condition);
    }
    return out;
}

} // namespace vx
