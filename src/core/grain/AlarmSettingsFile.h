#pragma once

#include "core/air/VentilationAdvisor.h"
#include "core/grain/AlarmRules.h"
#include "core/grain/StorageRules.h"

#include <QStringList>

#include <optional>

namespace vx {

// alarms.ini in the program directory, shared by the window and vxcollect:
//   [alarms]      high_limit, hot_point_delta, rise_per_day, rise_window_hours,
//                 rise_per_week, jump_step, fault_clear_readings,
//                 silent_minutes (0: the collecting program's own default),
//                 gradient_per_metre, top_bottom_difference, same_grain_margin (bins of a depot file),
//                 inspection_threshold, inspection_{safe,semi_safe,dangerous}_{cool,warm} (days)
//   [cable_high]  3=35          a cable's own limit
//   [point_high]  3.5=28        cable 3, layer 5
//   [installed]   3=1-16        the points of cable 3 that have a sensor (else: those that gave readings)
//   [ventilation] start_difference, continue_difference, even_gradient, even_top_bottom,
//                 wetting_margin, saturated_rh, condensation_margin (the advisor's limits);
//                 automatic = on (vxcollect switches the fans of [fans.BIN]), max_run_hours,
//                 min_rest_hours, min_off_minutes, every_seconds (how often the advice is weighed)
// A missing file or key means the default.
QString alarmSettingsPath(const QString &programDir);

struct AlarmSettingsRead {
    AlarmSettings settings;
    int silentMinutes = 0;
    StorageSettings storage;
    InspectionIntervals inspection;
    VentilationSettings ventilation;
    FanSettings fans;
    bool fansAutomatic = false;
    QStringList errors; // one line per bad value; the default is used for it
};
AlarmSettingsRead readAlarmSettings(const QString &path);

// Out-of-range values, one message each (empty: good).
QStringList validateAlarmSettings(const AlarmSettings &settings, int silentMinutes);
bool writeAlarmSettings(const QString &path, const AlarmSettings &settings, int silentMinutes, QString *error);

// "1-16", "1,3,5-8": layers 1..18, in order; nothing for anything else.
std::optional<QList<int>> parseLayerList(const QString &text);

// "3=35, 4=32" and "3.5=28" lines, as the settings dialog edits them.
QString overridesText(const AlarmSettings &settings);
// Reads them back into settings; false and *error naming the bad item.
bool parseOverrides(const QString &text, AlarmSettings *settings, QString *error);

} // namespace vx
