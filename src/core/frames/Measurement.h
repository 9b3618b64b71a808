#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace vx {

// Raw register value meaning "no reading": the box keeps its value.
constexpr quint16 kNoReading = 0xFFFF;
// Raw values above this are negative (raw - 65536); not 32767.
constexpr quint16 kPositiveLimit = 20000;

// The measured value in hundredths: raw for 0..20000, raw - 65536 above,
// and 65535 (shown in logs as 655.35) for "no reading".
qint32 hundredthsOf(quint16 raw);

// The "#0.00" text of a register: 2534 -> "25.34", 65000 -> "-5.36".
QString valueText(quint16 raw);

// Registers in a measurement reply of recLen bytes: register k lies in bytes
// 3 + 2k and 4 + 2k, as long as 4 + 2k <= recLen - 3 (N for 2N + 5, 13 for 31).
int registerCount(int recLen);

// The registers of a reply, big-endian, as many as recLen says and the bytes
// hold; a register whose bytes are missing is not read.
QList<quint16> decodeRegisters(const QByteArray &reply, int recLen);

// The texts of registers, in order.
QStringList valueTexts(const QList<quint16> &registers);

// One line of a device's data log: a quote, short date, a space, long time,
// " :  ", each value's text followed by a space, a quote, CR LF.
QString dataLogRecord(const QDateTime &when, const QStringList &valueTexts);

} // namespace vx
