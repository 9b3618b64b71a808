#pragma once

#include "core/frames/Crc16.h"

#include <QByteArray>
#include <QList>

namespace vx::test {

// A read-registers reply: address, function, byte count, registers big-endian, CRC.
inline QByteArray replyFrame(quint8 address, const QList<quint16> &registers, quint8 function = 0x03)
{
    QByteArray payload;
    payload.append(char(address));
    payload.append(char(function));
    payload.append(char(registers.size() * 2));
    for (quint16 r : registers) {
        payload.append(char(r >> 8));
        payload.append(char(r & 0xFF));
    }
    return withCrc(payload);
}

// registers 1..n with value base + k (in hundredths).
inline QList<quint16> ramp(int n, quint16 base = 100)
{
    QList<quint16> regs;
    for (int k = 0; k < n; ++k)
        regs.append(quint16(base + k));
    return regs;
}

} // namespace vx::test
