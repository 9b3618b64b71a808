#include "core/records/NumberText.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace vx::num {

namespace {

bool isBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\r')
        || c == QLatin1Char('\n');
}

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// Length of the longest decimal-number prefix of text starting at pos, or 0.
qsizetype numberPrefix(const QString &text, qsizetype pos)
{
    qsizetype i = pos;
    const qsizetype n = text.size();
    if (i < n && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-')))
        ++i;
    qsizetype digits = 0;
    while (i < n && isDigit(text[i])) { ++i; ++digits; }
    if (i < n && text[i] == QLatin1Char('.')) {
        qsizetype j = i + 1;
        qsizetype fraction = 0;
        while (j < n && isDigit(text[j])) { ++j; ++fraction; }
        if (digits + fraction > 0) { i = j; digits += fraction; }
    }
    if (digits == 0)
        return 0;
    if (i < n && (text[i] == QLatin1Char('e') || text[i] == QLatin1Char('E'))) {
        qsizetype j = i + 1;
        if (j < n && (text[j] == QLatin1Char('+') || text[j] == QLatin1Char('-')))
            ++j;
        qsizetype expDigits = 0;
        while (j < n && isDigit(text[j])) { ++j; ++expDigits; }
        if (expDigits > 0)
            i = j;
    }
    return i - pos;
}

// Parses a prefix found by numberPrefix. from_chars ignores the C locale,
// which Qt sets from the environment (a decimal comma would break strtod).
double parse(const QString &text, qsizetype pos, qsizetype len)
{
    QByteArray ascii = text.mid(pos, len).toLatin1();
    bool negative = false;
    if (ascii.startsWith('+') || ascii.startsWith('-')) {
        negative = ascii.startsWith('-');
        ascii.remove(0, 1);
    }
    double v = 0.0;
    const auto [ptr, ec] = std::from_chars(ascii.constData(), ascii.constData() + ascii.size(), v);
    Q_UNUSED(ptr);
    if (ec == std::errc::result_out_of_range) {
        // Tiny magnitudes underflow to zero; huge ones overflow.
        const bool tiny = ascii.contains("e-") || ascii.contains("E-");
        v = tiny ? 0.0 : std::numeric_limits<double>::infinity();
    }
    return negative ? -v : v;
}

} // namespace

std::optional<double> numericValue(const QString &text)
{
    qsizetype start = 0;
    qsizetype end = text.size();
    while (start < end && isBlank(text[start])) ++start;
    while (end > start && isBlank(text[end - 1])) --end;
    if (start == end)
        return std::nullopt;
    const qsizetype len = numberPrefix(text, start);
    if (len != end - start)
        return std::nullopt;
    const double v = parse(text, start, len);
    if (!std::isfinite(v))
        return std::nullopt;
    return v;
}

bool IsNumeric(const QString &text)
{
    return numericValue(text).has_value();
}

double Val(const QString &text)
{
    qsizetype start = 0;
    while (start < text.size() && isBlank(text[start])) ++start;
    const qsizetype len = numberPrefix(text, start);
    if (len == 0)
        return 0.0;
    const double v = parse(text, start, len);
    if (std::isinf(v))
        return v > 0 ? std::numeric_limits<double>::max() : std::numeric_limits<double>::lowest();
    return v;
}

double wholePart(double value)
{
    return std::floor(value);
}

double roundHalfEven(double value)
{
    // nearbyint follows the current rounding mode, which is round-to-nearest-even.
    return std::nearbyint(value);
}

std::optional<qint64> inRange(double value, qint64 lo, qint64 hi)
{
    if (!std::isfinite(value) || value != std::floor(value))
        return std::nullopt;
    if (value < double(lo) || value > double(hi))
        return std::nullopt;
    return qint64(value);
}

QString twoDigits(qint64 n)
{
    const QString digits = QString::number(n < 0 ? -n : n).rightJustified(2, QLatin1Char('0'));
    return n < 0 ? QLatin1Char('-') + digits : digits;
}

QString twoDigitsText(const QString &text)
{
    const auto v = numericValue(text);
    if (!v)
        return text;
    const double rounded = std::round(*v); // formatting rounds half away from zero
    if (std::fabs(rounded) < 9.0e15)
        return twoDigits(qint64(rounded));
    return QString::number(rounded, 'f', 0);
}

QString hundredthsText(qint32 hundredths)
{
    // Built by hand: this runs for every value of every reply.
    char buffer[16];
    char *end = buffer + sizeof buffer;
    char *p = end;
    qint64 mag = hundredths;
    const bool negative = mag < 0;
    if (negative)
        mag = -mag;
    *--p = char('0' + mag % 10);
    *--p = char('0' + mag / 10 % 10);
    *--p = '.';
    mag /= 100;
    do {
        *--p = char('0' + mag % 10);
        mag /= 10;
    } while (mag > 0);
    if (negative)
        *--p = '-';
    return QString::fromLatin1(p, end - p);
}

} // namespace vx::num
