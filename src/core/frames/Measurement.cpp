#include "core/frames/Measurement.h"

#include "core/records/NumberText.h"
#include "core/records/Records.h"

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

QStringList valueTexts(const QList<quint16> &registers)
{
    QStringList texts;
    texts.reserve(registers.size());
    for (quint16 raw : registers)
        texts.append(valueText(raw));
    return texts;
}

QString dataLogRecord(const QDateTime &when, const QStringList &valueTexts)
{
    QString record;
    record.reserve(24 + valueTexts.size() * 8);
    record += QLatin1Char('"');
    record += generalDateTime(when);
    record += QLatin1String(" :  ");
    for (const QString &text : valueTexts) {
        record += text;
        record += QLatin1Char(' ');
    }
    record += QLatin1String("\"\r\n");
    return record;
}

} // namespace vx
