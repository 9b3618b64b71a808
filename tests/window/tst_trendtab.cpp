// Tab "历史曲线": a year of readings of 4 points drawn from the store's chart
// buckets; the overview's double-click; the shown data as CSV.
#include "TestWindow.h"
#include "core/store/ReadingStore.h"
#include "window/tabs/GrainOverview.h"
#include "window/tabs/TrendTab.h"

#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QLineEdit>
#include <QLineSeries>
#include <QValueAxis>
#include <QtTest>

#include <cmath>

using namespace vx;
using namespace vx::test;

class tst_trendtab : public QObject {
    Q_OBJECT
private slots:
    void yearOfFourPoints();
    void doubleClickInTheOverview();
};

namespace {
constexpr qint64 kYear = 365LL * 86400000;

// A year of ten-minute readings for cables 1-2, layers 1-2: a yearly wave, peak
// 30 °C plus the point's offset a quarter-year in.
double valueAt(qint64 t, qint64 start, int cable, int layer)
{
    return 20 + 10 * std::sin(2 * M_PI * double(t - start) / double(kYear)) + cable * 0.5 + layer * 0.25;
}
} // namespace

void tst_trendtab::yearOfFourPoints()
{
    TestWindow t;
    const qint64 now = t.now.toMSecsSinceEpoch();
    const qint64 start = now - kYear;
    {
        QString why;
        const auto store = ReadingStore::open(*parseStoreLocation(t.path(QStringLiteral("vxmon.db")), &why), QString(), &why);
        QVERIFY(store);
        QList<ReadingSet> frames;
        for (qint64 ts = start; ts < now; ts += 600000) {
            for (int c = 1; c <= 2; ++c) {
                QList<quint16> raw;
                for (int l = 1; l <= 2; ++l)
                    raw << quint16(std::lround(valueAt(ts, start, c, l) * 100));
                frames.append({ts, c, raw});
            }
            if (frames.size() >= 5000) {
                QVERIFY(store->add(frames));
                frames.clear();
            }
        }
        QVERIFY(store->add(frames));
    }
    TrendTab *tab = t.w().trendTab();
    tab->findChild<QLineEdit *>(QStringLiteral("trendCables"))->setText(QStringLiteral("1-2"));
    tab->findChild<QLineEdit *>(QStringLiteral("trendLayers"))->setText(QStringLiteral("1,2"));
    tab->findChild<QComboBox *>(QStringLiteral("trendSpan"))->setCurrentIndex(3); // a year
    QElapsedTimer clock;
    clock.start();
    QVERIFY(tab->draw());
    tab->view()->resize(1000, 500);
    tab->view()->grab(); // painted
    qDebug("4 points x a year: drawn in %lld ms", clock.elapsed());
    QCOMPARE(tab->chart()->series().size(), 4);
    for (const TrendTab::Series &s : tab->shown()) {
        QVERIFY(s.times.size() > 1000 && s.times.size() <= TrendTab::kBuckets);
        const double peak = 30 + s.cable * 0.5 + s.layer * 0.25;
        const double trough = 10 + s.cable * 0.5 + s.layer * 0.25;
        QVERIFY2(qAbs(*std::max_element(s.max.begin(), s.max.end()) - peak) < 0.011, qPrintable(QString::number(s.cable)));
        QVERIFY(qAbs(*std::min_element(s.min.begin(), s.min.end()) - trough) < 0.011);
        QVERIFY(*std::max_element(s.mean.begin(), s.mean.end()) > peak - 0.05);
    }
    auto *line = qobject_cast<QLineSeries *>(tab->chart()->series().first());
    QCOMPARE(line->count(), int(tab->shown().first().times.size()));
    auto *y = qobject_cast<QValueAxis *>(tab->chart()->axes(Qt::Vertical).first());
    QVERIFY(y->min() <= 10.75 && y->max() >= 31.0); // every curve within the axis

    const QString csv = t.path(QStringLiteral("curves.csv"));
    QString why;
    QVERIFY(tab->exportCsv(csv, &why));
    QFile f(csv);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = f.readAll().split('\n');
    QCOMPARE(lines.first(), QByteArray("cable,layer,time,min,mean,max"));
    qint64 rows = 0;
    for (const TrendTab::Series &s : tab->shown())
        rows += s.times.size();
    QCOMPARE(lines.size() - 2, rows); // header and the final empty piece
}

void tst_trendtab::doubleClickInTheOverview()
{
    TestWindow t;
    t.setText(QStringLiteral("txtStationID"), QStringLiteral("3"));
    t.setText(QStringLiteral("txtDataLength"), QStringLiteral("2"));
    t.click(QStringLiteral("comDoOnce"));
    QByteArray reply = QByteArray::fromHex("030304") + QByteArray::fromHex("07D0 0834");
    t.receive(withCrc(reply));
    GrainMap *map = t.w().overview()->map();
    map->resize(1200, 560);
    QTest::mouseDClick(map, Qt::LeftButton, {}, map->cellRect(3, 2).center());
    auto *tabs = t.find<QTabWidget>(QStringLiteral("SSTab2"));
    QCOMPARE(tabs->tabText(tabs->currentIndex()), QStringLiteral("历史曲线"));
    QCOMPARE(t.w().trendTab()->shown().size(), 1);
    QCOMPARE(t.w().trendTab()->shown().first().cable, 3);
    QCOMPARE(t.w().trendTab()->shown().first().layer, 2);
    QCOMPARE(t.w().trendTab()->shown().first().mean, QList<double>{21.0}); // 0x0834 = 21.00 °C
}

QTEST_MAIN(tst_trendtab)
#include "tst_trendtab.moc"
