#include "acquisition/Measurement.h"

#include "core/NumberText.h"
#include "core/Records.h"

namespace vx {

qint32 hundredthsOf(quint16 raw)
{
    if (raw == kNoReading)
        return kNoReading;
    return raw > kPositiveLimit ? qint32(raw) - 65536 : qint32(raw);
}

QString valueText(quint16 raw)
{
    return num::hundredthsText(hundredthsOf(raw));
}

int registerCount(int recLen)
{
    return recLen >= 7 ? (recLen - 7) / 2 + 1 : 0;
}

QList<quint16> decodeRegisters(const QByteArray &reply, int recLen)
{
    const int available = reply.size() >= 5 ? int(reply.size() - 3) / 2 : 0;
    const int count = qMin(registerCount(recLen), available);
    QList<quint16> registers;
    registers.reserve(count);
    for (int k = 0; k < count; ++k)
        registers.append(quint16(quint8(reply[3 + 2 * k]) << 8 | quint8(reply[4 + 2 * k])));
    return registers;
}

QString dataLogRecord(const QDateTime &when, const QList<quint16> &registers)
{
    QString record;
    record.reserve(24 + registers.size() * 8);
    record += QLatin1Char('"') + shortDate(when.date()) + QLatin1Char(' ') + longTime(when.time())
        + QLatin1String(" :  ");
    for (quint16 raw : registers) {
        record += valueText(raw);
        record += QLatin1Char(' ');
    }
    record += QLatin1String("\"\r\n");
    return record;
}

} // namespace vx
