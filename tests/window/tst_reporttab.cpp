// Tab "日报": a day of 45 cables from the store; the table, the CSV and the
// PDF (a page per 40 cables) say the same numbers.
#include "TestWindow.h"
#include "core/store/ReadingStore.h"
#include "window/tabs/ReportTab.h"

#include <QLabel>
#include <QListWidget>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTableWidget>
#include <QtTest>

#include <ctime>

using namespace vx;
using namespace vx::test;

class tst_reporttab : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void dayOfFortyFiveCables();
    void dayOfOneHundredFiftyAlarms();

private:
    bool popplerThere();
    QByteArray readPdf(const QString &pdf, int *pages);
};

// pdfinfo and pdftotext read the PDF back; without them the test skips
// (fails under CI, where they are installed).
bool tst_reporttab::popplerThere()
{
    if (!QStandardPaths::findExecutable(QStringLiteral("pdfinfo")).isEmpty()
        && !QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
        return true;
    if (qEnvironmentVariable("CI") == QLatin1String("true"))
        qFatal("pdfinfo and pdftotext (poppler-utils) are needed to read the PDF back");
    qWarning("poppler-utils not installed: the PDF is not read back");
    return false;
}

QByteArray tst_reporttab::readPdf(const QString &pdf, int *pages)
{
    QProcess info;
    info.start(QStringLiteral("pdfinfo"), {pdf});
    info.waitForFinished(10000);
    static const QRegularExpression count(QStringLiteral("Pages:\\s+(\\d+)"));
    *pages = count.match(QString::fromUtf8(info.readAllStandardOutput())).captured(1).toInt();
    QProcess text;
    text.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
    text.waitForFinished(10000);
    return text.readAllStandardOutput();
}

void tst_reporttab::initTestCase()
{
    qputenv("TZ", "Asia/Shanghai");
    ::tzset();
}

void tst_reporttab::dayOfFortyFiveCables()
{
    TestWindow t;
    const QDate day(2026, 12, 6);
    const qint64 midnight = QDateTime(day, QTime(0, 0)).toMSecsSinceEpoch();
    {
        QString why;
        const auto store = ReadingStore::open(*parseStoreLocation(t.path(QStringLiteral("vxmon.db")), &why), QString(), &why);
        QVERIFY(store);
        QList<ReadingSet> frames;
        // Every hour of the day, and one reading each side of it that must not count.
        for (int h = -1; h <= 24; ++h) {
            const qint64 at = midnight + qint64(h) * 3600000 + (h < 0 ? 3000000 : h == 24 ? 0 : 0);
            for (int c = 1; c <= 45; ++c) {
                QList<quint16> raw;
                for (int l = 1; l <= 18; ++l)
                    raw << quint16(h < 0 || h == 24 ? 9000 : 1500 + c * 10 + l + (h % 2) * 100);
                frames.append({at, c, raw});
            }
        }
        QVERIFY(store->add(frames, {{midnight + 3600000, 7, QStringLiteral("alarm_raised"), QStringLiteral("高温 电缆07 层03（高于 30.0 °C）")},
                                    {midnight + 7200000, 9, QStringLiteral("alarm_cleared"), QStringLiteral("x")},
                                    {midnight - 60000, 8, QStringLiteral("alarm_raised"), QStringLiteral("the day before")},
                                    // Bin 1's fans: 22:00 the evening before to 03:00, then 20:00 to 22:30: 5.5 hours that day.
                                    {midnight - 7200000, 0, QStringLiteral("fan"), {}, "{\"bin\":1,\"on\":true,\"ok\":true}"},
                                    {midnight + 3 * 3600000, 0, QStringLiteral("fan"), {}, "{\"bin\":1,\"on\":false,\"ok\":true}"},
                                    {midnight + 20 * 3600000, 0, QStringLiteral("fan"), {}, "{\"bin\":1,\"on\":true,\"ok\":true}"},
                                    {midnight + 22 * 3600000 + 1800000, 0, QStringLiteral("fan"), {}, "{\"bin\":1,\"on\":false,\"ok\":true}"}}));
    }
    ReportTab *tab = t.w().reportTab();
    QVERIFY(tab->make(day));
    const DailyReport &r = tab->report();
    QCOMPARE(r.cables().size(), 45);
    QCOMPARE(r.points.size(), 45 * 18);
    // Cable 3, layer 4: 1534 in even hours, 1634 in odd ones: 15.34 .. 16.34, mean 15.84.
    const PointSummary *p = r.at(3, 4);
    QVERIFY(p);
    QCOMPARE(p->count, 24);
    QCOMPARE(DailyReport::number(p->min), QStringLiteral("15.34"));
    QCOMPARE(DailyReport::number(p->max), QStringLiteral("16.34"));
    QCOMPARE(DailyReport::number(p->mean), QStringLiteral("15.84"));
    QCOMPARE(r.bin.address, 45);
    QCOMPARE(r.bin.point, 18);
    QCOMPARE(DailyReport::number(r.bin.max), QStringLiteral("20.68"));
    QCOMPARE(r.alarms.size(), 1);
    auto *table = t.find<QTableWidget>(QStringLiteral("reportTable"));
    QCOMPARE(table->rowCount(), 45);
    QCOMPARE(table->item(2, 3)->text(), QStringLiteral("15.84"));
    QCOMPARE(t.find<QListWidget>(QStringLiteral("reportAlarms"))->count(), 1);

    QString why;
    const QString csv = t.path(QStringLiteral("day.csv")), pdf = t.path(QStringLiteral("day.pdf"));
    QVERIFY(tab->saveCsv(csv, &why));
    QVERIFY2(tab->savePdf(pdf, &why), qPrintable(why));
    QFile f(csv);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = f.readAll().split('\n');
    QCOMPARE(lines[0], QByteArray("cable,layer,min,max,mean,count"));
    QVERIFY(lines.contains("3,4,15.34,16.34,15.84,24"));
    QVERIFY(lines.contains("bin,,15.11,20.68," + DailyReport::number(r.bin.mean).toUtf8() + ",19440"));
    QVERIFY(lines.contains("fans,1,5.50"));
    QVERIFY(t.find<QLabel>(QStringLiteral("reportFigures"))->text().endsWith(QStringLiteral("；风机运行：1号仓 5.5 小时")));

    if (!popplerThere())
        return;
    int pages = 0;
    const QByteArray shown = readPdf(pdf, &pages);
    QCOMPARE(pages, 2); // 45 cables: two pages of 40
    // Every point's average in the CSV is in the PDF, and the bin's figures.
    for (int i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> fields = lines[i].split(',');
        if (fields.size() == 6 && fields[0] != "bin")
            QVERIFY2(shown.contains(fields[4]), lines[i].constData());
    }
    QVERIFY(shown.contains("20.68"));
    QVERIFY(shown.contains("15.11"));
    QVERIFY(QString::fromUtf8(shown).contains(QStringLiteral("1号仓 5.5 小时")));
}

// A bad day: 150 alarms. Every one is in the PDF, over as many pages as it
// takes, and the count on the page is the number of rows.
void tst_reporttab::dayOfOneHundredFiftyAlarms()
{
    TestWindow t;
    const QDate day(2026, 12, 6);
    const qint64 midnight = QDateTime(day, QTime(0, 0)).toMSecsSinceEpoch();
    QStringList times;
    {
        QString why;
        const auto store = ReadingStore::open(*parseStoreLocation(t.path(QStringLiteral("vxmon.db")), &why), QString(), &why);
        QVERIFY(store);
        QList<ReadingSet> frames;
        for (int c = 1; c <= 3; ++c)
            frames.append({midnight + 60000, c, QList<quint16>(18, 2500)});
        QList<StoreEvent> events;
        for (int i = 0; i < 150; ++i) {
            const qint64 at = midnight + qint64(i) * 61000; // a minute and a second apart: every time its own
            times << QDateTime::fromMSecsSinceEpoch(at).toString(QStringLiteral("HH:mm:ss"));
            events.append({at, 1 + i % 40, QStringLiteral("alarm_raised"), QStringLiteral("高温 电缆%1").arg(1 + i % 40, 2, 10, QLatin1Char('0'))});
        }
        QVERIFY(store->add(frames, events));
    }
    ReportTab *tab = t.w().reportTab();
    QVERIFY(tab->make(day));
    QCOMPARE(t.find<QListWidget>(QStringLiteral("reportAlarms"))->count(), 150);
    QString why;
    const QString pdf = t.path(QStringLiteral("day.pdf"));
    QVERIFY2(tab->savePdf(pdf, &why), qPrintable(why));
    if (!popplerThere())
        return;
    int pages = 0;
    QString shown = QString::fromUtf8(readPdf(pdf, &pages));
    QVERIFY2(pages >= 3, qPrintable(QString::number(pages))); // a table page cannot hold 150 rows
    QCOMPARE(shown.count(QStringLiteral("当日报警：150 条")), 1);
    QCOMPARE(shown.count(QStringLiteral("当日报警（续）")), pages - 1);
    QVERIFY(shown.remove(QLatin1Char(' ')).contains(QStringLiteral("第%1/%1页").arg(pages)));
    for (const QString &time : std::as_const(times))
        QCOMPARE(shown.count(time), 1);
}

QTEST_MAIN(tst_reporttab)
#include "tst_reporttab.moc"
