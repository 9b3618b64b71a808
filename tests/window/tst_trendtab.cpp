// Tab "历史曲线": a year of readings of 4 points drawn from the store's chart
// buckets; the overview's double-click; the shown data as CSV.
#include "TestWindow.h"
#include "core/store/ReadingStore.h"
#include "window/tabs/GrainOverview.h"
#include "window/tabs/TrendTab.h"

#include <QCheckBox>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateTimeAxis>
#include <QTabWidget>
#include <QTimer>
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
    void whatHappenedJustNow();
    void airBesideTheGrain();
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
    tab->findChild<QComboBox *>(QStringLiteral("trendSpan"))->setCurrentIndex(TrendTab::Year);
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

// Two hours of one-minute readings that ended ten minutes ago: the tab opens
// on them fitted, hovering names a stored reading to the second, zooming in
// fetches single readings, and a new reading extends the curve.
void tst_trendtab::whatHappenedJustNow()
{
    TestWindow t;
    const qint64 now = t.now.toMSecsSinceEpoch();
    const qint64 first = now - 130 * 60000 + 7000, last = now - 10 * 60000 + 7000; // seven seconds past the minute
    QString why;
    const auto store = ReadingStore::open(*parseStoreLocation(t.path(QStringLiteral("vxmon.db")), &why), QString(), &why);
    QVERIFY(store);
    QList<ReadingSet> frames;
    for (qint64 ts = first; ts <= last; ts += 60000)
        frames.append({ts, 1, {quint16(2000 + (ts - first) / 60000)}});
    frames.append({first, 2, {2500}}); // cable 2: one reading only
    frames.append({last + 30000, 3, {8500}}); // cable 3: a power-on value
    QVERIFY(store->add(frames));

    t.w().show();
    auto *tabs = t.find<QTabWidget>(QStringLiteral("SSTab2"));
    TrendTab *tab = t.w().trendTab();
    for (int i = 0; i < tabs->count(); ++i)
        if (tabs->widget(i)->isAncestorOf(tab))
            tabs->setCurrentIndex(i);
    QTRY_COMPARE(tab->shown().size(), 1); // opened with a curve, not blank
    QCOMPARE(tab->shown().first().times.size(), 121);
    const auto [from, to] = tab->shownRange();
    QVERIFY2(from <= first && from > first - 10 * 60000 && to >= last && to < now, "fitted to the data, not to 24 hours");

    // Hovering between two readings: the nearer one, to the second, with its status.
    const QString hover = tab->hoverText(0, last - 60000 + 20000);
    QVERIFY2(hover.contains(QDateTime::fromMSecsSinceEpoch(last - 60000).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")))
                 && hover.contains(QStringLiteral("21.19 °C（正常）")),
             qPrintable(hover));

    QVERIFY(tab->hoverText(0, last + 30000).contains(QStringLiteral("21.20 °C（正常）")));
    // Zoomed in on ten minutes: the single readings there, each at its own time.
    auto *x = qobject_cast<QDateTimeAxis *>(tab->chart()->axes(Qt::Horizontal).first());
    x->setRange(QDateTime::fromMSecsSinceEpoch(last - 10 * 60000 - 1000), QDateTime::fromMSecsSinceEpoch(last + 1000));
    QTRY_COMPARE(tab->shown().first().times.size(), 11);
    for (qint64 time : tab->shown().first().times) { // each within a bucket (300 ms) of its reading
        const qint64 off = ((time - first) % 60000 + 60000) % 60000;
        QVERIFY2(qMin(off, 60000 - off) < 1000, qPrintable(QString::number(off)));
    }

    // Reset, then a new reading: following draws it.
    t.click(QStringLiteral("trendResetButton"));
    QCOMPARE(tab->shown().first().times.size(), 121);
    QVERIFY(store->add({{now - 60000, 1, {2300}}}));
    tab->findChild<QTimer *>(QStringLiteral("trendFollowTick"))->setInterval(10);
    QTRY_COMPARE(tab->shown().first().times.size(), 122);
    QVERIFY(tab->shownRange().second >= now - 60000);

    // One reading: drawn as a dot.
    tab->findChild<QLineEdit *>(QStringLiteral("trendCables"))->setText(QStringLiteral("2"));
    QVERIFY(tab->draw());
    QCOMPARE(tab->shown().first().times.size(), 1);
    QVERIFY(qobject_cast<QLineSeries *>(tab->chart()->series().first())->pointsVisible());
    // A power-on value is not a temperature, yet hovering names it for what it is.
    tab->findChild<QLineEdit *>(QStringLiteral("trendCables"))->setText(QStringLiteral("3"));
    QVERIFY(tab->draw());
    QVERIFY(tab->hoverText(0, last + 30000).contains(QStringLiteral("85.00 °C（上电值，可疑）")));
}

// The air check box: each transmitter's temperature, dew point and RH beside
// the grain's curve, the temperature axis stretched to the frost outside.
void tst_trendtab::airBesideTheGrain()
{
    TestWindow t;
    const qint64 now = t.now.toMSecsSinceEpoch();
    QString why;
    const auto store = ReadingStore::open(*parseStoreLocation(t.path(QStringLiteral("vxmon.db")), &why), QString(), &why);
    QVERIFY(store);
    QList<ReadingSet> frames;
    for (qint64 ts = now - 3600000; ts < now; ts += 60000)
        frames.append({ts, 1, {2000}});
    QVERIFY(store->add(frames));
    QList<StoreEvent> air;
    for (qint64 ts = now - 3600000; ts < now; ts += 60000) {
        air.append({ts, 50, QStringLiteral("air"), {}, "{\"bin\":0,\"celsius\":-6,\"rh\":80,\"dew_point\":-8.8}"});
        air.append({ts, 51, QStringLiteral("air"), {}, "{\"bin\":1,\"celsius\":12,\"rh\":60,\"dew_point\":4.4}"});
    }
    QVERIFY(store->add({}, air));
    TrendTab *tab = t.w().trendTab();
    tab->findChild<QComboBox *>(QStringLiteral("trendSpan"))->setCurrentIndex(TrendTab::SixHours);
    QVERIFY(tab->draw());
    QCOMPARE(tab->chart()->series().size(), 1);
    auto *y = qobject_cast<QValueAxis *>(tab->chart()->axes(Qt::Vertical, tab->chart()->series().first()).first());
    QVERIFY2(y->min() > 15, "the grain alone: no air on the axis");
    tab->findChild<QCheckBox *>(QStringLiteral("trendAir"))->setChecked(true);
    QVERIFY(tab->draw());
    QStringList names;
    for (QAbstractSeries *series : tab->chart()->series())
        names << series->name();
    QCOMPARE(names, (QStringList{"电缆1 层1", "外界温度", "外界露点", "外界湿度", "1号仓仓内温度", "1号仓仓内露点", "1号仓仓内湿度"}));
    QCOMPARE(qobject_cast<QLineSeries *>(tab->chart()->series()[1])->count(), 60);
    y = qobject_cast<QValueAxis *>(tab->chart()->axes(Qt::Vertical, tab->chart()->series().first()).first());
    QVERIFY2(y->min() <= -8.8 && y->max() >= 20, qPrintable(QStringLiteral("%1..%2").arg(y->min()).arg(y->max())));
}

QTEST_MAIN(tst_trendtab)
#include "tst_trendtab.moc"
