#pragma once

#include <QByteArray>
#include <QtGlobal>

namespace vx {

// Result of Crc16. The names are the system's own and run opposite to the
// bytes' significance: HiByte holds the CRC's low-order byte, which goes
// first on the wire.
struct CrcBytes {
    quint8 HiByte = 0xFF;
    quint8 LoByte = 0xFF;
};

// CRC-16/MODBUS (reflected poly 0xA001, init 0xFFFF, no final XOR) over
// bytes 0..j of cmdstring. j < 0 covers nothing and gives 0xFFFF.
CrcBytes Crc16(const QByteArray &cmdstring, int j);

// The CRC register value over a whole byte range.
quint16 crc16Modbus(const char *data, qsizetype size);

// Returns payload followed by its CRC, low-order byte first.
QByteArray withCrc(const QByteArray &payload);

// True when the last two bytes of frame are the CRC of the bytes before them.
bool hasValidCrc(const QByteArray &frame);

} // namespace vx
