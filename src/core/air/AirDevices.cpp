#include "core/air/AirDevices.h"

#include "core/frames/Crc16.h"

#include <QByteArray>

namespace vx {

const QList<AirProfile> &builtinAirProfiles()
{
    using Q = AirValue::Quantity;
    static const AirValue t0{Q::Temperature, 0, 0.1, true, QStringLiteral("°C"), -40, 80};
    static const AirValue h1{Q::Humidity, 1, 0.1, false, QStringLiteral("%RH"), 0, 100};
    static const QList<AirProfile> profiles{
        {QStringLiteral("th"), 0x03, 0, 2, {t0, h1}},
        {QStringLiteral("ht"), 0x03, 0, 2, {AirValue{Q::Humidity, 0, 0.1, false, QStringLiteral("%RH"), 0, 100},
                                            AirValue{Q::Temperature, 1, 0.1, true, QStringLiteral("°C"), -40, 80}}},
    };
    return profiles;
}

std::optional<AirProfile> airProfileNamed(const QString &name)
{
    for (const AirProfile &p : builtinAirProfiles())
        if (p.name == name.trimmed().toLower())
            return p;
    return std::nullopt;
}

AirReading decodeAir(const AirProfile &profile, const QList<quint16> &registers)
{
    AirReading r;
    if (registers.size() != profile.count) {
        r.fault = QStringLiteral("%1 registers where %2 were asked").arg(registers.size()).arg(profile.count);
        return r;
    }
    for (const AirValue &v : profile.values) {
        if (v.offset < 0 || v.offset >= registers.size()) {
            r.fault = QStringLiteral("register %1 is not in the reply").arg(profile.first + v.offset);
            return {{}, {}, r.fault};
        }
        const quint16 raw = registers[v.offset];
        const double value = (v.isSigned ? double(qint16(raw)) : double(raw)) * v.scale;
        if (value < v.min || value > v.max) {
            r.fault = QStringLiteral("%1 %2 out of range (%3 to %4)")
                          .arg(v.quantity == AirValue::Quantity::Temperature ? QStringLiteral("temperature")
                                                                             : QStringLiteral("humidity"))
                          .arg(value, 0, 'f', 1)
                          .arg(v.min)
                          .arg(v.max);
            return {{}, {}, r.fault};
        }
        (v.quantity == AirValue::Quantity::Temperature ? r.celsius : r.relativeHumidity) = value;
    }
    if (!r.celsius || !r.relativeHumidity)
        r.fault = QStringLiteral("the profile reads no %1").arg(r.celsius ? "humidity" : "temperature");
    return r;
}

AirReading airException(quint8 code)
{
    static const char *names[] = {"", "illegal function", "illegal data address", "illegal data value",
                                  "device failure"};
    AirReading r;
    r.fault = code < 5 ? QStringLiteral("exception %1 (%2)").arg(code).arg(names[code])
                       : QStringLiteral("exception %1").arg(code);
    return r;
}

QByteArray writeCoilRequest(quint8 address, quint16 coil, bool on)
{
    QByteArray f;
    f.append(char(address));
    f.append(char(0x05));
    f.append(char(coil >> 8));
    f.append(char(coil & 0xff));
    f.append(char(on ? 0xff : 0x00));
    f.append(char(0x00));
    return withCrc(f);
}

} // namespace vx
