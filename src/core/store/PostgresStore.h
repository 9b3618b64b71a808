#pragma once

#include "core/store/ReadingStore.h"

#include <QSet>

namespace vx {

// The central store: a PostgreSQL database where every row carries its
// site (readings by the site's number, in monthly partitions). Connecting, statements and locks are bounded in time, and the
// connection's socket can be cut from another thread.
class PostgresStore final : public ReadingStore {
public:
    PostgresStore(const StoreLocation &location, const QString &site) : ReadingStore(location, site) {}

    int connectionSocket() const override;
    bool prepareMonths(qint64 nowMs, int ahead) override;
    std::optional<QStringList> dropMonthsBefore(qint64 cutoffMs) override;
    std::optional<bool> summariseAllSites(qint64 upToMs, int budgetMs) override;

protected:
    QString driverName() const override { return QStringLiteral("QPSQL"); }
    void configure() override;
    bool prepareSession(QString *error) override;
    QString timeExpr(const QString &placeholder) const override;
    QString msExpr(const QString &column) const override;
    QString hourExpr(const QString &column) const override;
    QString siteColumn() const override { return QStringLiteral("site, "); }
    bool addBatch(const QList<SiteRows> &batch, int queues) override;
    bool beforeBatch(const QList<SiteRows> &batch) override;
    void afterRollback() override;
    QString deviceUpsertSql() const override;
    QString sensorPlaceUpsertSql() const override;
    QString sensorPlaceReplaceSql() const override;
    QString rollupMarkSql() const override;
    QString deleteOldReadingsSql() const override;

private:
    enum class Copy { Done, NotTaken, Failed };
    Copy copyReadings(const QList<SiteRows> &batch);
    // One statement with the named array literals bound.
    bool execWithArrays(const QString &sql, const QList<std::pair<QString, QString>> &arrays);
    bool ensureMonth(qint64 monthStartMs);
    qint64 m_lastRows = 0;
    // What is known to be there (committed): sites' numbers, months' partitions.
    QHash<QString, int> m_siteIds;
    QSet<qint64> m_months;
};

} // namespace vx
