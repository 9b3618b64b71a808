#pragma once

#include <QString>

#include <optional>

namespace vx {

// Moist air and grain in equilibrium with it: what the ventilation advisor
// weighs before it lets a fan blow outside air through a bin.

// Saturation vapour pressure over water (hPa) and the dew point (°C), in the
// Magnus form with the constants of Alduchov & Eskridge (1996, J. Appl.
// Meteor. 35: 601-609): a = 17.625, b = 243.04 °C, c = 6.1094 hPa; within
// 0.1 °C of the tables from -40 to 50 °C. Nothing for RH outside (0, 100].
double saturationVapourPressureHpa(double celsius);
std::optional<double> dewPoint(double celsius, double relativeHumidity);

// The four sorption isotherms of ASAE D245.5 (Moisture relationships of
// plant-based agricultural products), M the moisture content in % dry
// basis, T in °C, ERH a fraction:
//   modified Henderson   ERH = 1 - exp(-A (T + C) M^B)
//   modified Chung-Pfost ERH = exp(-A / (T + C) exp(-B M))
//   modified Halsey      ERH = exp(-exp(A + C T) / M^B)
//   modified Oswin       ERH = 1 / (((A + C T) / M)^B + 1)
enum class SorptionForm { Henderson, ChungPfost, Halsey, Oswin };
struct SorptionConstants {
    SorptionForm form = SorptionForm::Henderson;
    double a = 0, b = 0, c = 0;
};

// The constants used for a grain: maize (yellow dent corn) and paddy (rough
// rice) in the modified Henderson form, wheat (hard red) and durum wheat in
// the modified Chung-Pfost form, soybean in the modified Henderson form, all
// from ASAE D245.5 (1995, R2001). The grain is named as the depot file names
// it ("wheat", "durum", "maize", "paddy", "soybean", or 小麦, 玉米, 稻谷, 大豆);
// nothing for a grain we have no constants for.
std::optional<SorptionConstants> sorptionFor(const QString &grain);

// The grain's equilibrium relative humidity (%) at its moisture content (%
// wet basis, as the lab gives it) and temperature; nothing outside the
// equation's sense (moisture not in (0, 60), a temperature at or below -C).
std::optional<double> equilibriumRelativeHumidity(const SorptionConstants &k, double moistureWetPercent,
                                                  double celsius);
// The moisture content (% wet basis) grain would come to in air of this
// temperature and relative humidity (%); nothing for RH outside (0, 100).
std::optional<double> equilibriumMoistureContent(const SorptionConstants &k, double celsius,
                                                 double relativeHumidity);

double wetToDryBasis(double wetPercent);
double dryToWetBasis(double dryPercent);

} // namespace vx
