#pragma once

// What the store's files share of rows and times; not part of the store's interface.

#include "core/frames/Measurement.h"
#include "core/records/NumberText.h"
#include "core/store/ReadingStore.h"

#include <QDateTime>
#include <QMap>

namespace vx::storerows {

inline QString outboxTable(OutboxQueue queue)
{
    return queue == MqttQueue ? QStringLiteral("mqtt_outbox") : queue == NotifyQueue ? QStringLiteral("notify_outbox") : QStringLiteral("outbox");
}

// Registers as the outbox keeps them: big-endian pairs.
inline QByteArray packRegisters(const QList<quint16> &raw)
{
    QByteArray bytes;
    bytes.reserve(raw.size() * 2);
    for (quint16 r : raw) {
        bytes.append(char(r >> 8));
        bytes.append(char(r & 0xFF));
    }
    return bytes;
}

inline QList<quint16> unpackRegisters(const QByteArray &bytes)
{
    QList<quint16> raw;
    raw.reserve(bytes.size() / 2);
    for (int i = 0; i + 1 < bytes.size(); i += 2)
        raw.append(quint16(quint8(bytes[i]) << 8 | quint8(bytes[i + 1])));
    return raw;
}

// RFC 3339 with this machine's offset, milliseconds included.
inline QString rfc3339(qint64 ms)
{
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(ms);
    return local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

// Bound as '' when empty: a null would break the column's NOT NULL (and OR IGNORE would drop the row).
inline QString notNull(const QString &text)
{
    return text.isNull() ? QStringLiteral("") : text;
}

// The start of the hour a time falls in (UTC hours, also before 1970).
inline qint64 hourStart(qint64 ms)
{
    return ms - (ms % 3600000 + 3600000) % 3600000;
}

// Each address's first and last frame time in a batch.
inline QMap<int, DeviceSeen> devicesSeenIn(const QList<ReadingSet> &frames)
{
    QMap<int, DeviceSeen> seen;
    for (const ReadingSet &frame : frames) {
        DeviceSeen &d = seen[frame.address];
        if (d.address == 0) {
            d = {frame.address, frame.timeMs, frame.timeMs};
        } else {
            d.firstSeenMs = qMin(d.firstSeenMs, frame.timeMs);
            d.lastSeenMs = qMax(d.lastSeenMs, frame.timeMs);
        }
    }
    return seen;
}

inline QString celsiusText(quint16 raw)
{
    return raw == kNoReading ? QString() : num::hundredthsText(hundredthsOf(raw));
}

} // namespace vx::storerows
