// The local zone is read once: the same local times as the library's own
// reading of /etc/localtime, and a TZ the user set is kept.
#include "core/platform/LocalTime.h"

#include <QDateTime>
#include <QFileInfo>
#include <QTest>

#include <cstdlib>
#include <ctime>

using namespace vx;

class tst_localtime : public QObject {
    Q_OBJECT
private slots:
    void zoneSetByTheUserIsKept();
    void sameLocalTimesReadOnce();
};

void tst_localtime::zoneSetByTheUserIsKept()
{
    qputenv("TZ", "Asia/Shanghai");
    readLocalTimeZoneOnce();
    QCOMPARE(qgetenv("TZ"), QByteArray("Asia/Shanghai"));
    qunsetenv("TZ");
    tzset();
}

void tst_localtime::sameLocalTimesReadOnce()
{
    QVERIFY(!qEnvironmentVariableIsSet("TZ"));
    // Both ends of the year, and both sides of where summer time begins and ends in many zones.
    QList<qint64> moments;
    for (const QDateTime &utc : {QDateTime(QDate(2026, 1, 15), QTime(3, 0), Qt::UTC),
                                 QDateTime(QDate(2026, 3, 29), QTime(0, 30), Qt::UTC),
                                 QDateTime(QDate(2026, 3, 29), QTime(1, 30), Qt::UTC),
                                 QDateTime(QDate(2026, 7, 1), QTime(12, 0), Qt::UTC),
                                 QDateTime(QDate(2026, 10, 25), QTime(0, 30), Qt::UTC),
                                 QDateTime(QDate(2026, 10, 25), QTime(1, 30), Qt::UTC),
                                 QDateTime(QDate(2026, 12, 31), QTime(23, 59), Qt::UTC)})
        moments << utc.toMSecsSinceEpoch();
    QStringList before;
    for (qint64 ms : moments)
        before << QDateTime::fromMSecsSinceEpoch(ms).toString(Qt::ISODate);
    readLocalTimeZoneOnce();
    QCOMPARE(qEnvironmentVariableIsSet("TZ"), QFileInfo::exists(QStringLiteral("/etc/localtime")));
    QStringList after;
    for (qint64 ms : moments)
        after << QDateTime::fromMSecsSinceEpoch(ms).toString(Qt::ISODate);
    QCOMPARE(after, before);
    for (int i = 0; i < moments.size(); ++i) // and back: local time to the same instant
        QCOMPARE(QDateTime::fromString(after[i], Qt::ISODate).toMSecsSinceEpoch(), moments[i]);
}

QTEST_GUILESS_MAIN(tst_localtime)
#include "tst_localtime.moc"
