#include "TestWindow.h"
#include "ui/CachedPanelStyle.h"
#include "ui/LinkIndicator.h"

#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QPainter>

using namespace vx;
using namespace vx::test;

// What the window does to paint less on every reply must not change what
// it paints.
class tst_painting : public QObject {
    Q_OBJECT
private slots:
    void cachedFrameIsPixelForPixel_data();
    void cachedFrameIsPixelForPixel();
    void pacedRepaintsLoseNothing();
    void indicatorShowsOnlyItsFront();
};

namespace {
QImage render(QLineEdit &box)
{
    QImage image(box.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    box.render(&image);
    return image;
}
} // namespace

void tst_painting::cachedFrameIsPixelForPixel_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("red");
    QTest::addColumn<bool>("enabled");
    QTest::newRow("value box") << QSize(58, 22) << false << true;
    QTest::newRow("red text") << QSize(58, 22) << true << true;
    QTest::newRow("disabled") << QSize(58, 22) << false << false;
    QTest::newRow("wide") << QSize(300, 30) << false << true;
}

void tst_painting::cachedFrameIsPixelForPixel()
{
    QFETCH(QSize, size);
    QFETCH(bool, red);
    QFETCH(bool, enabled);
    CachedPanelStyle cached;
    QLineEdit plain(QStringLiteral("25.34")), styled(QStringLiteral("25.34"));
    styled.setStyle(&cached);
    for (QLineEdit *box : {&plain, &styled}) {
        box->setReadOnly(true);
        box->setAlignment(Qt::AlignRight);
        box->resize(size);
        box->setEnabled(enabled);
        if (red) {
            QPalette p = box->palette();
            p.setColor(QPalette::Text, Qt::red);
            box->setPalette(p);
        }
    }
    const QImage expected = render(plain);
    QCOMPARE(render(styled), expected); // drawn once ...
    QCOMPARE(render(styled), expected); // ... and copied from the pixmap after
}

// Repaints come at most every so often, but the last state is always painted.
void tst_painting::pacedRepaintsLoseNothing()
{
    TestWindow t;
    t.w().show();
    QVERIFY(QTest::qWaitForWindowExposed(&t.w()));
    struct Watcher : QObject {
        QLineEdit *box = nullptr;
        QStringList painted;
        bool eventFilter(QObject *o, QEvent *e) override
        {
            if (o == box && e->type() == QEvent::Paint)
                painted << box->text();
            return false;
        }
    } watcher;
    watcher.box = t.box(QStringLiteral("txtCommand"));
    watcher.box->installEventFilter(&watcher);
    QTest::qWait(300);
    watcher.painted.clear();
    for (int i = 1; i <= 20; ++i) { // a burst: 20 texts in quick succession
        watcher.box->setText(QString::number(i));
        QCoreApplication::processEvents();
    }
    QTRY_VERIFY(!watcher.painted.isEmpty() && watcher.painted.last() == QStringLiteral("20"));
    QVERIFY2(watcher.painted.size() < 20, qPrintable(watcher.painted.join(QLatin1Char(','))));
}

void tst_painting::indicatorShowsOnlyItsFront()
{
    LinkIndicator indicator;
    indicator.show();
    const char *names[] = {"imgNotConnected", "ImgYellow", "imgConnected"};
    for (Indicator front : {Indicator::Pending, Indicator::Connected, Indicator::NotConnected, Indicator::NotConnected}) {
        indicator.bringToFront(front);
        QCOMPARE(indicator.front(), front);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(indicator.findChild<QLabel *>(QString::fromLatin1(names[i]))->isVisible(), i == int(front));
    }
}

QTEST_MAIN(tst_painting)
#include "tst_painting.moc"
