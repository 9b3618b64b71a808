#include "Dallas.h"

namespace vxsim {

quint8 dallasCrc8(const QByteArray &bytes)
{
    quint8 crc = 0;
    for (char c : bytes) {
        quint8 b = quint8(c);
        for (int i = 0; i < 8; ++i) {
            const bool mix = (crc ^ b) & 1;
            crc >>= 1;
            if (mix)
                crc ^= 0x8C;
            b >>= 1;
        }
    }
    return crc;
}

QByteArray sensorCode(quint64 seed)
{
    // splitmix64: six well-mixed serial bytes from any seed.
    quint64 z = seed + 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    QByteArray code(1, char(0x28));
    for (int i = 0; i < 6; ++i)
        code.append(char((z >> (8 * i)) & 0xFF));
    code.append(char(dallasCrc8(code)));
    return code;
}

bool isValidSensorCode(const QByteArray &code)
{
    return code.size() == 8 && quint8(code[0]) == 0x28 && dallasCrc8(code.left(7)) == quint8(code[7]);
}

} // namespace vxsim
