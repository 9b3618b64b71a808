#include "Dallas.h"

#include "core/sensors/RomCode.h"

namespace vxsim {

quint8 dallasCrc8(const QByteArray &bytes)
{
    return vx::dallasCrc8(bytes); // the one the window checks codes with
}

QByteArray sensorCode(quint64 seed)
{
    // splitmix64: well-mixed serial bytes from any seed.
    quint64 z = seed + 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    // Sensors in the field carry serials whose two top bytes are still zero,
    // and list files rely on it: bytes 5 and 6 are 00, bytes 1 and 2 not both 00.
    quint32 serial = quint32(z);
    if ((serial & 0xFFFF) == 0)
        serial |= 0x0100;
    QByteArray code(1, char(0x28));
    for (int i = 0; i < 4; ++i)
        code.append(char((serial >> (8 * i)) & 0xFF));
    code.append(char(0)).append(char(0));
    code.append(char(dallasCrc8(code)));
    return code;
}

QByteArray withBadCrc(const QByteArray &code)
{
    QByteArray bad = code;
    bad[7] = char(quint8(bad[7]) ^ 0x5A); // any change of the check byte is a CRC failure
    return bad;
}

bool isValidSensorCode(const QByteArray &code)
{
    return code.size() == 8 && quint8(code[0]) == 0x28 && dallasCrc8(code.left(7)) == quint8(code[7]);
}

} // namespace vxsim
