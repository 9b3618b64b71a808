#include "core/frames/Crc16.h"

#include <array>

namespace vx {

namespace {

// The register after shifting one byte's eight bits through the reflected
// polynomial 0xA001, for every byte value: one lookup a byte instead of eight steps.
constexpr std::array<quint16, 256> makeTable()
{
    std::array<quint16, 256> table{};
    for (int b = 0; b < 256; ++b) {
        quint16 reg = quint16(b);
        for (int bit = 0; bit < 8; ++bit)
            reg = (reg & 1) ? quint16((reg >> 1) ^ 0xA001) : quint16(reg >> 1);
        table[std::size_t(b)] = reg;
    }
    return table;
}

constexpr std::array<quint16, 256> kTable = makeTable();

} // namespace

quint16 crc16Modbus(const char *data, qsizetype size)
{
    quint16 reg = 0xFFFF;
    for (qsizetype i = 0; i < size; ++i)
        reg = quint16((reg >> 8) ^ kTable[(reg ^ quint8(data[i])) & 0xFF]);
    return reg;
}

CrcBytes Crc16(const QByteArray &cmdstring, int j)
{
    const qsizetype covered = qBound<qsizetype>(0, qsizetype(j) + 1, cmdstring.size());
    const quint16 reg = crc16Modbus(cmdstring.constData(), covered);
    return {quint8(reg & 0xFF), quint8(reg >> 8)};
}

QByteArray withCrc(const QByteArray &payload)
{
    const CrcBytes crc = Crc16(payload, int(payload.size()) - 1);
    QByteArray frame = payload;
    frame.append(char(crc.HiByte)); // low-order byte first on the wire
    frame.append(char(crc.LoByte));
    return frame;
}

bool hasValidCrc(const QByteArray &frame)
{
    if (frame.size() < 3)
        return false;
    const quint16 reg = crc16Modbus(frame.constData(), frame.size() - 2);
    return quint8(frame.at(frame.size() - 2)) == (reg & 0xFF)
        && quint8(frame.at(frame.size() - 1)) == (reg >> 8);
}

} // namespace vx
