#include "core/records/Records.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace vx;

class tst_records : public QObject {
    Q_OBJECT
private slots:
    void dataGetRecordLayout();
    void dateAndTimeTexts_data();
    void dateAndTimeTexts();
    void timeTextFollowsEveryCall();
    void appendsRecordByRecord();
    void missingDirectoryIsCreated();
    void lossIsReportedOncePerDirectory();
    void sizeLimitKeepsOneOlderFile();
};

void tst_records::dataGetRecordLayout()
{
    const QDateTime when(QDate(2026, 12, 7), QTime(8, 3, 5));
    // Four spaces between the time and the first digit: three plus RecHex's own.
    QCOMPARE(dataGetRecord(when, QStringLiteral(" 01 0F")),
             QStringLiteral("\"2026/12/7 08:03:05    01 0F   \"\r\n"));
    QCOMPARE(longTime(QTime(0, 0, 0)), QStringLiteral("00:00:00"));
}

void tst_records::dateAndTimeTexts_data()
{
    QTest::addColumn<QDateTime>("when");
    QTest::addColumn<QString>("date");
    QTest::addColumn<QString>("time");
    QTest::newRow("no leading zeros in the date") << QDateTime(QDate(2026, 1, 5), QTime(0, 0, 0)) << "2026/1/5" << "00:00:00";
    QTest::newRow("end of a year") << QDateTime(QDate(1999, 12, 31), QTime(23, 59, 59)) << "1999/12/31" << "23:59:59";
    QTest::newRow("a five-digit year") << QDateTime(QDate(10000, 2, 29), QTime(9, 5, 7)) << "10000/2/29" << "09:05:07";
    QTest::newRow("before year 1") << QDateTime(QDate(-44, 3, 15), QTime(12, 0, 0)) << "-44/3/15" << "12:00:00";
    QTest::newRow("invalid") << QDateTime(QDate(), QTime()) << "0/0/0" << "-1:-1:-1";
}

void tst_records::dateAndTimeTexts()
{
    QFETCH(QDateTime, when);
    QFETCH(QString, date);
    QFETCH(QString, time);
    QCOMPARE(shortDate(when.date()), date);
    QCOMPARE(longTime(when.time()), time);
    QCOMPARE(generalDateTime(when), date + QLatin1Char(' ') + time);
}

// The last text is reused within a second: a change of second, of day, or a
// step back must still show.
void tst_records::timeTextFollowsEveryCall()
{
    const QDate day(2026, 12, 7);
    const struct {
        QDateTime when;
        const char *text;
    } calls[] = {
        {QDateTime(day, QTime(8, 3, 5, 100)), "2026/12/7 08:03:05"},
        {QDateTime(day, QTime(8, 3, 5, 999)), "2026/12/7 08:03:05"},
        {QDateTime(day, QTime(8, 3, 6, 0)), "2026/12/7 08:03:06"},
        {QDateTime(day.addDays(1), QTime(8, 3, 6, 0)), "2026/12/8 08:03:06"},
        {QDateTime(day, QTime(8, 3, 5, 0)), "2026/12/7 08:03:05"},
        {QDateTime(day, QTime(8, 3, 5, 0), Qt::UTC), "2026/12/7 08:03:05"},
        {QDateTime(), "0/0/0 -1:-1:-1"},
        {QDateTime(day.addDays(-1), QTime(23, 59, 59)), "2026/12/6 23:59:59"},
        {QDateTime(day, QTime(0, 0, 0)), "2026/12/7 00:00:00"},
    };
    for (const auto &call : calls)
        QCOMPARE(generalDateTime(call.when), QString::fromLatin1(call.text));
}

void tst_records::appendsRecordByRecord()
{
    QTemporaryDir dir;
    RecordFiles files;
    const QString path = dir.filePath(QStringLiteral("log.txt"));
    QVERIFY(files.append(path, QStringLiteral("a\r\n")));
    QVERIFY(files.append(path, QStringLiteral("b\r\n")));
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("a\r\nb\r\n"));
    QCOMPARE(files.lostRecords(), 0);
}

void tst_records::missingDirectoryIsCreated()
{
    QTemporaryDir dir;
    RecordFiles files;
    const QString path = dir.filePath(QStringLiteral("data/5.txt"));
    QVERIFY(files.append(path, QStringLiteral("x\r\n")));
    QVERIFY(QFile::exists(path));
}

void tst_records::lossIsReportedOncePerDirectory()
{
    QTemporaryDir dir;
    // A file where the directory should be: it can neither be opened nor created.
    QFile blocker(dir.filePath(QStringLiteral("data")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    RecordFiles files;
    QStringList reported;
    files.setLossHandler([&](const QString &p) { reported << p; });
    const QString first = dir.filePath(QStringLiteral("data/1.txt"));
    for (int i = 0; i < 5; ++i)
        QVERIFY(!files.append(first, QStringLiteral("x\r\n")));
    QVERIFY(!files.append(dir.filePath(QStringLiteral("data/2.txt")), QStringLiteral("x\r\n")));
    QCOMPARE(reported, QStringList{first});
    QCOMPARE(files.lostRecords(), 6);

    // With a recovery handler, writing again is said, with what was lost, and a new loss is said again.
    QStringList recovered;
    files.setRecoveryHandler([&](const QString &d, qint64 lost) { recovered << QStringLiteral("%1 %2").arg(d).arg(lost); });
    QVERIFY(blocker.remove());
    QVERIFY(files.append(first, QStringLiteral("x\r\n")));
    QVERIFY(files.append(first, QStringLiteral("y\r\n")));
    QCOMPARE(recovered, QStringList{dir.filePath(QStringLiteral("data")) + QStringLiteral(" 6")});
    QVERIFY(QDir(dir.filePath(QStringLiteral("data"))).removeRecursively());
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QVERIFY(!files.append(first, QStringLiteral("z\r\n")));
    QCOMPARE(reported, (QStringList{first, first}));
}

void tst_records::sizeLimitKeepsOneOlderFile()
{
    QTemporaryDir dir;
    RecordFiles files;
    const QString path = dir.filePath(QStringLiteral("dataGet.txt"));
    QFile old(path);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write(QByteArray(90, 'o')); // from an earlier run: counted against the limit
    old.close();
    files.setSizeLimit(path, 100);
    const QString record = QStringLiteral("0123456789\r\n"); // 12 bytes
    QVERIFY(files.append(path, record));                  // 102 would pass 100: the old content moves aside
    for (int i = 0; i < 8; ++i)
        QVERIFY(files.append(path, record));              // 9 records: 108 bytes would pass; the 9th starts anew
    QCOMPARE(QFileInfo(path).size(), 12);
    QCOMPARE(QFileInfo(path + ".1").size(), 96);
    QVERIFY(!QFileInfo::exists(path + ".2"));
}

QTEST_APPLESS_MAIN(tst_records)
#include "tst_records.moc"
