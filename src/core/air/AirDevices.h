#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>

#include <optional>

namespace vx {

// Temperature/humidity transmitters that share the bus with the collectors:
// how to ask one and how to read its registers. A profile names the read
// (function 3 or 4, first register, count) and where each value sits.
struct AirValue {
    enum class Quantity { Temperature, Humidity };
    Quantity quantity = Quantity::Temperature;
    int offset = 0;          // register, counted from the profile's first
    double scale = 0.1;      // register x scale = value
    bool isSigned = false;
    QString unit;            // "°C", "%RH"
    double min = 0, max = 0; // outside: a fault of the transmitter, never a reading
};
struct AirProfile {
    QString name;
    quint8 function = 0x03;
    quint16 first = 0;
    quint16 count = 2;
    QList<AirValue> values;
};

// The two layouts most such transmitters have, temperature x10 signed and
// RH x10 from register 0: "th" (temperature first) and "ht" (humidity first).
const QList<AirProfile> &builtinAirProfiles();
std::optional<AirProfile> airProfileNamed(const QString &name);

// What one reply said: both values, or the fault that keeps it from being a reading.
struct AirReading {
    std::optional<double> celsius;
    std::optional<double> relativeHumidity;
    QString fault; // empty: a reading
    bool ok() const { return fault.isEmpty(); }
};
AirReading decodeAir(const AirProfile &profile, const QList<quint16> &registers);
// "exception 2 (illegal data address)" and the like, as a fault.
AirReading airException(quint8 code);

// Function 5, write single coil: the request and whether a reply echoes it.
QByteArray writeCoilRequest(quint8 address, quint16 coil, bool on);

} // namespace vx
