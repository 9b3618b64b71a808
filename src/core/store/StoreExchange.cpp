#include "core/store/ReadingStore.h"

#include "core/sensors/RomCode.h"
#include "core/store/StoreRows.h"

#include <QIODevice>
#include <QSqlError>

// What the store exchanges with people and other sites: the sensor map and
// CSV exports. SQL both engines share.

namespace vx {

using namespace storerows;

QString SensorChange::text() const
{
    return QStringLiteral("通道%1 位置%2 传感器已更换: %3 → %4")
        .arg(channel)
        .arg(position, 2, 10, QLatin1Char('0'))
        .arg(oldCode, newCode);
}

QList<SensorPlace> ReadingStore::sensorMap()
{
    QList<SensorPlace> result;
    QSqlQuery q(m_db);
    prepare(q, QStringLiteral("SELECT address, channel, position, code, %1, %2 FROM sensor_map WHERE 1 = 1%3 "
                             "ORDER BY address, channel, position")
                  .arg(msExpr(QStringLiteral("first_seen")), msExpr(QStringLiteral("last_seen")), siteFilter()));
    bindSite(q);
    if (!q.exec()) {
        fail(q);
        return result;
    }
    while (q.next())
        result.append({q.value(0).toInt(), q.value(1).toInt(), q.value(2).toInt(), q.value(3).toString(),
                       q.value(4).toLongLong(), q.value(5).toLongLong()});
    return result;
}

std::optional<QList<SensorChange>> ReadingStore::recordSensorCodes(int address, int channel, const QStringList &codes,
                                                                   qint64 timeMs)
{
    QMap<int, QString> held;
    for (const SensorPlace &p : sensorMap())
        if (p.address == address && p.channel == channel)
            held.insert(p.position, p.code);
    QList<SensorChange> changes;
    QList<StoreEvent> events;
    if (!m_db.transaction()) {
        fail(QSqlQuery(m_db));
        return std::nullopt;
    }
    QSqlQuery &put = prepared(sensorPlaceUpsertSql());
    for (int i = 0; i < codes.size(); ++i) {
        const int position = i + 1;
        const QString code = codes[i].trimmed().toUpper();
        if (held.contains(position) && held[position] != code) {
            SensorChange change{channel, position, held[position], code};
            changes.append(change);
            events.append({timeMs, address, QStringLiteral("sensor_replaced"), change.text()});
        }
        put.bindValue(QStringLiteral(":address"), address);
        put.bindValue(QStringLiteral(":channel"), channel);
        put.bindValue(QStringLiteral(":position"), position);
        put.bindValue(QStringLiteral(":code"), code);
        put.bindValue(QStringLiteral(":time"), timeMs);
        put.bindValue(QStringLiteral(":time2"), timeMs);
        bindSite(put);
        if (!put.exec()) {
            fail(put);
            m_db.rollback();
            return std::nullopt;
        }
    }
    const bool ok = addBatch({SiteRows{m_site, {}, events}}, 0);
    if (!ok || !m_db.commit()) {
        if (ok)
            m_lastError = sqlErrorText(m_db.lastError());
        m_db.rollback();
        return std::nullopt;
    }
    return changes;
}

bool ReadingStore::exportSensorMap(QIODevice &out, QString *error)
{
    QByteArray text = "address,channel,position,code,family,first_seen,last_seen\n";
    for (const SensorPlace &p : sensorMap()) {
        const auto code = romCodeOfText(p.code);
        text += QStringLiteral("%1,%2,%3,%4,%5,%6,%7\n")
                    .arg(p.address)
                    .arg(p.channel)
                    .arg(p.position)
                    .arg(p.code, code ? familyName(quint8(code->at(0))) : QStringLiteral("unknown family"),
                         rfc3339(p.firstSeenMs), rfc3339(p.lastSeenMs))
                    .toUtf8();
    }
    if (out.write(text) != text.size()) {
        *error = out.errorString();
        return false;
    }
    return true;
}

bool ReadingStore::importSensorMap(QIODevice &in, int *places, QString *error)
{
    QList<SensorPlace> read;
    int lineNumber = 0;
    while (!in.atEnd()) {
        QString line = QString::fromUtf8(in.readLine()).trimmed();
        ++lineNumber;
        if (line.isEmpty() || (lineNumber == 1 && line.startsWith(QLatin1String("address,"))))
            continue;
        const QStringList f = line.split(QLatin1Char(','));
        bool a = false, c = false, p = false;
        SensorPlace place;
        if (f.size() == 7) {
            place.address = f[0].toInt(&a);
            place.channel = f[1].toInt(&c);
            place.position = f[2].toInt(&p);
            place.code = f[3].trimmed().toUpper();
            const QDateTime first = QDateTime::fromString(f[5], Qt::ISODateWithMs);
            const QDateTime last = QDateTime::fromString(f[6], Qt::ISODateWithMs);
            place.firstSeenMs = first.toMSecsSinceEpoch();
            place.lastSeenMs = last.toMSecsSinceEpoch();
            if (a && c && p && place.address >= 1 && place.address <= 247 && place.channel >= 1 && place.position >= 1
                && romCodeOfText(place.code) && first.isValid() && last.isValid()) {
                read.append(place);
                continue;
            }
        }
        *error = QStringLiteral("line %1 is not address,channel,position,code,family,first_seen,last_seen").arg(lineNumber);
        return false;
    }
    if (!m_db.transaction())
        return fail(QSqlQuery(m_db));
    QSqlQuery &put = prepared(sensorPlaceReplaceSql());
    for (const SensorPlace &p : read) {
        put.bindValue(QStringLiteral(":address"), p.address);
        put.bindValue(QStringLiteral(":channel"), p.channel);
        put.bindValue(QStringLiteral(":position"), p.position);
        put.bindValue(QStringLiteral(":code"), p.code);
        put.bindValue(QStringLiteral(":first"), p.firstSeenMs);
        put.bindValue(QStringLiteral(":last"), p.lastSeenMs);
        bindSite(put);
        if (!put.exec()) {
            *error = put.lastError().text();
            m_db.rollback();
            return false;
        }
    }
    if (!m_db.commit()) {
        *error = m_db.lastError().text();
        m_db.rollback();
        return false;
    }
    *places = int(read.size());
    return true;
}

bool ReadingStore::exportCsv(QIODevice &out, const ExportRequest &request, QString *error,
                             const std::function<bool(qint64)> &progress)
{
    QString addressFilter;
    if (!request.addresses.isEmpty()) {
        QStringList list;
        for (int a : request.addresses)
            list << QString::number(a);
        addressFilter = QStringLiteral(" AND address IN (%1)").arg(list.join(QLatin1Char(',')));
    }
    // Frames have 18 points (13 for a device's own upload frames); the
    // columns run to the most any frame in the range has. Asked first: a
    // PostgreSQL connection reads one result at a time.
    const int columns = !request.perFrame ? 0 : [&] {
        QSqlQuery m(m_db);
        prepare(m, QStringLiteral("SELECT max(point) FROM readings WHERE time >= %1 AND time < %2%3%4")
                      .arg(timeExpr(QStringLiteral(":from")), timeExpr(QStringLiteral(":to")), addressFilter,
                           siteFilter()));
        m.bindValue(QStringLiteral(":from"), request.fromMs);
        m.bindValue(QStringLiteral(":to"), request.toMs);
        bindSite(m);
        return m.exec() && m.next() ? m.value(0).toInt() : 0;
    }();
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    prepare(q, QStringLiteral("SELECT %1, address, point, raw FROM readings WHERE time >= %2 AND time < %3%4%5 "
                             "ORDER BY time, address, point")
                  .arg(msExpr(QStringLiteral("time")), timeExpr(QStringLiteral(":from")),
                       timeExpr(QStringLiteral(":to")), addressFilter, siteFilter()));
    q.bindValue(QStringLiteral(":from"), request.fromMs);
    q.bindValue(QStringLiteral(":to"), request.toMs);
    bindSite(q);
    if (!q.exec()) {
        *error = q.lastError().text();
        return false;
    }
    auto write = [&](const QString &line) {
        const QByteArray bytes = line.toUtf8();
        if (out.write(bytes) != bytes.size()) {
            *error = QStringLiteral("cannot write: %1").arg(out.errorString());
            return false;
        }
        return true;
    };
    qint64 rows = 0;
    if (!request.perFrame) {
        if (!write(QStringLiteral("time,address,point,raw,celsius,status\n")))
            return false;
        QString line;
        while (q.next()) {
            const quint16 raw = quint16(q.value(3).toInt());
            line = rfc3339(q.value(0).toLongLong()) + QLatin1Char(',') + QString::number(q.value(1).toInt())
                   + QLatin1Char(',') + QString::number(q.value(2).toInt()) + QLatin1Char(',')
                   + QString::number(raw) + QLatin1Char(',') + celsiusText(raw) + QLatin1Char(',')
                   + statusName(statusOf(raw)) + QLatin1Char('\n');
            if (!write(line))
                return false;
            if (++rows % 10000 == 0 && progress && !progress(rows)) {
                *error = QStringLiteral("stopped");
                return false;
            }
        }
    } else {
        QString header = QStringLiteral("time,address");
        for (int p = 1; p <= columns; ++p)
            header += QStringLiteral(",p%1").arg(p);
        if (!write(header + QLatin1Char('\n')))
            return false;
        qint64 frameTime = -1;
        int frameAddress = -1;
        QStringList cells;
        auto flush = [&] {
            if (frameAddress < 0)
                return true;
            return write(rfc3339(frameTime) + QLatin1Char(',') + QString::number(frameAddress) + QLatin1Char(',')
                         + cells.join(QLatin1Char(',')) + QLatin1Char('\n'));
        };
        while (q.next()) {
            const qint64 time = q.value(0).toLongLong();
            const int address = q.value(1).toInt();
            if (time != frameTime || address != frameAddress) {
                if (!flush())
                    return false;
                frameTime = time;
                frameAddress = address;
                cells = QStringList(columns, QString());
            }
            const int point = q.value(2).toInt();
            if (point >= 1 && point <= columns)
                cells[point - 1] = celsiusText(quint16(q.value(3).toInt()));
            if (++rows % 10000 == 0 && progress && !progress(rows)) {
                *error = QStringLiteral("stopped");
                return false;
            }
        }
        if (!flush())
            return false;
    }
    if (progress)
        progress(rows);
    return true;
}

} // namespace vx
