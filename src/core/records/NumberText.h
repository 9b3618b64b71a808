#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

// The rules by which the operator's decimal texts become numbers, and numbers
// become texts. Every handler goes through these so that "2.9", " 7 ", "1e2"
// and "abc" mean the same thing in every field.
namespace vx::num {

// A complete decimal number, apart from leading and trailing blanks: optional
// sign, digits with an optional decimal point and fraction, optional exponent.
// Empty text, other characters, and values too large for a double are not.
bool IsNumeric(const QString &text);

// The value of a numeric text; nothing when IsNumeric is false.
std::optional<double> numericValue(const QString &text);

// The leading numeric part of a text (blanks before it skipped); 0 when the
// text does not begin with a number. "12abc" gives 12, "x1" gives 0.
double Val(const QString &text);

// Whole part: rounded towards minus infinity (2.7 -> 2, -0.5 -> -1).
double wholePart(double value);

// Nearest whole number, an exact half going to the even neighbour.
double roundHalfEven(double value);

// value as an integer when it is whole and lies in [lo, hi]; nothing otherwise.
std::optional<qint64> inRange(double value, qint64 lo, qint64 hi);

// A whole value that fits one byte, else nothing.
inline std::optional<quint8> byteOf(double whole)
{
    const auto v = inRange(whole, 0, 255);
    return v ? std::optional<quint8>(quint8(*v)) : std::nullopt;
}

// n with at least two digits: 2 -> "02", 123 -> "123", -2 -> "-02".
QString twoDigits(qint64 n);

// A text formatted as a number with at least two digits: a numeric text is
// rounded (half away from zero) and padded, "2" -> "02", "2.6" -> "03";
// any other text is returned unchanged.
QString twoDigitsText(const QString &text);

// hundredths / 100 in the "#0.00" format: 2534 -> "25.34", -536 -> "-5.36".
QString hundredthsText(qint32 hundredths);

} // namespace vx::num
