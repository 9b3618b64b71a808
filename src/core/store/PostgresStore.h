#pragma once

#include "core/store/ReadingStore.h"

namespace vx {

// The central store: a PostgreSQL database where every row carries its
// site. Connecting, statements and locks are bounded in time, and the
// connection's socket can be cut from another thread.
class PostgresStore final : public ReadingStore {
public:
    PostgresStore(const StoreLocation &location, const QString &site) : ReadingStore(location, site) {}

    int connectionSocket() const override;

protected:
    QString driverName() const override { return QStringLiteral("QPSQL"); }
    void configure() override;
    bool prepareSession(QString *error) override;
    QString timeExpr(const QString &placeholder) const override;
    QString msExpr(const QString &column) const override;
    QString hourExpr(const QString &column) const override;
    QString siteColumn() const override { return QStringLiteral("site, "); }
    bool addBatch(const QList<ReadingSet> &frames, const QList<StoreEvent> &events, int queues) override;
    QString deviceUpsertSql() const override;
    QString sensorPlaceUpsertSql() const override;
    QString sensorPlaceReplaceSql() const override;
    QString rollupMarkSql() const override;
    QString deleteOldReadingsSql() const override;

private:
    enum class Copy { Done, NotTaken, Failed };
    Copy copyReadings(const QList<ReadingSet> &frames);
    // One statement with :site and the named array literals bound.
    bool execWithArrays(const QString &sql, const QList<std::pair<QString, QString>> &arrays);
    qint64 m_lastRows = 0;
};

} // namespace vx
