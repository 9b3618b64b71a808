// Saves a picture of the window on a fake port, one tab selected.
// Usage: grab_window OUT.png [tab-index] [WIDTHxHEIGHT | min] [demo]   (a developer's tool, not a test)
// demo: 30 cables have answered (a warm spot, a cold corner, faults), 2 have fallen silent.

#include "window/Language.h"
#include "Frames.h"
#include "TestWindow.h"

#include <cmath>

#include <QApplication>
#include <QTabWidget>

#include "core/store/StoreService.h"
#include "window/tabs/GrainOverview.h"
#include "window/tabs/ReportTab.h"
#include "window/tabs/TrendTab.h"

#include <QLineEdit>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc < 2)
        return 2;
    // GRAB_LANG=en: the window in English, as vxmon --lang en shows it.
    vx::installLanguage(qEnvironmentVariable("GRAB_LANG") == QLatin1String("en") ? vx::Language::English
                                                                                 : vx::Language::Chinese);
    vx::test::TestWindow t;
    QSize size(1280, 860);
    if (argc > 3) {
        const QList<QByteArray> wh = QByteArray(argv[3]).split('x');
        size = wh.size() == 2 ? QSize(wh[0].toInt(), wh[1].toInt())
               : QByteArray(argv[3]) == "min" ? t.w().minimumSizeHint() : size;
    }
    if (argc > 4 && QByteArray(argv[4]) == "demo") {
        t.setText(QStringLiteral("txtMaxID"), QStringLiteral("32"));
        for (int c = 1; c <= 32; ++c) {
            QList<quint16> values;
            for (int l = 1; l <= 18; ++l) {
                const double v = 14 + l * 0.5 + 6 * std::exp(-((c - 20) * (c - 20) + (l - 9) * (l - 9)) / 20.0) - (c < 4 ? 6 : 0);
                values << quint16(std::lround(v * 100));
            }
            if (c == 7)
                values[3] = 0xFFFF;
            if (c == 11)
                values[12] = 8500;
            t.now = t.now.addMSecs(c >= 31 ? 0 : 200);
            t.setText(QStringLiteral("txtStationID"), QString::number(c));
            t.setText(QStringLiteral("txtDataLength"), QStringLiteral("18"));
            t.click(QStringLiteral("comDoOnce"));
            t.receive(vx::test::replyFrame(quint8(c), values));
        }
        t.setText(QStringLiteral("txtTimerSet"), QStringLiteral("100"));
        t.click(QStringLiteral("cmdCicleAll"));
        t.now = t.now.addSecs(12); // cables 31 and 32 answered first: now silent
        for (int c = 1; c <= 30; ++c)
            t.w().pipeline().replay({t.now.toMSecsSinceEpoch(), c, {}});
        t.w().tick(); // the cycle keeps running: silence is judged while collecting
        t.w().store()->flush();
        t.w().trendTab()->findChild<QLineEdit *>(QStringLiteral("trendCables"))->setText(QStringLiteral("18-22"));
        t.w().trendTab()->findChild<QLineEdit *>(QStringLiteral("trendLayers"))->setText(QStringLiteral("9"));
        t.w().trendTab()->draw();
        t.w().reportTab()->make(t.now.date());
    }
    t.w().resize(size);
    t.find<QTabWidget>(QStringLiteral("SSTab2"))->setCurrentIndex(argc > 2 ? QByteArray(argv[2]).toInt() : 0);
    t.w().show();
    QApplication::processEvents();
    std::printf("window %dx%d, minimum %dx%d\n", t.w().width(), t.w().height(), t.w().minimumSizeHint().width(),
                t.w().minimumSizeHint().height());
    return t.w().grab().save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
}
