#include "TestWindow.h"
#include "ui/CachedPanelStyle.h"
#include "ui/LinkIndicator.h"

#include <QApplication>

#include <algorithm>
#include <QGroupBox>
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
    void cachedGroupBoxIsPixelForPixel_data();
    void cachedGroupBoxIsPixelForPixel();
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

void tst_painting::cachedGroupBoxIsPixelForPixel_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("checkable");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("opaqueBehind");
    QTest::newRow("Chinese title") << QStringLiteral("运行状态指示") << QSize(240, 120) << false << true << true;
    QTest::newRow("over nothing") << QStringLiteral("运行状态指示") << QSize(240, 120) << false << true << false;
    QTest::newRow("English title") << QStringLiteral("MODBUS settings") << QSize(300, 90) << false << true << true;
    QTest::newRow("checkable") << QStringLiteral("数据查询操作") << QSize(200, 80) << true << true << true;
    QTest::newRow("disabled") << QStringLiteral("串口设置") << QSize(200, 80) << false << false << true;
    QTest::newRow("no title") << QString() << QSize(120, 60) << false << true << true;
    QTest::newRow("narrower than its title") << QStringLiteral("二次开发命令观察窗口") << QSize(50, 40) << false << true << true;
}

namespace {
// The largest difference of any channel of any pixel (-1: sizes differ).
int largestDifference(const QImage &a, const QImage &b)
{
    if (a.size() != b.size())
        return -1;
    int largest = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            largest = std::max({largest, qAbs(qRed(p) - qRed(q)), qAbs(qGreen(p) - qGreen(q)), qAbs(qBlue(p) - qBlue(q)),
                            qAbs(qAlpha(p) - qAlpha(q))});
        }
    return largest;
}
} // namespace

// A group box, frame and title, looks the same drawn from the pixmap, and a
// box that changes (title, size, state) is drawn afresh. Fusion's frame is a
// half-transparent picture: blended once into the pixmap and once onto the
// window, its edge pixels may round one level apart from a single blend.
void tst_painting::cachedGroupBoxIsPixelForPixel()
{
    QFETCH(QString, title);
    QFETCH(QSize, size);
    QFETCH(bool, checkable);
    QFETCH(bool, enabled);
    QFETCH(bool, opaqueBehind);
    CachedPanelStyle cached;
    QGroupBox plain(title), styled(title);
    styled.setStyle(&cached);
    for (QGroupBox *box : {&plain, &styled}) {
        box->setCheckable(checkable);
        box->resize(size);
        box->setEnabled(enabled);
    }
    const auto render = [&](QGroupBox &box) {
        QImage image(box.size(), QImage::Format_ARGB32_Premultiplied);
        image.fill(opaqueBehind ? box.palette().color(QPalette::Window) : QColor(Qt::transparent));
        box.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
        return image;
    };
    const QImage expected = render(plain);
    const int first = largestDifference(render(styled), expected), second = largestDifference(render(styled), expected);
    QVERIFY2(first >= 0 && first <= 1, qPrintable(QString::number(first)));    // drawn once ...
    QVERIFY2(second >= 0 && second <= 1, qPrintable(QString::number(second))); // ... and copied after
    // Changed, each is drawn again rather than copied from the old picture.
    for (QGroupBox *box : {&plain, &styled}) {
        box->setTitle(title + QStringLiteral(" 2"));
        box->resize(size + QSize(10, 4));
    }
    const QImage changed = render(plain);
    QVERIFY(largestDifference(changed, expected) != 0);
    const int redrawn = largestDifference(render(styled), changed);
    QVERIFY2(redrawn >= 0 && redrawn <= 1, qPrintable(QString::number(redrawn)));
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

// The state's lamp is the one seen, and switching it asks for no layout pass
// (two per exchange once, for a 16 x 16 picture).
void tst_painting::indicatorShowsOnlyItsFront()
{
    QWidget holder;
    auto *indicator = new LinkIndicator(&holder);
    holder.show();
    struct LayoutCounter : QObject {
        int requests = 0;
        bool eventFilter(QObject *, QEvent *event) override
        {
            requests += event->type() == QEvent::LayoutRequest;
            return false;
        }
    } counter;
    QCoreApplication::processEvents();
    holder.installEventFilter(&counter);
    indicator->installEventFilter(&counter);
    const QColor colours[] = {QColor(220, 0, 0), QColor(240, 200, 0), QColor(0, 180, 0)};
    for (Indicator front : {Indicator::Pending, Indicator::Connected, Indicator::NotConnected, Indicator::NotConnected,
                            Indicator::Pending}) {
        indicator->bringToFront(front);
        QCoreApplication::processEvents();
        QCOMPARE(indicator->front(), front);
        QCOMPARE(indicator->grab().toImage().pixelColor(8, 8), colours[int(front)]);
    }
    QCOMPARE(counter.requests, 0);
}

QTEST_MAIN(tst_painting)
#include "tst_painting.moc"
