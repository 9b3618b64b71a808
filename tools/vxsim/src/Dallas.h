#pragma once

#include <QByteArray>
#include <QtGlobal>

namespace vxsim {

// Dallas/Maxim 1-Wire CRC-8 (polynomial x^8 + x^5 + x^4 + 1, reflected 0x8C).
quint8 dallasCrc8(const QByteArray &bytes);

// A 64-bit sensor code: family 0x28, six serial bytes from seed, CRC-8 last.
QByteArray sensorCode(quint64 seed);

// Family 0x28 and a matching CRC-8 in the last byte.
bool isValidSensorCode(const QByteArray &code);

} // namespace vxsim
