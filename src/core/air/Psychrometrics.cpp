#include "core/air/Psychrometrics.h"

#include <cmath>

namespace vx {

namespace {
constexpr double kMagnusA = 17.625, kMagnusB = 243.04, kMagnusC = 6.1094;
}

double saturationVapourPressureHpa(double celsius)
{
    return kMagnusC * std::exp(kMagnusA * celsius / (kMagnusB + celsius));
}

std::optional<double> dewPoint(double celsius, double relativeHumidity)
{
    if (!(relativeHumidity > 0 && relativeHumidity <= 100) || !std::isfinite(celsius))
        return std::nullopt;
    const double gamma = std::log(relativeHumidity / 100) + kMagnusA * celsius / (kMagnusB + celsius);
    return kMagnusB * gamma / (kMagnusA - gamma);
}

std::optional<SorptionConstants> sorptionFor(const QString &grain)
{
    const QString g = grain.trimmed().toLower();
    if (g == "maize" || g == "corn" || g == QStringLiteral("玉米"))
        return SorptionConstants{SorptionForm::Henderson, 8.6541e-5, 1.8634, 49.810};
    if (g == "paddy" || g == "rice" || g == QStringLiteral("稻谷"))
        return SorptionConstants{SorptionForm::Henderson, 1.9187e-5, 2.4451, 51.161};
    if (g == "wheat" || g == QStringLiteral("小麦"))
        return SorptionConstants{SorptionForm::ChungPfost, 610.34, 0.15526, 93.213};
    if (g == "durum" || g == QStringLiteral("硬质小麦"))
        return SorptionConstants{SorptionForm::ChungPfost, 921.69, 0.19012, 112.35};
    if (g == "soybean" || g == "soybeans" || g == QStringLiteral("大豆"))
        return SorptionConstants{SorptionForm::Henderson, 30.5327e-5, 1.2164, 134.136};
    return std::nullopt;
}

double wetToDryBasis(double wetPercent) { return 100 * wetPercent / (100 - wetPercent); }
double dryToWetBasis(double dryPercent) { return 100 * dryPercent / (100 + dryPercent); }

std::optional<double> equilibriumRelativeHumidity(const SorptionConstants &k, double moistureWetPercent,
                                                  double celsius)
{
    if (!(moistureWetPercent > 0 && moistureWetPercent < 60) || !std::isfinite(celsius))
        return std::nullopt;
    const double m = wetToDryBasis(moistureWetPercent);
    double erh = 0;
    switch (k.form) {
    case SorptionForm::Henderson:
        if (celsius + k.c <= 0)
            return std::nullopt;
        erh = 1 - std::exp(-k.a * (celsius + k.c) * std::pow(m, k.b));
        break;
    case SorptionForm::ChungPfost:
        if (celsius + k.c <= 0)
            return std::nullopt;
        erh = std::exp(-k.a / (celsius + k.c) * std::exp(-k.b * m));
        break;
    case SorptionForm::Halsey:
        erh = std::exp(-std::exp(k.a + k.c * celsius) / std::pow(m, k.b));
        break;
    case SorptionForm::Oswin: {
        const double scale = k.a + k.c * celsius;
        if (scale <= 0)
            return std::nullopt;
        erh = 1 / (std::pow(scale / m, k.b) + 1);
        break;
    }
    }
    return 100 * erh;
}

std::optional<double> equilibriumMoistureContent(const SorptionConstants &k, double celsius,
                                                 double relativeHumidity)
{
    if (!(relativeHumidity > 0 && relativeHumidity < 100) || !std::isfinite(celsius))
        return std::nullopt;
    const double rh = relativeHumidity / 100;
    double m = 0;
    switch (k.form) {
    case SorptionForm::Henderson:
        if (celsius + k.c <= 0)
            return std::nullopt;
        m = std::pow(-std::log(1 - rh) / (k.a * (celsius + k.c)), 1 / k.b);
        break;
    case SorptionForm::ChungPfost: {
        if (celsius + k.c <= 0)
            return std::nullopt;
        const double inner = -(celsius + k.c) * std::log(rh) / k.a;
        m = -std::log(inner) / k.b;
        break;
    }
    case SorptionForm::Halsey:
        m = std::pow(-std::exp(k.a + k.c * celsius) / std::log(rh), 1 / k.b);
        break;
    case SorptionForm::Oswin: {
        const double scale = k.a + k.c * celsius;
        if (scale <= 0)
            return std::nullopt;
        m = scale * std::pow(rh / (1 - rh), 1 / k.b);
        break;
    }
    }
    if (!(m > 0) || !std::isfinite(m))
        return std::nullopt;
    return dryToWetBasis(m);
}

} // namespace vx
