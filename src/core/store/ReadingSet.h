#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>

#include <optional>

namespace vx {

// What one raw register says about its point.
enum class ReadingStatus : quint8 {
    Ok,          // a temperature
    NoReading,   // raw 65535: the device has no value for the point
    PowerOn,     // exactly 85.00 °C: what a 1-Wire sensor holds before its first conversion
    OutOfRange,  // outside -55 to 125 °C, the sensors' range
};

ReadingStatus statusOf(quint16 raw);
// "ok", "no_reading", "power_on", "out_of_range": as stored and exported.
QString statusName(ReadingStatus status);
const char *statusKey(ReadingStatus status); // the same, static text for C APIs
std::optional<ReadingStatus> statusFromName(const QString &name);
// Degrees Celsius, or nothing for "no reading".
std::optional<double> celsiusOf(quint16 raw);

// One accepted frame's worth of readings: point k (1-based) is raw[k - 1].
struct ReadingSet {
    qint64 timeMs = 0;  // arrival, UTC milliseconds since the epoch
    int address = 0;
    QList<quint16> raw;
};

} // namespace vx
