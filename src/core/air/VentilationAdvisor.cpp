#include "core/air/VentilationAdvisor.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace vx {

VentilationAdvice adviseVentilation(const VentilationInputs &in, const VentilationSettings &s)
{
    VentilationAdvice a;
    if (in.grainMeanC && in.outsideC)
        a.difference = *in.grainMeanC - *in.outsideC;
    if (in.sorption && in.outsideC && in.outsideRh)
        a.airEquilibrium = equilibriumMoistureContent(*in.sorption, *in.outsideC, *in.outsideRh);
    if (in.sorption && in.grainMeanC && in.grainMoistureWet)
        if (const auto erh = equilibriumRelativeHumidity(*in.sorption, *in.grainMoistureWet, *in.grainMeanC))
            a.grainDewPoint = dewPoint(*in.grainMeanC, qMin(*erh, 100.0));

    const auto no = [&a](VentilationRule rule) {
        a.go = false;
        a.rule = rule;
        return a;
    };
    const auto go = [&a](VentilationRule rule) {
        a.go = true;
        a.rule = rule;
        return a;
    };
    // Without what would say the air wets the grain, the fans stay off.
    if (!a.difference || !in.outsideRh || !in.grainMoistureWet || !in.sorption)
        return no(VentilationRule::NotMeasured);
    if (*in.outsideRh >= s.saturatedRh)
        return no(VentilationRule::Saturated);
    if (!a.airEquilibrium || *a.airEquilibrium > *in.grainMoistureWet + s.wettingMargin)
        return no(VentilationRule::WouldWet);
    // A headspace not measured cannot be judged for condensation; the other rules still hold.
    if (in.headspaceC && a.grainDewPoint && *in.headspaceC - *a.grainDewPoint <= s.condensationMargin)
        return no(VentilationRule::Condensation);

    const double difference = *a.difference;
    if (!in.cooling)
        return difference >= s.startDifference ? go(VentilationRule::Start) : no(VentilationRule::TooWarm);
    if (difference > s.continueDifference)
        return go(VentilationRule::Continue);
    const bool even = in.gradientPerMetre && in.topBottomC && *in.gradientPerMetre <= s.evenGradientPerMetre
        && *in.topBottomC <= s.evenTopBottom;
    if (even)
        return no(VentilationRule::CoolingDone);
    // Air still colder than the grain evens a bin that is not yet even; warmer air would heat it.
    return difference > 0 ? go(VentilationRule::Evening) : no(VentilationRule::TooWarm);
}

QString VentilationAdvice::verdict() const
{
    return go ? QStringLiteral("可以通风") : QStringLiteral("不宜通风");
}

QString VentilationAdvice::ruleKey() const
{
    switch (rule) {
    case VentilationRule::NotMeasured: return QStringLiteral("not_measured");
    case VentilationRule::Saturated: return QStringLiteral("saturated");
    case VentilationRule::WouldWet: return QStringLiteral("would_wet");
    case VentilationRule::Condensation: return QStringLiteral("condensation");
    case VentilationRule::TooWarm: return QStringLiteral("too_warm");
    case VentilationRule::CoolingDone: return QStringLiteral("cooling_done");
    case VentilationRule::Start: return QStringLiteral("cool_start");
    case VentilationRule::Continue: return QStringLiteral("cool_continue");
    case VentilationRule::Evening: return QStringLiteral("cool_evening");
    }
    return {};
}

namespace {
QString n1(std::optional<double> v) { return v ? QString::number(*v, 'f', 1) : QStringLiteral("?"); }
} // namespace

QString VentilationAdvice::reason(const VentilationSettings &s) const
{
    switch (rule) {
    case VentilationRule::NotMeasured:
        return QStringLiteral("缺少粮温、外温、外湿或粮食水分，无法判断");
    case VentilationRule::Saturated:
        return QStringLiteral("外界空气接近饱和（湿度 ≥ %1%），可能有雨雾").arg(n1(s.saturatedRh));
    case VentilationRule::WouldWet:
        return QStringLiteral("外界空气的平衡水分 %1% 高于粮食水分加 %2%，通风会使粮食增湿")
            .arg(n1(airEquilibrium), n1(s.wettingMargin));
    case VentilationRule::Condensation:
        return QStringLiteral("仓内空气温度距粮堆露点 %1 °C 不足 %2 °C，有结露危险")
            .arg(n1(grainDewPoint), n1(s.condensationMargin));
    case VentilationRule::TooWarm:
        return QStringLiteral("粮温仅高于外温 %1 °C（开始降温需 ≥ %2 °C）").arg(n1(difference), n1(s.startDifference));
    case VentilationRule::CoolingDone:
        return QStringLiteral("粮温与外温差 %1 °C（≤ %2 °C），粮堆温度已均匀，停止通风")
            .arg(n1(difference), n1(s.continueDifference));
    case VentilationRule::Start:
        return QStringLiteral("粮温高于外温 %1 °C（≥ %2 °C），开始降温通风").arg(n1(difference), n1(s.startDifference));
    case VentilationRule::Continue:
        return QStringLiteral("粮温高于外温 %1 °C（> %2 °C），继续降温通风").arg(n1(difference), n1(s.continueDifference));
    case VentilationRule::Evening:
        return QStringLiteral("粮温高于外温 %1 °C，粮堆温度尚不均匀，继续通风").arg(n1(difference));
    }
    return {};
}

QString VentilationAdvice::reasonEnglish(const VentilationSettings &s) const
{
    switch (rule) {
    case VentilationRule::NotMeasured:
        return QStringLiteral("grain temperature, outside air or grain moisture not known");
    case VentilationRule::Saturated:
        return QStringLiteral("outside air near saturation (RH >= %1%): rain or fog").arg(n1(s.saturatedRh));
    case VentilationRule::WouldWet:
        return QStringLiteral("the air's equilibrium moisture %1% is above the grain's plus %2%: it would wet the grain")
            .arg(n1(airEquilibrium), n1(s.wettingMargin));
    case VentilationRule::Condensation:
        return QStringLiteral("headspace within %2 °C of the grain's dew point %1 °C: condensation")
            .arg(n1(grainDewPoint), n1(s.condensationMargin));
    case VentilationRule::TooWarm:
        return QStringLiteral("grain only %1 °C above the outside air (%2 °C to start)").arg(n1(difference), n1(s.startDifference));
    case VentilationRule::CoolingDone:
        return QStringLiteral("grain %1 °C above the air (at most %2 °C) and even: stop").arg(n1(difference), n1(s.continueDifference));
    case VentilationRule::Start:
        return QStringLiteral("grain %1 °C above the outside air (at least %2 °C): start cooling").arg(n1(difference), n1(s.startDifference));
    case VentilationRule::Continue:
        return QStringLiteral("grain %1 °C above the outside air (more than %2 °C): keep cooling").arg(n1(difference), n1(s.continueDifference));
    case VentilationRule::Evening:
        return QStringLiteral("grain %1 °C above the outside air and not yet even: keep cooling").arg(n1(difference));
    }
    return {};
}

QByteArray VentilationAdvice::json(const VentilationSettings &s) const
{
    QJsonObject o{{QStringLiteral("go"), go}, {QStringLiteral("rule"), ruleKey()},
                  {QStringLiteral("verdict"), verdict()}, {QStringLiteral("reason"), reason(s)}};
    if (difference)
        o.insert(QStringLiteral("difference"), *difference);
    if (airEquilibrium)
        o.insert(QStringLiteral("air_equilibrium"), *airEquilibrium);
    if (grainDewPoint)
        o.insert(QStringLiteral("grain_dew_point"), *grainDewPoint);
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

FanDecision decideFan(const FanState &state, bool adviceGo, qint64 nowMs, const FanSettings &s)
{
    if (state.manual)
        return {};
    const qint64 since = nowMs - state.sinceMs;
    if (state.on) {
        if (!adviceGo)
            return {false, FanReason::Interlock};
        if (since >= s.maxRunMs)
            return {false, FanReason::MaxRun};
        return {};
    }
    if (!adviceGo)
        return {};
    const qint64 rest = state.lastSwitch == FanReason::MaxRun ? s.minRestMs
        : state.lastSwitch == FanReason::None                 ? 0
                                                              : s.minOffMs;
    if (state.sinceMs != 0 && since < rest)
        return {};
    return {true, FanReason::Advice};
}

std::optional<VentilationAdvice> adviceFromJson(const QByteArray &json)
{
    const QJsonObject o = QJsonDocument::fromJson(json).object();
    const QString key = o.value(QStringLiteral("rule")).toString();
    for (int r = int(VentilationRule::NotMeasured); r <= int(VentilationRule::Evening); ++r) {
        VentilationAdvice a;
        a.rule = VentilationRule(r);
        if (a.ruleKey() != key)
            continue;
        a.go = o.value(QStringLiteral("go")).toBool();
        const auto number = [&o](const char *name) {
            const QJsonValue v = o.value(QLatin1String(name));
            return v.isDouble() ? std::optional<double>(v.toDouble()) : std::nullopt;
        };
        a.difference = number("difference");
        a.airEquilibrium = number("air_equilibrium");
        a.grainDewPoint = number("grain_dew_point");
        return a;
    }
    return std::nullopt;
}

FanReason fanReasonFromKey(const QString &key)
{
    for (FanReason r : {FanReason::Advice, FanReason::Interlock, FanReason::MaxRun, FanReason::Manual})
        if (fanReasonKey(r) == key)
            return r;
    return FanReason::None;
}

QString fanReasonKey(FanReason reason)
{
    switch (reason) {
    case FanReason::None: return {};
    case FanReason::Advice: return QStringLiteral("advice");
    case FanReason::Interlock: return QStringLiteral("interlock");
    case FanReason::MaxRun: return QStringLiteral("max_run");
    case FanReason::Manual: return QStringLiteral("manual");
    }
    return {};
}

} // namespace vx
