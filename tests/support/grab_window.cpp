// Saves a picture of the window on a fake port, one tab selected.
// Usage: grab_window OUT.png [tab-index] [WIDTHxHEIGHT | min]   (a developer's tool, not a test)

#include "TestWindow.h"

#include <QApplication>
#include <QTabWidget>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc < 2)
        return 2;
    vx::test::TestWindow t;
    QSize size(1280, 860);
    if (argc > 3) {
        const QList<QByteArray> wh = QByteArray(argv[3]).split('x');
        size = wh.size() == 2 ? QSize(wh[0].toInt(), wh[1].toInt()) : t.w().minimumSizeHint();
    }
    t.w().resize(size);
    t.find<QTabWidget>(QStringLiteral("SSTab2"))->setCurrentIndex(argc > 2 ? QByteArray(argv[2]).toInt() : 0);
    t.w().show();
    QApplication::processEvents();
    std::printf("window %dx%d, minimum %dx%d\n", t.w().width(), t.w().height(), t.w().minimumSizeHint().width(),
                t.w().minimumSizeHint().height());
    return t.w().grab().save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
}
