// The grain-condition view's figures: frames/s through the real window with
// the overview shown and the store on; the cost of painting the full 40 x 18
// map; and, given a store with a year of one-minute readings, the time from
// choosing 4 points' year to their chart painted.
// Usage: bench_grainview [frames] [YEAR.db]   (prints figures, asserts nothing)
#include "FakeDialogs.h"
#include "Frames.h"
#include "TestWindow.h"
#include "core/store/ReadingStore.h"
#include "window/tabs/GrainOverview.h"
#include "window/tabs/TrendTab.h"

#include <QApplication>
#include <QChartView>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTabWidget>

#include <cstdio>

using namespace vx;
using namespace vx::test;

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int frames = argc > 1 ? QByteArray(argv[1]).toInt() : 20000;
    {
        TestWindow t;
        t.w().resize(1280, 860);
        t.w().show();
        auto *tabs = t.find<QTabWidget>(QStringLiteral("SSTab2"));
        for (int i = 0; i < tabs->count(); ++i)
            if (tabs->tabText(i) == QStringLiteral("粮情总览"))
                tabs->setCurrentIndex(i);
        t.click(QStringLiteral("Command1"));
        QList<QByteArray> stream;
        for (int round = 0; round < 4; ++round)
            for (int a = 1; a <= 36; ++a)
                stream << replyFrame(quint8(a), ramp(13, quint16(1500 + a * 10 + round * 37)));
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < frames; ++i) {
            t.port().feed(stream[i % stream.size()]);
            QCoreApplication::processEvents();
        }
        const double seconds = clock.nsecsElapsed() / 1e9;
        std::printf("== frames through the window, overview shown, store on\n");
        std::printf("frames decoded    %s of %d\n", qPrintable(t.text(QStringLiteral("lblErrCounter"))), frames);
        std::printf("frames per second %.0f\n", frames / seconds);
        std::printf("us per frame      %.1f\n", seconds * 1e6 / frames);

        // The map, every cell filled (40 cables: the last four directly), painted whole.
        for (int a = 37; a <= 40; ++a)
            t.w().pipeline().replay({t.now.toMSecsSinceEpoch(), a, QList<quint16>(18, quint16(2000 + a))});
        GrainMap *map = t.w().overview()->map();
        QPixmap canvas(map->size());
        clock.start();
        const int paints = 200;
        for (int i = 0; i < paints; ++i)
            map->render(&canvas);
        std::printf("== the full 40 x 18 map painted (%dx%d)\n", map->width(), map->height());
        std::printf("us per paint      %.0f\n", clock.nsecsElapsed() / 1e3 / paints);

        // A day of one-minute readings of one point; the trend tab opened on it.
        QList<ReadingSet> day;
        const qint64 now = t.now.toMSecsSinceEpoch();
        for (qint64 ts = now - 86400000 + 1000; ts <= now; ts += 60000)
            day.append({ts, 1, {quint16(2000 + (ts / 60000) % 300)}});
        QString why;
        auto store = ReadingStore::open(*parseStoreLocation(t.path(QStringLiteral("vxmon.db")), &why), QString(), &why);
        store->add(day);
        TrendTab *trend = t.w().trendTab();
        QWidget *page = nullptr;
        for (int i = 0; i < tabs->count(); ++i)
            if (tabs->widget(i)->isAncestorOf(trend))
                page = tabs->widget(i);
        QList<double> opened;
        for (int run = 0; run < 5; ++run) {
            tabs->setCurrentIndex(0);
            QCoreApplication::processEvents();
            clock.start();
            tabs->setCurrentWidget(page); // the tab draws its curve when shown
            trend->draw();
            trend->view()->grab();
            opened << clock.nsecsElapsed() / 1e6;
        }
        std::sort(opened.begin(), opened.end());
        std::printf("== the trend tab opened on 24 h of one-minute readings (%lld points)\n",
                    static_cast<long long>(trend->shown().value(0).times.size()));
        std::printf("opened to painted: median %.1f ms (best %.1f, slowest %.1f)\n", opened[2], opened.first(), opened.last());
    }
    if (argc > 2) {
        QString why;
        auto store = ReadingStore::open(*parseStoreLocation(QString::fromLocal8Bit(argv[2]), &why), QString(), &why);
        if (!store) {
            std::printf("cannot open %s: %s\n", argv[2], qPrintable(why));
            return 1;
        }
        // What the store's own writer thread does every few minutes during collection.
        const qint64 yearEnd = QDateTime(QDate(2026, 1, 1), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
        QElapsedTimer clock;
        clock.start();
        store->summariseHours(yearEnd);
        std::printf("== a year of one-minute readings, 4 points\n");
        std::printf("hourly summaries brought up to date in %.0f ms (done beside collection)\n", clock.nsecsElapsed() / 1e6);
        test::FakeDialogs dialogs;
        TrendTab tab([&] { return store.get(); }, [&] { return yearEnd; }, dialogs);
        tab.resize(1200, 600);
        tab.show();
        tab.findChild<QLineEdit *>(QStringLiteral("trendCables"))->setText(QStringLiteral("1-2"));
        tab.findChild<QLineEdit *>(QStringLiteral("trendLayers"))->setText(QStringLiteral("1,2"));
        tab.findChild<QComboBox *>(QStringLiteral("trendSpan"))->setCurrentIndex(3);
        QList<double> times;
        for (int run = 0; run < 5; ++run) {
            clock.start();
            tab.draw();
            tab.view()->grab(); // painted
            times << clock.nsecsElapsed() / 1e6;
        }
        std::sort(times.begin(), times.end());
        qint64 points = 0;
        for (const TrendTab::Series &s : tab.shown())
            points += s.times.size();
        std::printf("chosen to painted: median %.0f ms (best %.0f, slowest %.0f), %lld points in 4 curves\n", times[2],
                    times.first(), times.last(), points);
    }
    return 0;
}
