#include "core/grain/AlarmSettingsFile.h"

#include <QCoreApplication>

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>

namespace vx {

namespace {
struct Range {
    const char *key;
    const char *name; // translated when shown
    double lo, hi;
};
const Range kHigh{"high_limit", QT_TRANSLATE_NOOP("vx", "高温限"), -55, 125};
const Range kDelta{"hot_point_delta", QT_TRANSLATE_NOOP("vx", "热点温差"), 0.1, 50};
const Range kRise{"rise_per_day", QT_TRANSLATE_NOOP("vx", "温升速率"), 0.1, 50};
const Range kWindow{"rise_window_hours", QT_TRANSLATE_NOOP("vx", "温升时段（小时）"), 1, 720};
const Range kJump{"jump_step", QT_TRANSLATE_NOOP("vx", "跳变幅度"), 0.5, 100};
const Range kWeek{"rise_per_week", QT_TRANSLATE_NOOP("vx", "周温升速率"), 0.1, 100};
const Range kClear{"fault_clear_readings", QT_TRANSLATE_NOOP("vx", "故障解除所需读数"), 1, 100};
const Range kSilent{"silent_minutes", QT_TRANSLATE_NOOP("vx", "无响应判定（分钟）"), 0, 1440};
const Range kLimit{"", QT_TRANSLATE_NOOP("vx", "温度限"), -55, 125};
const Range kGradient{"gradient_per_metre", QT_TRANSLATE_NOOP("vx", "温度梯度限（°C/m）"), 0.1, 50};
const Range kTopBottom{"top_bottom_difference", QT_TRANSLATE_NOOP("vx", "上下层温差限"), 0.1, 50};
const Range kSameGrain{"same_grain_margin", QT_TRANSLATE_NOOP("vx", "同品种仓温差限"), 0.1, 50};
const Range kInspectionThreshold{"inspection_threshold", QT_TRANSLATE_NOOP("vx", "检查周期分界温度"), -20, 50};
// Days between inspections, by class, while the warmest grain is at most the threshold (cool) and above it (warm).
const Range kInspectionDays[] = {
    {"inspection_safe_cool", QT_TRANSLATE_NOOP("vx", "安全粮检查周期（天）"), 1, 365},
    {"inspection_safe_warm", QT_TRANSLATE_NOOP("vx", "安全粮高温检查周期（天）"), 1, 365},
    {"inspection_semi_safe_cool", QT_TRANSLATE_NOOP("vx", "半安全粮检查周期（天）"), 1, 365},
    {"inspection_semi_safe_warm", QT_TRANSLATE_NOOP("vx", "半安全粮高温检查周期（天）"), 1, 365},
    {"inspection_dangerous_cool", QT_TRANSLATE_NOOP("vx", "危险粮检查周期（天）"), 1, 365},
    {"inspection_dangerous_warm", QT_TRANSLATE_NOOP("vx", "危险粮高温检查周期（天）"), 1, 365},
};

const Range kVentilation[] = {
    {"start_difference", QT_TRANSLATE_NOOP("vx", "开始降温通风温差"), 0.5, 40},
    {"continue_difference", QT_TRANSLATE_NOOP("vx", "继续降温通风温差"), 0, 40},
    {"even_gradient", QT_TRANSLATE_NOOP("vx", "停止通风温度梯度（°C/m）"), 0.1, 50},
    {"even_top_bottom", QT_TRANSLATE_NOOP("vx", "停止通风上下层温差"), 0.1, 50},
    {"wetting_margin", QT_TRANSLATE_NOOP("vx", "增湿余量（%水分）"), -5, 5},
    {"saturated_rh", QT_TRANSLATE_NOOP("vx", "雨雾湿度（%）"), 50, 100},
    {"condensation_margin", QT_TRANSLATE_NOOP("vx", "结露余量（°C）"), 0, 20},
    {"max_run_hours", QT_TRANSLATE_NOOP("vx", "风机最长连续运行（小时）"), 0.5, 72},
    {"min_rest_hours", QT_TRANSLATE_NOOP("vx", "风机最短休息（小时）"), 0, 72},
    {"min_off_minutes", QT_TRANSLATE_NOOP("vx", "联锁停机后最短停机（分钟）"), 0, 1440},
    {"every_seconds", QT_TRANSLATE_NOOP("vx", "通风判断间隔（秒）"), 1, 3600},
};

QString rangeMessage(const Range &r, double v)
{
    return QCoreApplication::translate("vx", "%1 %2 超出范围 %3 ~ %4").arg(QCoreApplication::translate("vx", r.name)).arg(v).arg(r.lo).arg(r.hi);
}
} // namespace

QString alarmSettingsPath(const QString &programDir)
{
    return QDir(programDir).filePath(QStringLiteral("alarms.ini"));
}

AlarmSettingsRead readAlarmSettings(const QString &path)
{
    AlarmSettingsRead read;
    if (!QFileInfo(path).isFile())
        return read;
    QSettings ini(path, QSettings::IniFormat);
    auto number = [&](const Range &r, double fallback, const char *group = "alarms") {
        const QString key = QString::fromLatin1(group) + QLatin1Char('/') + QString::fromLatin1(r.key);
        if (!ini.contains(key))
            return fallback;
        bool ok = false;
        const double v = ini.value(key).toString().trimmed().toDouble(&ok);
        // NaN compares false both ways: only "within" lets a value through.
        if (!ok || !(v >= r.lo && v <= r.hi)) {
            read.errors << QStringLiteral("%1: %2").arg(path, ok ? rangeMessage(r, v)
                                                                   : QCoreApplication::translate("vx", "%1 \"%2\" 不是数字")
                                                                         .arg(QCoreApplication::translate("vx", r.name), ini.value(key).toString()));
            return fallback;
        }
        return v;
    };
    AlarmSettings &s = read.settings;
    s.highLimit = number(kHigh, s.highLimit);
    s.hotPointDelta = number(kDelta, s.hotPointDelta);
    s.risePerDay = number(kRise, s.risePerDay);
    s.riseWindowHours = int(number(kWindow, s.riseWindowHours));
    s.jumpStep = number(kJump, s.jumpStep);
    s.risePerWeek = number(kWeek, s.risePerWeek);
    s.faultClearReadings = int(number(kClear, s.faultClearReadings));
    read.silentMinutes = int(number(kSilent, 0));
    StorageSettings &storage = read.storage;
    storage.gradientPerMetre = number(kGradient, storage.gradientPerMetre);
    storage.topBottomDifference = number(kTopBottom, storage.topBottomDifference);
    storage.sameGrainMargin = number(kSameGrain, storage.sameGrainMargin);
    InspectionIntervals &i = read.inspection;
    i.thresholdC = number(kInspectionThreshold, i.thresholdC);
    int *days[] = {&i.safeCool, &i.safeWarm, &i.semiSafeCool, &i.semiSafeWarm, &i.dangerousCool, &i.dangerousWarm};
    for (std::size_t k = 0; k < std::size(days); ++k)
        *days[k] = int(number(kInspectionDays[k], *days[k]));
    VentilationSettings &v = read.ventilation;
    double *limits[] = {&v.startDifference, &v.continueDifference, &v.evenGradientPerMetre, &v.evenTopBottom,
                        &v.wettingMargin, &v.saturatedRh, &v.condensationMargin};
    for (std::size_t k = 0; k < std::size(limits); ++k)
        *limits[k] = number(kVentilation[k], *limits[k], "ventilation");
    FanSettings &f = read.fans;
    f.maxRunMs = qint64(number(kVentilation[7], f.maxRunMs / 3600000.0, "ventilation") * 3600000);
    f.minRestMs = qint64(number(kVentilation[8], f.minRestMs / 3600000.0, "ventilation") * 3600000);
    f.minOffMs = qint64(number(kVentilation[9], f.minOffMs / 60000.0, "ventilation") * 60000);
    v.everySeconds = int(number(kVentilation[10], v.everySeconds, "ventilation"));
    const QString automatic = ini.value(QStringLiteral("ventilation/automatic"), QStringLiteral("off")).toString().trimmed().toLower();
    read.fansAutomatic = automatic == QLatin1String("on") || automatic == QLatin1String("true") || automatic == QLatin1String("1");
    if (!read.fansAutomatic && automatic != QLatin1String("off") && automatic != QLatin1String("false") && automatic != QLatin1String("0"))
        read.errors << QStringLiteral("%1: %2").arg(path, QCoreApplication::translate("vx", "风机自动控制 \"%1\" 应为 on 或 off").arg(automatic));
    // [installed] 3=1-16: the points of cable 3 that have a sensor.
    ini.beginGroup(QStringLiteral("installed"));
    for (const QString &key : ini.childKeys()) {
        bool ok = false;
        const int cable = key.toInt(&ok);
        const QVariant v = ini.value(key);
        const QString text = v.typeId() == QMetaType::QStringList ? v.toStringList().join(QLatin1Char(',')) : v.toString();
        const auto layers = parseLayerList(text);
        if (!ok || cable < 1 || cable > kCables || !layers)
            read.errors << QStringLiteral("%1: %2").arg(path, QCoreApplication::translate("vx", "已安装测点 \"%1=%2\" 应为 电缆=层列表（如 3=1-16）")
                                                                   .arg(key, text));
        else
            s.installed.insert(cable, *layers);
    }
    ini.endGroup();
    QStringList lines;
    for (const QString &group : {QStringLiteral("cable_high"), QStringLiteral("point_high")}) {
        ini.beginGroup(group);
        for (const QString &key : ini.childKeys())
            lines << key + QLatin1Char('=') + ini.value(key).toString();
        ini.endGroup();
    }
    QString why;
    if (!parseOverrides(lines.join(QLatin1Char('\n')), &s, &why))
        read.errors << QStringLiteral("%1: %2").arg(path, why);
    return read;
}

std::optional<QList<int>> parseLayerList(const QString &text)
{
    QList<int> layers;
    for (const QString &part : text.split(QRegularExpression(QStringLiteral("[,\\s]+")), Qt::SkipEmptyParts)) {
        const QStringList ends = part.split(QLatin1Char('-'));
        bool ok1 = false, ok2 = true;
        const int from = ends[0].toInt(&ok1);
        const int to = ends.size() == 2 ? ends[1].toInt(&ok2) : from;
        if (ends.size() > 2 || !ok1 || !ok2 || from < 1 || to > kLayers || from > to)
            return std::nullopt;
        for (int l = from; l <= to; ++l)
            if (!layers.contains(l))
                layers << l;
    }
    std::sort(layers.begin(), layers.end());
    return layers;
}

QStringList validateAlarmSettings(const AlarmSettings &s, int silentMinutes)
{
    QStringList errors;
    auto check = [&](const Range &r, double v) {
        if (!(v >= r.lo && v <= r.hi))
            errors << rangeMessage(r, v);
    };
    check(kHigh, s.highLimit);
    check(kDelta, s.hotPointDelta);
    check(kRise, s.risePerDay);
    check(kWindow, s.riseWindowHours);
    check(kJump, s.jumpStep);
    check(kWeek, s.risePerWeek);
    check(kClear, s.faultClearReadings);
    check(kSilent, silentMinutes);
    for (auto it = s.cableHigh.begin(); it != s.cableHigh.end(); ++it)
        check(kLimit, it.value());
    for (auto it = s.pointHigh.begin(); it != s.pointHigh.end(); ++it)
        check(kLimit, it.value());
    return errors;
}

bool writeAlarmSettings(const QString &path, const AlarmSettings &s, int silentMinutes, QString *error)
{
    QSettings ini(path, QSettings::IniFormat);
    // Only what the dialog edits is replaced: the storage rules, the inspection
    // intervals and [ventilation] are the file's own and stay as written.
    for (const QString &group : {QStringLiteral("cable_high"), QStringLiteral("point_high"), QStringLiteral("installed")})
        ini.remove(group);
    ini.setValue(QStringLiteral("alarms/high_limit"), s.highLimit);
    ini.setValue(QStringLiteral("alarms/hot_point_delta"), s.hotPointDelta);
    ini.setValue(QStringLiteral("alarms/rise_per_day"), s.risePerDay);
    ini.setValue(QStringLiteral("alarms/rise_window_hours"), s.riseWindowHours);
    ini.setValue(QStringLiteral("alarms/jump_step"), s.jumpStep);
    ini.setValue(QStringLiteral("alarms/rise_per_week"), s.risePerWeek);
    ini.setValue(QStringLiteral("alarms/fault_clear_readings"), s.faultClearReadings);
    ini.setValue(QStringLiteral("alarms/silent_minutes"), silentMinutes);
    for (auto it = s.cableHigh.begin(); it != s.cableHigh.end(); ++it)
        ini.setValue(QStringLiteral("cable_high/%1").arg(it.key()), it.value());
    for (auto it = s.pointHigh.begin(); it != s.pointHigh.end(); ++it)
        ini.setValue(QStringLiteral("point_high/%1.%2").arg(it.key().first).arg(it.key().second), it.value());
    for (auto it = s.installed.begin(); it != s.installed.end(); ++it) {
        QStringList layers;
        for (int l : it.value())
            layers << QString::number(l);
        ini.setValue(QStringLiteral("installed/%1").arg(it.key()), layers.join(QLatin1Char(' ')));
    }
    ini.sync();
    if (ini.status() != QSettings::NoError) {
        *error = QCoreApplication::translate("vx", "无法写入 %1").arg(QDir::toNativeSeparators(path));
        return false;
    }
    return true;
}

QString overridesText(const AlarmSettings &s)
{
    QStringList lines;
    for (auto it = s.cableHigh.begin(); it != s.cableHigh.end(); ++it)
        lines << QStringLiteral("%1=%2").arg(it.key()).arg(it.value());
    for (auto it = s.pointHigh.begin(); it != s.pointHigh.end(); ++it)
        lines << QStringLiteral("%1.%2=%3").arg(it.key().first).arg(it.key().second).arg(it.value());
    return lines.join(QLatin1Char('\n'));
}

bool parseOverrides(const QString &text, AlarmSettings *settings, QString *error)
{
    static const QRegularExpression item(QStringLiteral("^\\s*(\\d{1,2})(?:\\.(\\d{1,2}))?\\s*=\\s*(-?\\d+(?:\\.\\d+)?)\\s*$"));
    QMap<int, double> cables;
    QMap<QPair<int, int>, double> points;
    for (const QString &raw : text.split(QRegularExpression(QStringLiteral("[\\n,，;；]")), Qt::SkipEmptyParts)) {
        if (raw.trimmed().isEmpty())
            continue;
        const auto m = item.match(raw);
        const int cable = m.captured(1).toInt();
        const int layer = m.captured(2).isEmpty() ? 0 : m.captured(2).toInt();
        const double limit = m.captured(3).toDouble();
        if (!m.hasMatch() || cable < 1 || cable > kCables || (!m.captured(2).isEmpty() && (layer < 1 || layer > kLayers))
            || limit < kLimit.lo || limit > kLimit.hi) {
            *error = QCoreApplication::translate("vx", "单独高温限 \"%1\" 应为 电缆=温度 或 电缆.层=温度（电缆 1-%2，层 1-%3，温度 %4 ~ %5）")
                         .arg(raw.trimmed())
                         .arg(kCables)
                         .arg(kLayers)
                         .arg(kLimit.lo)
                         .arg(kLimit.hi);
            return false;
        }
        if (layer == 0)
            cables.insert(cable, limit);
        else
            points.insert({cable, layer}, limit);
    }
    settings->cableHigh = cables;
    settings->pointHigh = points;
    return true;
}

} // namespace vx
