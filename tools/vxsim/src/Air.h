#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QtGlobal>

#include <optional>

namespace vxsim {

// The air around the simulated depot: a daily cycle of outside temperature
// (coldest at 05:00) and RH (wettest then), with noise; or fixed from the
// control channel.
struct Weather {
    double meanC = 15, swingC = 6;     // half the day's range
    double rhMean = 65, rhSwing = 20;
    double noise = 0;                  // ± this many °C and 2.5 x this %RH
    std::optional<double> fixedC, fixedRh;
};
struct AirNow {
    double celsius = 0;
    double rh = 0;
};
// Outside at a time (ms since the epoch, UTC).
AirNow outsideAir(const Weather &weather, qint64 nowMs, quint32 seed);
// The headspace: between the grain below and the outside air, holding the outside air's water.
AirNow headspaceAir(const Weather &weather, double grainC, qint64 nowMs, quint32 seed);

// A temperature/humidity transmitter ("th": temperature then RH, "ht": RH
// then temperature, x10 from register 0) and how it misbehaves on purpose.
struct AirDeviceSim {
    QString profile = QStringLiteral("th");
    bool headspace = false;
    enum class Fault { None, Exception, Short, Range } fault = Fault::None;
};
// A relay module: 8 coils, written with function 5 and read with function 1.
struct RelaySim {
    quint8 coils = 0;
};

// The reply of a transmitter or relay to a request (CRC checked by the caller); empty: none.
QByteArray airReply(const AirDeviceSim &device, quint8 address, const QByteArray &request, AirNow air);
QByteArray relayReply(RelaySim &relay, quint8 address, const QByteArray &request);

} // namespace vxsim
