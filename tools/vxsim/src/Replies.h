#pragma once

#include "core/frames/Crc16.h"

#include <QByteArray>
#include <QtGlobal>

namespace vxsim {

// The pieces every simulated device's reply is made of: big-endian words and exception frames.
inline quint16 word(const QByteArray &b, int at)
{
    return quint16(quint8(b[at]) << 8 | quint8(b[at + 1]));
}

inline void appendWord(QByteArray &b, quint16 w)
{
    b.append(char(w >> 8));
    b.append(char(w & 0xFF));
}

inline QByteArray exception(quint8 address, quint8 function, quint8 code)
{
    const char b[3] = {char(address), char(function | 0x80), char(code)};
    return vx::withCrc(QByteArray(b, 3));
}

} // namespace vxsim
