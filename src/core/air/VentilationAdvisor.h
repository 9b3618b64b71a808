#pragma once

#include "core/air/Psychrometrics.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace vx {

// Whether a bin's aeration fans should blow outside air through it now:
// cooling when the grain is well above the air, never with air that would
// wet the grain, in near-saturated air (rain, fog) or where the headspace
// would condense. Every threshold is settable ([ventilation] in alarms.ini).
struct VentilationSettings {
    double startDifference = 8;     // °C the grain's mean above the outside air to start cooling
    double continueDifference = 4;  // °C it must stay above to keep cooling an even bin
    double evenGradientPerMetre = 1; // °C/m: the bin is even when its steepest gradient ...
    double evenTopBottom = 3;       // ... and its top to bottom are at most these
    double wettingMargin = 0.5;     // % moisture the air's equilibrium may be above the grain's
    double saturatedRh = 95;        // % RH from which the air counts as rain or fog
    double condensationMargin = 3;  // °C the headspace must stay above the grain's dew point
    int everySeconds = 60;          // how often the advice is weighed
};

// What the advisor knows of a bin now; each value absent when not measured.
struct VentilationInputs {
    std::optional<double> grainMeanC;
    std::optional<double> gradientPerMetre; // the bin's steepest between neighbouring points
    std::optional<double> topBottomC;       // top layer's mean minus the bottom's, as a magnitude
    std::optional<double> outsideC, outsideRh;
    std::optional<double> headspaceC, headspaceRh;
    std::optional<double> grainMoistureWet; // % wet basis, from the lab
    std::optional<SorptionConstants> sorption;
    bool cooling = false;                    // the last advice was to cool
};

enum class VentilationRule {
    NotMeasured,    // no: the grain, the outside air or the grain's moisture is not known
    Saturated,      // no: RH at or above the saturated limit
    WouldWet,       // no: the air's equilibrium moisture above the grain's plus the margin
    Condensation,   // no: headspace within the margin of the grain's dew point
    TooWarm,        // no: the air not cold enough to start (or to go on) cooling
    CoolingDone,    // no: cooled, and the bin is even
    Start,          // go: the grain far above the air
    Continue,       // go: cooling goes on
    Evening,        // go: within the difference to stop, but the bin is not yet even
};

struct VentilationAdvice {
    bool go = false;
    VentilationRule rule = VentilationRule::NotMeasured;
    // The numbers that decided it (absent: not known).
    std::optional<double> difference;     // grain mean minus outside air, °C
    std::optional<double> airEquilibrium; // outside air's equilibrium moisture, % wet basis
    std::optional<double> grainDewPoint;  // °C of the air among the grain
    // "可以通风" or "不宜通风".
    QString verdict() const;
    // Why, in words with the numbers: "粮温高于外温 9.2 °C（≥ 8.0 °C），开始降温".
    QString reason(const VentilationSettings &settings) const;
    QString reasonEnglish(const VentilationSettings &settings) const;
    // "cool_start", "would_wet", ... as stored.
    QString ruleKey() const;
    QByteArray json(const VentilationSettings &settings) const;
};

VentilationAdvice adviseVentilation(const VentilationInputs &in, const VentilationSettings &settings = {});
// An advice as stored (its json()), read back; nothing for what is not one.
std::optional<VentilationAdvice> adviceFromJson(const QByteArray &json);

// The fans of a bin under automatic control: on while the advice says go, at
// most maxRun at a time, then at least minRest off; never on while it says
// no (the interlock), and after an interlock off for at least minOff, so a
// humid minute does not start and stop the motors. A manual switch is the keeper's and stands until
// automatic control is switched on again.
struct FanSettings {
    qint64 maxRunMs = 6 * 3600 * 1000LL;
    qint64 minRestMs = 10 * 3600 * 1000LL;
    qint64 minOffMs = 30 * 60 * 1000LL;
};
enum class FanReason { None, Advice, Interlock, MaxRun, Manual };
struct FanState {
    bool on = false;
    FanReason lastSwitch = FanReason::None;
    qint64 sinceMs = 0;  // when it last switched (0: never)
    bool manual = false;
};
struct FanDecision {
    bool switchTo = false;
    FanReason reason = FanReason::None; // None: no switch
};
FanDecision decideFan(const FanState &state, bool adviceGo, qint64 nowMs, const FanSettings &settings = {});
QString fanReasonKey(FanReason reason);
FanReason fanReasonFromKey(const QString &key);

} // namespace vx
