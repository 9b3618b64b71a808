#include "core/store/ReadingSet.h"

#include "core/frames/Measurement.h"

namespace vx {

ReadingStatus statusOf(quint16 raw)
{
    if (raw == kNoReading)
        return ReadingStatus::NoReading;
    const qint32 hundredths = hundredthsOf(raw);
    if (hundredths == 8500)
        return ReadingStatus::PowerOn;
    if (hundredths < -5500 || hundredths > 12500)
        return ReadingStatus::OutOfRange;
    return ReadingStatus::Ok;
}

const char *statusKey(ReadingStatus status)
{
    switch (status) {
    case ReadingStatus::Ok: return "ok";
    case ReadingStatus::NoReading: return "no_reading";
    case ReadingStatus::PowerOn: return "power_on";
    case ReadingStatus::OutOfRange: return "out_of_range";
    }
    return "";
}

QString statusName(ReadingStatus status)
{
    return QString::fromLatin1(statusKey(status));
}

std::optional<ReadingStatus> statusFromName(const QString &name)
{
    for (ReadingStatus s : {ReadingStatus::Ok, ReadingStatus::NoReading, ReadingStatus::PowerOn, ReadingStatus::OutOfRange})
        if (statusName(s) == name)
            return s;
    return std::nullopt;
}

std::optional<double> celsiusOf(quint16 raw)
{
    if (raw == kNoReading)
        return std::nullopt;
    return hundredthsOf(raw) / 100.0;
}

} // namespace vx
