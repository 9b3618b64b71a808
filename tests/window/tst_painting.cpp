#include "TestWindow.h"
#include "window/widgets/CachedPanelStyle.h"
#include "window/widgets/FlatBackdrop.h"
#include "window/widgets/LinkIndicator.h"
#include "window/widgets/ValueGrid.h"

#include <QApplication>

#include <algorithm>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QScreen>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>


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
    void valueBoxLooksLikeALineEdit_data();
    void valueBoxLooksLikeALineEdit();
    void valueBoxFollowsItsLook_data();
    void valueBoxFollowsItsLook();
    void valueBoxRepaintsAloneAndWhole();
    void valueOutOfSightShowsWhenInSight_data();
    void valueOutOfSightShowsWhenInSight();
    void flatBackdropRepaintsAloneAndWhole_data();
    void flatBackdropRepaintsAloneAndWhole();
    void pacedRepaintsLoseNothing();
    void earlyRepaintTimerStillPaints();
    void indicatorShowsOnlyItsFront();
    void receivedTextAsksForNoLayout();
};

namespace {
void paintTextRed(QWidget *widget) // as a value is shown
{
    QPalette p = widget->palette();
    p.setColor(QPalette::Text, Qt::red);
    widget->setPalette(p);
}

// Layout requests to the objects it watches.
struct LayoutCounter : QObject {
    int requests = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        requests += event->type() == QEvent::LayoutRequest;
        return false;
    }
};

// What the window's backing store holds around a widget: what it shows.
QImage shownAround(QWidget &window, const QWidget *widget)
{
    const QRect where(widget->mapTo(&window, QPoint(-3, -3)), widget->size() + QSize(6, 6));
    return window.windowHandle()->screen()->grabWindow(window.winId(), where.x(), where.y(), where.width(),
                                                       where.height()).toImage().convertToFormat(QImage::Format_RGB32);
}

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
        if (red)
            paintTextRed(box);
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

namespace {
// What the window shows at a widget's place (its backing store), against
// drawing the whole window afresh there.
bool showsWhatAFullRepaintShows(QWidget &window, const QWidget *widget)
{
    const QRect where(widget->mapTo(&window, QPoint(-3, -3)), widget->size() + QSize(6, 6));
    return shownAround(window, widget) == window.grab(where).toImage().convertToFormat(QImage::Format_RGB32);
}

// A read-only box in a column frame, as the grid places it.
struct ValueColumn {
    QFrame frame;
    QLineEdit *box;
    explicit ValueColumn(QLineEdit *lineEdit) : box(lineEdit)
    {
        frame.setAutoFillBackground(true);
        frame.resize(80, 40);
        box->setParent(&frame);
        box->setGeometry(10, 8, 58, 22);
        box->setReadOnly(true);
        box->setAlignment(Qt::AlignRight);
        box->setStyle(CachedPanelStyle::shared());
    }
};

void tintSilent(QWidget *column) // as a silent cable's column is
{
    QPalette p = column->palette();
    p.setColor(QPalette::Window, QColor(255, 200, 120));
    column->setPalette(p);
}

struct PaintLog : QObject {
    QStringList names;
    bool eventFilter(QObject *o, QEvent *e) override
    {
        if (e->type() == QEvent::Paint)
            names << o->objectName();
        return false;
    }
};
} // namespace

void tst_painting::valueBoxLooksLikeALineEdit_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("red");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("silent");
    QTest::addColumn<int>("alignment");
    QTest::newRow("value") << QStringLiteral("25.34") << false << true << false << int(Qt::AlignRight);
    QTest::newRow("start") << QStringLiteral("0") << false << true << false << int(Qt::AlignRight);
    QTest::newRow("negative, red") << QStringLiteral("-12.06") << true << true << false << int(Qt::AlignRight);
    QTest::newRow("suspect") << QStringLiteral("85.00") << true << true << false << int(Qt::AlignRight);
    QTest::newRow("silent column") << QStringLiteral("21.50") << true << true << true << int(Qt::AlignRight);
    QTest::newRow("disabled") << QStringLiteral("19.75") << false << false << false << int(Qt::AlignRight);
    QTest::newRow("trailing blank") << QStringLiteral("7.5 ") << false << true << false << int(Qt::AlignRight);
    QTest::newRow("centred") << QStringLiteral("33.3") << false << true << false << int(Qt::AlignHCenter);
    QTest::newRow("left") << QStringLiteral("33.3") << false << true << false << int(Qt::AlignLeft);
    QTest::newRow("Chinese") << QStringLiteral("无效") << false << true << false << int(Qt::AlignRight);
    QTest::newRow("wider than the box") << QStringLiteral("1234567890.123456") << false << true << false << int(Qt::AlignRight);
    QTest::newRow("empty") << QString() << false << true << false << int(Qt::AlignRight);
}

// A value box drawn by itself is pixel for pixel the line edit it replaces,
// over the column behind it, in every state a box is shown in.
void tst_painting::valueBoxLooksLikeALineEdit()
{
    QFETCH(QString, text);
    QFETCH(bool, red);
    QFETCH(bool, enabled);
    QFETCH(bool, silent);
    QFETCH(int, alignment);
    auto *own = new ValueBox(text);
    ValueColumn plain(new QLineEdit(text)), ownColumn(own);
    for (ValueColumn *c : {&plain, &ownColumn}) {
        if (silent)
            tintSilent(&c->frame);
        c->box->setAlignment(Qt::Alignment(alignment));
        c->box->setEnabled(enabled);
        if (red)
            paintTextRed(c->box);
    }
    QCOMPARE(own->paintsItself(), !text.isEmpty());
    const QImage expected = plain.frame.grab().toImage();
    QCOMPARE(ownColumn.frame.grab().toImage(), expected);
    QCOMPARE(ownColumn.frame.grab().toImage(), expected); // the laid-out text reused
    // Whatever it does not draw itself, the line edit draws.
    own->setFocus();
    own->selectAll();
    QVERIFY(!own->paintsItself());
}

void tst_painting::valueBoxFollowsItsLook_data()
{
    QTest::addColumn<QString>("change");
    for (const char *change : {"column turns silent", "column fills with another role", "text turns red", "disabled",
                               "narrower", "larger font", "right to left", "centred", "wider margins"})
        QTest::newRow(change) << QString::fromLatin1(change);
}

// A box drawn once keeps its value's laid-out text; after any change of
// look, the same value is drawn as the line edit now draws it.
void tst_painting::valueBoxFollowsItsLook()
{
    QFETCH(QString, change);
    const QString value = QStringLiteral("21.75");
    ValueColumn plain(new QLineEdit(value)), own(new ValueBox(value));
    QCOMPARE(own.frame.grab().toImage(), plain.frame.grab().toImage()); // the text laid out for the old look
    for (ValueColumn *c : {&plain, &own}) {
        if (change == QLatin1String("column turns silent")) {
            tintSilent(&c->frame);
        } else if (change == QLatin1String("column fills with another role")) {
            c->frame.setBackgroundRole(QPalette::Base);
        } else if (change == QLatin1String("text turns red")) {
            paintTextRed(c->box);
        } else if (change == QLatin1String("disabled")) {
            c->box->setEnabled(false);
        } else if (change == QLatin1String("narrower")) {
            c->box->resize(50, 22);
        } else if (change == QLatin1String("larger font")) {
            QFont f = c->box->font();
            f.setPointSizeF(f.pointSizeF() * 1.25);
            c->box->setFont(f);
        } else if (change == QLatin1String("right to left")) {
            c->box->setLayoutDirection(Qt::RightToLeft);
        } else if (change == QLatin1String("centred")) {
            c->box->setAlignment(Qt::AlignHCenter);
        } else if (change == QLatin1String("wider margins")) {
            c->box->setTextMargins(0, 0, 6, 0);
        }
    }
    // Right to left, the line edit draws the box (its own drawing differed).
    QCOMPARE(static_cast<ValueBox *>(own.box)->paintsItself(), change != QLatin1String("right to left"));
    QCOMPARE(own.frame.grab().toImage(), plain.frame.grab().toImage());
}

// A new value repaints its box and nothing behind it, and the window then
// shows what a full repaint shows.
void tst_painting::valueBoxRepaintsAloneAndWhole()
{
    QWidget window;
    ValueGrid grid;
    auto *layout = new QVBoxLayout(&window);
    layout->addWidget(grid.buildTab(1));
    window.resize(900, 700);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    PaintLog painted;
    QTest::qWait(50);
    qApp->installEventFilter(&painted);
    grid.showValue(ValueGrid::boxIndex(3, 7), QStringLiteral("23.45"));
    QLineEdit *box = grid.txtValue[std::size_t(ValueGrid::boxIndex(3, 7))];
    QTRY_VERIFY(painted.names.contains(box->objectName()));
    QTest::qWait(50);
    qApp->removeEventFilter(&painted);
    QCOMPARE(painted.names, QStringList{box->objectName()});
    QVERIFY(showsWhatAFullRepaintShows(window, box));
}

void tst_painting::valueOutOfSightShowsWhenInSight_data()
{
    QTest::addColumn<bool>("grabbedHidden");
    QTest::newRow("its tab chosen") << false;
    QTest::newRow("its page grabbed while hidden") << true;
}

// A box on a hidden tab keeps a new value without laying it out; it reads
// back at once, and once seen (or grabbed unseen) it is the box it would
// have been had the value come while it was in sight.
void tst_painting::valueOutOfSightShowsWhenInSight()
{
    QFETCH(bool, grabbedHidden);
    const int index = ValueGrid::boxIndex(13, 5); // on the second tab
    const QString value = QStringLiteral("-3.25");
    QTabWidget tabs, seenTabs;
    ValueGrid grid, seenGrid;
    tabs.addTab(grid.buildTab(1), QStringLiteral("1"));
    tabs.addTab(grid.buildTab(2), QStringLiteral("2"));
    seenTabs.addTab(seenGrid.buildTab(2), QStringLiteral("2"));
    for (QTabWidget *t : {&tabs, &seenTabs}) {
        t->resize(900, 700);
        t->show();
        QVERIFY(QTest::qWaitForWindowExposed(t));
    }
    ValueBox *box = grid.txtValue[std::size_t(index)];
    ValueBox *seenBox = seenGrid.txtValue[std::size_t(index)];
    QVERIFY(!box->isVisible() && seenBox->isVisible());
    grid.showValue(index, value);
    seenGrid.showValue(index, value);
    QCOMPARE(box->text(), value);
    grid.showValue(index, value + QLatin1Char('1')); // and again, still hidden
    grid.showValue(index, value);
    QCOMPARE(box->text(), value);
    QTest::qWait(50);
    const QImage expected = seenBox->grab().toImage();

    if (grabbedHidden) {
        QCOMPARE(box->size(), seenBox->size());
        QCOMPARE(box->grab().toImage(), expected);
    }
    tabs.setCurrentIndex(1);
    // Shown, before any paint: where its characters are is known again.
    QCOMPARE(box->displayText(), value);
    box->selectAll();
    QCOMPARE(box->selectedText(), value);
    box->deselect();
    QTest::qWait(50);
    QCOMPARE(box->grab().toImage(), expected);
}

void tst_painting::flatBackdropRepaintsAloneAndWhole_data()
{
    QTest::addColumn<QPoint>("at");
    QTest::addColumn<bool>("flat");
    QTest::newRow("inside the group box") << QPoint(40, 50) << true;
    QTest::newRow("over its title") << QPoint(6, 2) << false;
    QTest::newRow("over its frame") << QPoint(-4, 60) << false;
}

// A counter inside a group box, where the box is one colour, is repainted
// alone when its text changes, and the window looks as a full repaint would;
// one over the box's title or frame is painted as before, group box and all.
void tst_painting::flatBackdropRepaintsAloneAndWhole()
{
    QFETCH(QPoint, at);
    QFETCH(bool, flat);
    // The same window twice: the counter in one finds its backdrop, the other's is painted as Qt does.
    struct Scene {
        QWidget window;
        QGroupBox *box = new QGroupBox(QStringLiteral("运行状态指示"), &window);
        QLabel *counter = new QLabel(QStringLiteral("0"), box);
        Scene(const QPoint &at, bool backdrop)
        {
            window.resize(300, 200);
            const QString prefix = backdrop ? QStringLiteral("own ") : QStringLiteral("plain ");
            window.setObjectName(prefix + QStringLiteral("window"));
            box->setObjectName(prefix + QStringLiteral("box"));
            box->setStyle(CachedPanelStyle::shared());
            box->setGeometry(20, 20, 240, 140);
            counter->setObjectName(prefix + QStringLiteral("counter"));
            counter->setGeometry(QRect(at, QSize(60, 20)));
            if (backdrop)
                FlatBackdrop::apply(counter);
            window.show();
        }
        QImage shown() { return shownAround(window, counter); }
    };
    Scene own(at, true), plain(at, false);
    QVERIFY(QTest::qWaitForWindowExposed(&own.window));
    QVERIFY(QTest::qWaitForWindowExposed(&plain.window));
    own.window.activateWindow(); // settled: activation changes what a backdrop may look like
    QVERIFY(QTest::qWaitForWindowActive(&own.window));
    own.counter->setText(QStringLiteral("1"));
    QTest::qWait(50);
    QCOMPARE(FlatBackdrop::colourBehind(own.counter).isValid(), flat);
    QCOMPARE(own.counter->testAttribute(Qt::WA_OpaquePaintEvent), flat);

    PaintLog painted;
    qApp->installEventFilter(&painted);
    for (Scene *scene : {&own, &plain})
        scene->counter->setText(QStringLiteral("12345"));
    QTRY_VERIFY(painted.names.contains(QStringLiteral("own counter")) && painted.names.contains(QStringLiteral("plain counter")));
    QTest::qWait(50);
    qApp->removeEventFilter(&painted);
    QVERIFY(painted.names.contains(QStringLiteral("plain box")));
    QVERIFY2(painted.names.contains(QStringLiteral("own box")) != flat, qPrintable(painted.names.join(QLatin1Char(','))));
    QCOMPARE(own.shown(), plain.shown());

    // A new palette behind it: the colour is found again.
    if (flat) {
        const QColor before = FlatBackdrop::colourBehind(own.counter);
        for (Scene *scene : {&own, &plain}) {
            QPalette p = scene->window.palette();
            p.setColor(QPalette::Window, QColor(200, 230, 255));
            scene->window.setPalette(p);
            scene->counter->setText(QStringLiteral("67890"));
        }
        QTRY_VERIFY(FlatBackdrop::colourBehind(own.counter) != before);
        QTest::qWait(50);
        QCOMPARE(own.shown(), plain.shown());
    }
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

// The repaint put off comes when its timer fires, even early (a coarse
// timer may fire up to 5% early): put off once more, it cost a second wake-up.
void tst_painting::earlyRepaintTimerStillPaints()
{
    TestWindow t;
    t.w().show();
    QVERIFY(QTest::qWaitForWindowExposed(&t.w()));
    QLineEdit *box = t.box(QStringLiteral("txtCommand"));
    PaintLog painted;
    box->setText(QStringLiteral("first"));
    QTRY_VERIFY(box->isVisible());
    QTest::qWait(150);
    t.w().setRepaintInterval(60 * 1000);
    box->setText(QStringLiteral("second")); // painted at once: the last paint was long ago
    QCoreApplication::processEvents();
    qApp->installEventFilter(&painted);
    box->setText(QStringLiteral("third")); // within the minute: put off
    QTest::qWait(50);
    QVERIFY(!painted.names.contains(box->objectName()));
    auto *later = t.w().findChild<QTimer *>(QStringLiteral("repaintLater"));
    QVERIFY(later && later->isActive());
    later->start(1); // as if the timer came early
    QTRY_VERIFY_WITH_TIMEOUT(painted.names.contains(box->objectName()), 2000);
    qApp->removeEventFilter(&painted);
}

// The state's lamp is the one seen, and switching it asks for no layout pass
// (two per exchange once, for a 16 x 16 picture).
void tst_painting::indicatorShowsOnlyItsFront()
{
    QWidget holder;
    auto *indicator = new LinkIndicator(&holder);
    holder.show();
    LayoutCounter counter;
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

// A reply's text in the status area asks for no layout pass (it asked twice
// per exchange) and still fills its place when the window is resized.
void tst_painting::receivedTextAsksForNoLayout()
{
    TestWindow t;
    t.w().show();
    QVERIFY(QTest::qWaitForWindowExposed(&t.w()));
    auto *state = t.find<QLabel>(QStringLiteral("txtState"));
    QWidget *holder = state->parentWidget();
    LayoutCounter counter;
    QCoreApplication::processEvents();
    holder->installEventFilter(&counter);
    for (int i = 0; i < 5; ++i) {
        state->setText(QStringLiteral("02 03 24 ").repeated(i + 1));
        QCoreApplication::processEvents();
    }
    QCOMPARE(counter.requests, 0);
    t.w().resize(t.w().size() + QSize(120, 40));
    QTRY_COMPARE(state->geometry(), holder->rect());
    QVERIFY(holder->width() > 0);
}

QTEST_MAIN(tst_painting)
#include "tst_painting.moc"
