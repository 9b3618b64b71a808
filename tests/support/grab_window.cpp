// Saves a picture of the window on a fake port, one tab selected.
// Usage: grab_window OUT.png [tab-index]   (a developer's tool, not a test)

#include "TestWindow.h"

#include <QApplication>
#include <QTabWidget>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc < 2)
        return 2;
    vx::test::TestWindow t;
    t.w().resize(1280, 860);
    t.find<QTabWidget>(QStringLiteral("SSTab2"))->setCurrentIndex(argc > 2 ? QByteArray(argv[2]).toInt() : 0);
    t.w().show();
    QApplication::processEvents();
    return t.w().grab().save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
}
