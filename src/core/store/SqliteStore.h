#pragma once

#include "core/store/ReadingStore.h"

struct sqlite3_stmt;

namespace vx {

// The local store: one site's SQLite file, WAL, synchronous=FULL, readings
// inserted through SQLite's own prepared statement, and the outboxes.
class SqliteStore final : public ReadingStore {
public:
    SqliteStore(const StoreLocation &location, const QString &site) : ReadingStore(location, site) {}
    ~SqliteStore() override;

    QList<OutboxEntry> outbox(int limit, OutboxQueue queue, qint64 afterId) override;
    bool dropOutboxThrough(qint64 id, OutboxQueue queue) override;
    qint64 outboxReadings(OutboxQueue queue) override;

protected:
    QString driverName() const override { return QStringLiteral("QSQLITE"); }
    void configure() override;
    bool prepareSession(QString *error) override;
    QString timeExpr(const QString &placeholder) const override { return placeholder; }
    QString msExpr(const QString &column) const override { return column; }
    QString hourExpr(const QString &column) const override;
    QString siteColumn() const override { return QString(); }
    bool addBatch(const QList<SiteRows> &batch, int queues) override;
    QString deviceUpsertSql() const override;
    QString sensorPlaceUpsertSql() const override;
    QString sensorPlaceReplaceSql() const override;
    QString rollupMarkSql() const override;
    QString deleteOldReadingsSql() const override;

private:
    bool addSiteRows(const QList<ReadingSet> &frames, const QList<StoreEvent> &events, int queues);
    bool insertReadings(const QList<ReadingSet> &frames);
    // SQLite's own statement for one reading: binding through QSqlQuery cost
    // about 2,000 instructions a value (it formats a placeholder name for each).
    sqlite3_stmt *m_insertReading = nullptr;
};

} // namespace vx
