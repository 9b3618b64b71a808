#pragma once

#include <QByteArray>
#include <QString>

namespace vx {

// One byte as exactly two upper-case hexadecimal digits ("00" to "FF").
QString FormatHex(quint8 bb);

// Hex text of a sent frame: each byte's two digits followed by one space,
// the last byte included ("01 03 ... C7 ").
QString HexText(const QByteArray &frame);

// RecHex of at most the last maxBytes bytes; what was left out is named in
// front (" [前 N 字节略去]"), so a long backlog never becomes a huge text.
QString RecHexTail(const QByteArray &bytes, qsizetype maxBytes = 4096);

// Hex text of received bytes: each byte's two digits preceded by one space.
QString RecHex(const QByteArray &bytes);

// Eight serial-number bytes as "28 FF 4A 3B 05 00 00 9C" (no outer spaces).
QString serialText(const QByteArray &bytes);

} // namespace vx
