#include "store/ReadingSet.h"

#include "acquisition/Measurement.h"

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

QString statusName(ReadingStatus status)
{
    switch (status) {
    case ReadingStatus::Ok: return QStringLiteral("ok");
    case ReadingStatus::NoReading: return QStringLiteral("no_reading");
    case ReadingStatus::PowerOn: return QStringLiteral("power_on");
    case ReadingStatus::OutOfRange: return QStringLiteral("out_of_range");
    }
    return QString();
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
