#include "core/store/ReadingStore.h"

#include "core/store/StoreRows.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QSqlError>

// The hourly summaries charts read, kept beside the readings, and the age
// limit's deletions: SQL both engines share.

namespace vx {

using namespace storerows;

bool ReadingStore::addPartials(const QString &table, int address, int point, qint64 fromMs, qint64 toMs,
                               qint64 originMs, qint64 widthMs, QMap<qint64, Partial> *slices)
{
    if (toMs <= fromMs)
        return true;
    const bool raw = table == QLatin1String("readings");
    const QString column = raw ? QStringLiteral("time") : QStringLiteral("hour");
    const QString ms = msExpr(column);
    const QString aggregates = raw ? QStringLiteral("min(celsius), max(celsius), sum(celsius), count(*)")
                                   : QStringLiteral("min(min), max(max), sum(sum), sum(count)");
    QSqlQuery &q = prepared(QStringLiteral("SELECT (%1 - :origin) / :width AS slice, %2 FROM %3 WHERE address = :address "
                                           "AND point = :point AND %4 >= %5 AND %4 < %6%7%8 GROUP BY slice")
                                .arg(ms, aggregates, table, column, timeExpr(QStringLiteral(":from")),
                                     timeExpr(QStringLiteral(":to")),
                                     raw ? QStringLiteral(" AND status = 'ok'") : QString(), siteFilter()));
    q.bindValue(QStringLiteral(":origin"), originMs);
    q.bindValue(QStringLiteral(":width"), widthMs);
    q.bindValue(QStringLiteral(":address"), address);
    q.bindValue(QStringLiteral(":point"), point);
    q.bindValue(QStringLiteral(":from"), fromMs);
    q.bindValue(QStringLiteral(":to"), toMs);
    bindSite(q);
    if (!q.exec())
        return fail(q);
    while (q.next()) {
        const qint64 slice = q.value(0).toLongLong();
        const Partial p{q.value(1).toDouble(), q.value(2).toDouble(), q.value(3).toDouble(), q.value(4).toLongLong()};
        if (p.count == 0)
            continue;
        auto it = slices->find(slice);
        if (it == slices->end()) {
            slices->insert(slice, p);
        } else {
            it->min = qMin(it->min, p.min);
            it->max = qMax(it->max, p.max);
            it->sum += p.sum;
            it->count += p.count;
        }
    }
    q.finish();
    return true;
}

std::optional<qint64> ReadingStore::summariesEnd(int address, int point, qint64 noReadingsMs)
{
    QSqlQuery &state = prepared(QStringLiteral("SELECT %1 FROM hourly_state WHERE address = :address AND point = :point%2")
                                    .arg(msExpr(QStringLiteral("rolled_to")), siteFilter()));
    state.bindValue(QStringLiteral(":address"), address);
    state.bindValue(QStringLiteral(":point"), point);
    bindSite(state);
    if (!state.exec())
        return fail(state), std::nullopt;
    if (state.next()) {
        const qint64 rolledTo = state.value(0).toLongLong();
        state.finish();
        return rolledTo;
    }
    state.finish();
    // Never summarised: from the hour of the point's first reading.
    QSqlQuery &first = prepared(QStringLiteral("SELECT min(%1) FROM readings WHERE address = :address AND point = :point%2")
                                    .arg(msExpr(QStringLiteral("time")), siteFilter()));
    first.bindValue(QStringLiteral(":address"), address);
    first.bindValue(QStringLiteral(":point"), point);
    bindSite(first);
    if (!first.exec())
        return fail(first), std::nullopt;
    const bool any = first.next() && !first.value(0).isNull();
    const qint64 firstMs = any ? first.value(0).toLongLong() : 0;
    first.finish();
    return any ? hourStart(firstMs) : noReadingsMs;
}

qint64 ReadingStore::rollUp(int address, int point, qint64 upToMs)
{
    const auto end = summariesEnd(address, point, upToMs);
    if (!end)
        return -1;
    const qint64 rolledTo = qMin(*end, upToMs);
    if (rolledTo >= upToMs)
        return rolledTo;
    if (!m_db.transaction())
        return fail(QSqlQuery(m_db)), -1;
    auto bind = [&](QSqlQuery &q) {
        q.bindValue(QStringLiteral(":address"), address);
        q.bindValue(QStringLiteral(":point"), point);
        q.bindValue(QStringLiteral(":from"), rolledTo);
        q.bindValue(QStringLiteral(":to"), upToMs);
        bindSite(q);
    };
    QSqlQuery &clear = prepared(QStringLiteral("DELETE FROM hourly WHERE address = :address AND point = :point AND "
                                               "hour >= %1 AND hour < %2%3")
                                    .arg(timeExpr(QStringLiteral(":from")), timeExpr(QStringLiteral(":to")), siteFilter()));
    bind(clear);
    QSqlQuery &fill = prepared(QStringLiteral("INSERT INTO hourly (%1address, point, hour, min, max, sum, count) "
                                              "SELECT %2address, point, %3 AS h, min(celsius), max(celsius), sum(celsius), "
                                              "count(*) FROM readings WHERE address = :address AND point = :point AND "
                                              "time >= %4 AND time < %5 AND status = 'ok'%6 GROUP BY address, point, h")
                                   .arg(siteColumn(), siteColumn(), hourExpr(QStringLiteral("time")),
                                        timeExpr(QStringLiteral(":from")), timeExpr(QStringLiteral(":to")), siteFilter())
                                   .replace(QStringLiteral("GROUP BY address"), QStringLiteral("GROUP BY ") + siteColumn()
                                                                                    + QStringLiteral("address")));
    bind(fill);
    QSqlQuery &mark = prepared(rollupMarkSql());
    mark.bindValue(QStringLiteral(":address"), address);
    mark.bindValue(QStringLiteral(":point"), point);
    mark.bindValue(QStringLiteral(":to"), upToMs);
    bindSite(mark);
    if (!clear.exec() || !fill.exec() || !mark.exec()) {
        const QString why = (!clear.lastError().text().trimmed().isEmpty() ? clear : !fill.lastError().text().trimmed().isEmpty() ? fill : mark)
                                .lastError()
                                .text();
        m_db.rollback();
        m_lastError = why;
        return -1;
    }
    if (!m_db.commit()) {
        m_lastError = sqlErrorText(m_db.lastError());
        m_db.rollback();
        return -1;
    }
    return upToMs;
}

std::optional<bool> ReadingStore::summariseHours(qint64 upToMs, int budgetMs)
{
    // A month of a point at a time, and only for budgetMs: a large backlog (an
    // import, an upgraded file) is worked off in steps, and the commits of the
    // thread doing it never wait long.
    constexpr qint64 kStepMs = 30LL * 86400000;
    QElapsedTimer clock;
    clock.start();
    const qint64 hourMs = hourStart(upToMs);
    QSqlQuery &top = prepared(QStringLiteral("SELECT max(point) FROM readings WHERE address = :address") + siteFilter());
    for (const DeviceSeen &device : devices()) {
        top.bindValue(QStringLiteral(":address"), device.address);
        bindSite(top);
        if (!top.exec())
            return fail(top), std::nullopt;
        const int points = top.next() ? top.value(0).toInt() : 0;
        top.finish();
        for (int point = 1; point <= points; ++point) {
            const auto end = summariesEnd(device.address, point, hourMs);
            if (!end)
                return std::nullopt;
            for (qint64 reached = *end; reached < hourMs;) {
                if (budgetMs > 0 && clock.elapsed() >= budgetMs)
                    return false;
                const qint64 next = qMin(hourMs, reached + kStepMs);
                if (rollUp(device.address, point, next) < 0)
                    return std::nullopt;
                reached = next;
            }
        }
    }
    return true;
}

// After old readings went: summaries of hours before the cutoff go too, and
// the cutoff's own hour is summarised again from what is left of it.
bool ReadingStore::trimSummaries(int address, int point, qint64 cutoffMs)
{
    const qint64 hourMs = hourStart(cutoffMs);
    QSqlQuery &drop = prepared(QStringLiteral("DELETE FROM hourly WHERE address = :address AND point = :point AND "
                                              "hour <= %1%2")
                                   .arg(timeExpr(QStringLiteral(":hour")), siteFilter()));
    QSqlQuery &fill = prepared(QStringLiteral("INSERT INTO hourly (%1address, point, hour, min, max, sum, count) "
                                              "SELECT %1address, point, %2, min(celsius), max(celsius), sum(celsius), "
                                              "count(*) FROM readings WHERE address = :address AND point = :point AND "
                                              "time >= %2 AND time < %3 AND status = 'ok'%4 AND %2 < (SELECT rolled_to "
                                              "FROM hourly_state WHERE address = :address2 AND point = :point2%5) "
                                              "GROUP BY %1address, point")
                                   .arg(siteColumn(), timeExpr(QStringLiteral(":hour")),
                                        timeExpr(QStringLiteral(":next")), siteFilter(),
                                        siteColumn().isEmpty() ? QString() : QStringLiteral(" AND site = :site2")));
    for (QSqlQuery *q : {&drop, &fill}) {
        q->bindValue(QStringLiteral(":address"), address);
        q->bindValue(QStringLiteral(":point"), point);
        q->bindValue(QStringLiteral(":hour"), hourMs);
        bindSite(*q);
    }
    fill.bindValue(QStringLiteral(":next"), hourMs + 3600000);
    fill.bindValue(QStringLiteral(":address2"), address);
    fill.bindValue(QStringLiteral(":point2"), point);
    bindSite(fill, QStringLiteral(":site2"));
    if (!drop.exec())
        return fail(drop);
    return fill.exec() || fail(fill);
}

bool ReadingStore::moveRollupBack(int address, qint64 hourMs)
{
    QSqlQuery &q = prepared(QStringLiteral("UPDATE hourly_state SET rolled_to = %1 WHERE address = :address AND "
                                           "rolled_to > %1%2")
                                .arg(timeExpr(QStringLiteral(":hour")), siteFilter()));
    q.bindValue(QStringLiteral(":hour"), hourMs);
    q.bindValue(QStringLiteral(":address"), address);
    bindSite(q);
    return q.exec() || fail(q);
}

QList<ReadingBucket> ReadingStore::buckets(int address, int point, qint64 fromMs, qint64 toMs, int count)
{
    QList<ReadingBucket> result;
    if (count <= 0 || toMs <= fromMs)
        return result;
    constexpr qint64 hour = 3600000;
    qint64 width = qMax<qint64>(1, (toMs - fromMs + count - 1) / count);
    qint64 origin = fromMs;
    QMap<qint64, Partial> slices;
    bool ok = true;
    if (width < hour) {
        ok = addPartials(QStringLiteral("readings"), address, point, fromMs, toMs, origin, width, &slices);
    } else {
        // Whole hours from the hour `from` is in: an hourly summary falls in one slice.
        width = (width + hour - 1) / hour * hour;
        origin = hourStart(fromMs);
        if (origin + width * count < toMs)
            width += hour; // the earlier start must not cost the last slice
        const qint64 firstWhole = origin == fromMs ? fromMs : origin + hour;
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        const qint64 lastWhole = hourStart(qMin(toMs, now)); // the running hour still fills
        qint64 summarisedTo = firstWhole;
        if (lastWhole > firstWhole) {
            const qint64 rolled = rollUp(address, point, lastWhole);
            if (rolled < 0)
                return result;
            summarisedTo = qMin(rolled, lastWhole);
            ok = addPartials(QStringLiteral("hourly"), address, point, firstWhole, summarisedTo, origin, width, &slices);
        }
        ok = ok && addPartials(QStringLiteral("readings"), address, point, fromMs, qMin(firstWhole, toMs), origin, width, &slices)
             && addPartials(QStringLiteral("readings"), address, point, qMax(summarisedTo, qMin(firstWhole, toMs)), toMs,
                            origin, width, &slices);
    }
    if (!ok)
        return result;
    for (auto it = slices.cbegin(); it != slices.cend(); ++it) {
        ReadingBucket b;
        b.startMs = qMax(fromMs, origin + it.key() * width);
        b.min = it->min;
        b.max = it->max;
        b.mean = it->sum / double(it->count);
        b.count = it->count;
        result.append(b);
    }
    return result;
}

int ReadingStore::deleteReadingsBefore(qint64 cutoffMs, int limit)
{
    // Point by point: the key leads with address and point, so each step is
    // one seek to that point's oldest readings, not a scan of the whole table.
    QSqlQuery &del = prepared(deleteOldReadingsSql());
    QSqlQuery &top = prepared(QStringLiteral("SELECT max(point) FROM readings WHERE address = :address") + siteFilter());
    int deleted = 0;
    for (const DeviceSeen &device : devices()) {
        top.bindValue(QStringLiteral(":address"), device.address);
        bindSite(top);
        if (!top.exec())
            return fail(top), -1;
        const int points = top.next() ? top.value(0).toInt() : 0;
        top.finish();
        for (int point = 1; point <= points && deleted < limit; ++point) {
            del.bindValue(QStringLiteral(":address"), device.address);
            del.bindValue(QStringLiteral(":point"), point);
            del.bindValue(QStringLiteral(":cutoff"), cutoffMs);
            del.bindValue(QStringLiteral(":limit"), limit - deleted);
            bindSite(del);
            if (!del.exec())
                return fail(del), -1;
            const int gone = del.numRowsAffected();
            deleted += gone;
            if (gone > 0 && !trimSummaries(device.address, point, cutoffMs))
                return -1;
        }
        if (deleted >= limit)
            break;
    }
    return deleted;
}

} // namespace vx
