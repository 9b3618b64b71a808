#pragma once

#include <QByteArray>
#include <QtGlobal>

namespace vxsim {

// Dallas/Maxim 1-Wire CRC-8 (polynomial x^8 + x^5 + x^4 + 1, reflected 0x8C).
quint8 dallasCrc8(const QByteArray &bytes);

// A 64-bit 1-Wire ROM code as sensors carry it: family 0x28, a 48-bit serial
// from seed (its two top bytes zero), CRC-8 of the first seven bytes last.
QByteArray sensorCode(quint64 seed);

// The same code with a check byte that no longer matches.
QByteArray withBadCrc(const QByteArray &code);

// Family 0x28 and a matching CRC-8 in the last byte.
bool isValidSensorCode(const QByteArray &code);

} // namespace vxsim
