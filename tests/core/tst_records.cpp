#include "core/Records.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace vx;

class tst_records : public QObject {
    Q_OBJECT
private slots:
    void dataGetRecordLayout();
    void appendsRecordByRecord();
    void missingDirectoryIsCreated();
    void lossIsReportedOncePerDirectory();
};

void tst_records::dataGetRecordLayout()
{
    const QDateTime when(QDate(2026, 12, 7), QTime(8, 3, 5));
    // Four spaces between the time and the first digit: three plus RecHex's own.
    QCOMPARE(dataGetRecord(when, QStringLiteral(" 01 0F")),
             QStringLiteral("\"2026/12/7 08:03:05    01 0F   \"\r\n"));
    QCOMPARE(longTime(QTime(0, 0, 0)), QStringLiteral("00:00:00"));
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
}

QTEST_APPLESS_MAIN(tst_records)
#include "tst_records.moc"
