// The depot's views at scale, from the store. Prints; asserts nothing.
//   bench_depot [BINS] [CABLES]   (default 100 bins of 100 cables, 18 points each)
// 1. open: the store's latest frame of every cable (one statement), the depot
//    picture filled, every bin's tile figures, the overview painted: SQLite and
//    PostgreSQL;
// 2. refresh: every bin's figures and the overview painted again;
// 3. a bin's plan repainted on a layer change (median of 18 layers, 5 rounds).
#include "PgServer.h"
#include "core/store/ReadingStore.h"
#include "core/store/StoreLocation.h"
#include "window/tabs/DepotTab.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

using namespace vx;

namespace {

Depot makeDepot(int bins, int cables)
{
    Depot d;
    d.fromFile = true;
    for (int b = 1; b <= bins; ++b) {
        DepotBin bin;
        bin.number = b;
        bin.name = QStringLiteral("%1号仓").arg(b);
        bin.lengthM = 50;
        bin.widthM = 40;
        bin.rows = 10;
        bin.columns = (cables + 9) / 10;
        bin.grain = b % 2 ? QStringLiteral("wheat") : QStringLiteral("maize");
        d.bins.append(bin);
        for (int c = 0; c < cables; ++c) {
            DepotCable cable;
            // One number per cable, 1..bins*cables: past what one depot file's buses name, as a whole company's store might hold.
            const int key = (b - 1) * cables + c + 1;
            cable.bus = key / kDevicesPerBus + 1;
            cable.address = key % kDevicesPerBus;
            cable.bin = b;
            cable.row = c / bin.columns + 1;
            cable.column = c % bin.columns + 1;
            for (int p = 1; p <= kLayers; ++p) {
                cable.points.append(p);
                cable.depthsM.append(0.5 + 0.5 * (p - 1));
            }
            d.cables.append(cable);
        }
    }
    return d;
}

void fill(ReadingStore &store, const Depot &depot, qint64 t0)
{
    QList<ReadingSet> batch;
    for (int frame = 0; frame < 3; ++frame) // a few frames each: the latest must be found, not the only one
        for (const DepotCable &c : depot.cables) {
            QList<quint16> raw;
            for (int p = 0; p < kLayers; ++p)
                raw.append(quint16(1800 + (c.key() * 7 + p * 13 + frame) % 900));
            batch.append({t0 + frame * 600000 + c.key(), c.key(), raw});
            if (batch.size() == 500) {
                store.add(batch);
                batch.clear();
            }
        }
    store.add(batch);
}

double medianOf(QList<double> v)
{
    std::sort(v.begin(), v.end());
    return v.isEmpty() ? 0 : v[v.size() / 2];
}

void measure(const char *engine, const QString &location, const Depot &depot)
{
    QString why;
    const auto where = parseStoreLocation(location, &why);
    {
        auto store = where ? ReadingStore::open(*where, QStringLiteral("bench"), &why) : nullptr;
        if (!store) {
            std::printf("  %s: not measured (%s)\n", engine, qPrintable(why));
            return;
        }
        QElapsedTimer fillClock;
        fillClock.start();
        fill(*store, depot, 1796601600000);
        std::printf("  %s: %lld readings stored in %.1f s\n", engine, qlonglong(store->readingCount()), fillClock.elapsed() / 1000.0);
    }
    const qint64 now = 1796601600000 + 1800000;
    QList<double> opens, refreshes;
    for (int round = 0; round < 3; ++round) {
        QElapsedTimer clock;
        clock.start();
        auto store = ReadingStore::open(*where, QStringLiteral("bench"), &why);
        DepotPicture picture(depot);
        const QList<ReadingSet> frames = store->latestFrames(kLayers);
        for (const ReadingSet &f : frames)
            picture.take(f.address, f.raw, f.timeMs);
        DepotViewSource source{&picture, [now] { return now; }, [] { return qint64(3600000); }, {}, {}, nullptr};
        DepotOverview overview(source);
        overview.setDepot(&depot);
        overview.resize(1600, overview.minimumSizeHint().height());
        QImage image(overview.size(), QImage::Format_ARGB32_Premultiplied);
        overview.render(&image);
        opens << clock.nsecsElapsed() / 1e6;
        if (round == 0 && frames.size() != depot.cables.size())
            std::printf("  %s: %lld latest frames for %lld cables\n", engine, qlonglong(frames.size()), qlonglong(depot.cables.size()));
        for (int r = 0; r < 5; ++r) {
            clock.start();
            overview.render(&image);
            refreshes << clock.nsecsElapsed() / 1e6;
        }
    }
    std::printf("  %s: open (latest frames, %lld bins' figures, overview painted) median %.0f ms, max %.0f ms; "
                "refresh median %.0f ms, max %.0f ms\n",
                engine, qlonglong(depot.bins.size()), medianOf(opens), *std::max_element(opens.begin(), opens.end()),
                medianOf(refreshes), *std::max_element(refreshes.begin(), refreshes.end()));
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const int bins = argc > 1 ? std::atoi(argv[1]) : 100, cables = argc > 2 ? std::atoi(argv[2]) : 100;
    const Depot depot = makeDepot(bins, cables);
    std::printf("== depot of %d bins x %d cables x %d points\n", bins, cables, kLayers);
    QTemporaryDir dir;
    measure("SQLite", dir.filePath(QStringLiteral("depot.db")), depot);
    PgServer pg;
    pg.setDurable(true);
    if (pg.start())
        measure("PostgreSQL", pg.createDatabase(), depot);
    else
        std::printf("  PostgreSQL: not measured (%s)\n", qPrintable(pg.why()));

    // A bin's plan, layer after layer.
    DepotPicture picture(depot);
    for (const DepotCable &c : depot.cablesOf(1)) {
        QList<quint16> raw;
        for (int p = 0; p < kLayers; ++p)
            raw.append(quint16(1800 + (c.key() * 7 + p * 13) % 900));
        picture.take(c.key(), raw, 1796601600000);
    }
    DepotViewSource source{&picture, [] { return qint64(1796601600000); }, [] { return qint64(3600000); }, {}, {}, nullptr};
    for (const bool interpolated : {false, true}) {
        BinPlan plan(source);
        plan.resize(900, 700);
        plan.show(&depot, 1);
        plan.setInterpolated(interpolated);
        QImage image(plan.size(), QImage::Format_ARGB32_Premultiplied);
        QList<double> paints;
        QElapsedTimer clock;
        for (int round = 0; round < 5; ++round)
            for (int layer = 1; layer <= kLayers; ++layer) {
                plan.setLayer(layer);
                clock.start();
                plan.render(&image);
                paints << clock.nsecsElapsed() / 1e6;
            }
        std::printf("  bin plan of %d cables, 900x700, layer change%s: median %.1f ms, max %.1f ms\n", cables,
                    interpolated ? " (interpolated)" : "", medianOf(paints), *std::max_element(paints.begin(), paints.end()));
    }
    return 0;
}
