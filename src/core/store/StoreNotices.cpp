// The notifications' tables of the local store (see ReadingStore.h).
#include "core/store/ReadingStore.h"
#include "core/store/StoreRows.h"

#include <QSqlQuery>
#include <QVariant>

namespace vx {

bool ReadingStore::composeNotices(const QList<StoredNotice> &notices, qint64 throughOutboxId)
{
    if (!m_db.transaction())
        return fail(QSqlQuery(m_db));
    bool ok = true;
    for (const StoredNotice &n : notices) {
        QSqlQuery &q = prepared(QStringLiteral("INSERT INTO notices (channel, kind, created, due, next_try, message) "
                                               "VALUES (?, ?, ?, ?, ?, ?)"));
        q.bindValue(0, n.channel);
        q.bindValue(1, n.kind);
        q.bindValue(2, n.createdMs);
        q.bindValue(3, n.dueMs);
        q.bindValue(4, n.dueMs);
        q.bindValue(5, QString::fromUtf8(n.message));
        if (!(ok = q.exec() || fail(q)))
            break;
    }
    if (ok) {
        QSqlQuery &d = prepared(QStringLiteral("DELETE FROM notify_outbox WHERE id <= ?"));
        d.bindValue(0, throughOutboxId);
        ok = d.exec() || fail(d);
    }
    if (ok && m_db.commit())
        return true;
    m_db.rollback();
    return false;
}

QList<StoredNotice> ReadingStore::notices(const QString &channel, int limit)
{
    QList<StoredNotice> result;
    QSqlQuery &q = prepared(QStringLiteral("SELECT id, kind, created, due, next_try, attempts, message, last_error "
                                           "FROM notices WHERE channel = ? ORDER BY id LIMIT ?"));
    q.bindValue(0, channel);
    q.bindValue(1, limit);
    if (!q.exec()) {
        fail(q);
        return result;
    }
    while (q.next())
        result.append({q.value(0).toLongLong(), channel, q.value(1).toString(), q.value(2).toLongLong(),
                       q.value(3).toLongLong(), q.value(4).toLongLong(), q.value(5).toInt(),
                       q.value(6).toString().toUtf8(), q.value(7).toString()});
    q.finish();
    return result;
}

bool ReadingStore::dropNotices(const QList<qint64> &ids)
{
    if (!m_db.transaction())
        return fail(QSqlQuery(m_db));
    for (qint64 id : ids) {
        QSqlQuery &q = prepared(QStringLiteral("DELETE FROM notices WHERE id = ?"));
        q.bindValue(0, id);
        if (!q.exec()) {
            fail(q);
            m_db.rollback();
            return false;
        }
    }
    return m_db.commit() || fail(QSqlQuery(m_db));
}

bool ReadingStore::retryNotice(qint64 id, int attempts, qint64 nextTryMs, const QString &error)
{
    QSqlQuery &q = prepared(QStringLiteral("UPDATE notices SET attempts = ?, next_try = ?, last_error = ? WHERE id = ?"));
    q.bindValue(0, attempts);
    q.bindValue(1, nextTryMs);
    q.bindValue(2, error);
    q.bindValue(3, id);
    return q.exec() || fail(q);
}

qint64 ReadingStore::noticesWaiting(const QString &channel)
{
    QSqlQuery &q = prepared(QStringLiteral("SELECT count(*) FROM notices WHERE channel = ?"));
    q.bindValue(0, channel);
    if (!q.exec() || !q.next())
        return fail(q), -1;
    const qint64 n = q.value(0).toLongLong();
    q.finish();
    return n;
}

} // namespace vx
