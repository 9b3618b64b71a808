#include "TestWindow.h"
#include "window/FirstStart.h"
#include "window/widgets/ListCombo.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStatusBar>
#include <QTabBar>
#include <QGridLayout>
#include <QGroupBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>

using namespace vx;
using namespace vx::test;

class tst_frmmain : public QObject {
    Q_OBJECT
private slots:
    void startUp_data();
    void startUp();
    void fieldsAndCaptions();
    void gridFollowsTheIndexRule();
    void tabsInOrder();
    void controlsStayWholeAtTheSmallestSize();
    void firstStartShowsEverything();
    void sensorOperationDuringTheCycle();
};

void tst_frmmain::startUp_data()
{
    QTest::addColumn<QByteArray>("commSet");
    QTest::addColumn<bool>("openable");
    QTest::addColumn<QString>("combo1Text");
    QTest::addColumn<int>("combo1Index");
    QTest::addColumn<QString>("combo2Text");
    QTest::addColumn<int>("combo2Index");
    QTest::addColumn<QString>("openedAs");  // "port settings", empty: never opened
    QTest::addColumn<int>("statFlag");
    QTest::addColumn<int>("threshold");
    QTest::addColumn<QString>("box");
    QTest::addColumn<bool>("notice");

    QTest::newRow("saved COM4 9600") << QByteArray("4,9600\r\n") << true << "COM4" << 3 << "9600" << 1
                                     << "4 9600,N,8,1" << -1 << 31 << "" << false;
    QTest::newRow("rate 0 starts at 9600") << QByteArray("2,0\r\n") << true << "COM2" << 1 << "9600" << 1
                                           << "2 9600,N,8,1" << -1 << 31 << "" << false;
    QTest::newRow("rate not in the list") << QByteArray("3,1200\r\n") << true << "COM3" << 2 << "19200" << -1
                                          << "3 1200,N,8,1" << -1 << 31 << "" << false;
    QTest::newRow("port outside 1-16") << QByteArray("20,9600\r\n") << true << "COM4" << -1 << "9600" << 1
                                       << "" << 0 << 31 << "" << false;
    QTest::newRow("first run, no comm.set") << QByteArray() << true << "COM1" << 0 << "9600" << 1
                                            << "1 9600,N,8,1" << -1 << 31 << "" << false;
    QTest::newRow("damaged comm.set") << QByteArray("\xff\xfe garbage") << true << "COM1" << 0 << "9600" << 1
                                      << "1 9600,N,8,1" << -1 << 31 << "" << true;
    QTest::newRow("huge numbers") << QByteArray("70000,99999999\r\n") << true << "COM1" << 0 << "9600" << 1
                                  << "1 9600,N,8,1" << -1 << 31 << "" << true;
    QTest::newRow("port cannot be opened") << QByteArray("4,9600\r\n") << false << "COM4" << 3 << "9600" << 1
                                           << "" << 0 << 1 << QStringLiteral("请检查串口端口,串口端口4无法打开!")
                                           << false;
}

void tst_frmmain::startUp()
{
    QFETCH(QByteArray, commSet);
    QFETCH(bool, openable);
    TestWindow::Options options;
    options.commSet = commSet;
    options.portOpenable = openable;
    TestWindow t(options);

    QFETCH(QString, combo1Text);
    QFETCH(int, combo1Index);
    QFETCH(QString, combo2Text);
    QFETCH(int, combo2Index);
    auto *combo1 = t.find<ListCombo>(QStringLiteral("Combo1"));
    auto *combo2 = t.find<ListCombo>(QStringLiteral("Combo2"));
    QCOMPARE(combo1->currentText(), combo1Text);
    QCOMPARE(combo1->listIndex(), combo1Index);
    QCOMPARE(combo2->currentText(), combo2Text);
    QCOMPARE(combo2->listIndex(), combo2Index);

    QFETCH(QString, openedAs);
    QStringList opened;
    for (const auto &o : t.port().opens)
        opened << QStringLiteral("%1 %2").arg(o.portNumber).arg(o.settings);
    QCOMPARE(opened, openedAs.isEmpty() ? QStringList() : QStringList{openedAs});

    QFETCH(int, statFlag);
    QFETCH(int, threshold);
    QCOMPARE(int(t.form().StatFlag), statFlag);
    QCOMPARE(t.port().threshold(), threshold);
    QCOMPARE(t.form().RecLen, qint16(31));
    QCOMPARE(t.form().CmdKind, Kind::None);
    QCOMPARE(t.form().SensorMax, qint16(18));
    QCOMPARE(t.text(QStringLiteral("txtStationID")), QStringLiteral("1"));

    QFETCH(QString, box);
    if (box.isEmpty()) {
        QVERIFY(t.dialogs().boxes.isEmpty());
    } else {
        QCOMPARE(t.dialogs().texts(), QStringList{box});
        QCOMPARE(t.dialogs().boxes.first().title, QStringLiteral("KELP系统出错提示"));
    }
    QFETCH(bool, notice);
    QCOMPARE(t.w().statusBar()->currentMessage().contains(QStringLiteral("comm.set")), notice);
    // The lamp says what the port is from the start; an opened one says how to begin.
    QCOMPARE(t.w().indicator() == Indicator::Connected, !openedAs.isEmpty());
    if (!openedAs.isEmpty() && !notice)
        QCOMPARE(t.w().statusBar()->currentMessage(), QStringLiteral("按“多模块循环”开始采集"));
    QVERIFY(t.port().written.isEmpty()); // start-up sends nothing
    QVERIFY(QDir(t.path(QStringLiteral("data"))).exists());
    QVERIFY(QDir(t.path(QStringLiteral("txt"))).exists());
}

void tst_frmmain::fieldsAndCaptions()
{
    TestWindow t;
    QCOMPARE(t.w().windowTitle(), QStringLiteral("VX7310K-42无线动态数据监测软件"));
    const QList<QPair<QString, QString>> texts = {
        {"txtFunID", "3"}, {"txtStartID", "0"}, {"txtDataLength", "18"}, {"txtTimerSet", "1000"},
        {"txtMaxID", "36"}, {"lblErrCounter", "0"}, {"lblCounter", "0"}, {"txtCommand", ""}, {"txtState", ""}};
    for (const auto &[name, text] : texts)
        QCOMPARE(t.text(name), text);
    const QList<QPair<QString, QString>> buttons = {
        {"cmdCom", "保存设置"}, {"cmdCicleAll", "多模块循环"}, {"Command1", "主动上传模式"},
        {"comDoOnce", "单次"}, {"cmdOneM", "循环"}, {"cmdStopOnce", "停止"}};
    for (const auto &[name, caption] : buttons)
        QCOMPARE(t.find<QPushButton>(name)->text(), caption);
    const QList<QPair<QString, QString>> frames = {
        {"Frame10", "MODBUS设置"}, {"Frame5", "串口设置"}, {"Frame6", "运行状态指示"},
        {"Frame1", "二次开发命令观察窗口"}, {"Frame11", "数据查询操作"}};
    for (const auto &[name, title] : frames)
        QCOMPARE(t.find<QGroupBox>(name)->title(), title);
    QCOMPARE(t.label(QStringLiteral("lblErrCounter"))->toolTip(), QStringLiteral("误码率"));
    QCOMPARE(t.label(QStringLiteral("lblCounter"))->toolTip(), QStringLiteral("测试统计"));
    for (const char *img : {"imgNotConnected", "ImgYellow", "imgConnected"}) {
        auto *label = t.label(QString::fromLatin1(img));
        QCOMPARE(label->toolTip(), QStringLiteral("数据采集通讯状态指示"));
        QCOMPARE(label->pixmap().size(), QSize(16, 16));
    }
    auto *combo1 = t.find<QComboBox>(QStringLiteral("Combo1"));
    QCOMPARE(combo1->count(), 16);
    QCOMPARE(combo1->itemText(15), QStringLiteral("COM16"));
    QCOMPARE(combo1->toolTip(), QStringLiteral("COM1 → /dev/ttyS0"));
    auto *combo2 = t.find<QComboBox>(QStringLiteral("Combo2"));
    QCOMPARE(combo2->count(), 4);
    for (const char *name : {"Timer1", "Timer2", "Timer5"})
        QVERIFY(!t.find<QTimer>(QString::fromLatin1(name))->isActive());
    QVERIFY(!t.label(QStringLiteral("Label4"))->text().isEmpty());
    QVERIFY(!t.label(QStringLiteral("Label9"))->text().isEmpty());
}

void tst_frmmain::gridFollowsTheIndexRule()
{
    TestWindow t;
    auto *tabs = t.find<QTabWidget>(QStringLiteral("SSTab2"));
    for (int d = 1; d <= 40; ++d) {
        const auto *frame = t.find<QFrame>(QStringLiteral("Frame3_%1").arg(d - 1));
        auto *rows = qobject_cast<QGridLayout *>(frame->layout());
        QVERIFY(tabs->widget((d - 1) / 10)->isAncestorOf(frame));
        QCOMPARE(frame->toolTip(), QStringLiteral("设备地址 %1").arg(d));
        for (int p = 1; p <= 18; ++p) {
            const int index = (d - 1) * 18 + (p - 1);
            QCOMPARE(ValueGrid::boxIndex(d, p), index);
            auto *box = t.box(QStringLiteral("txtValue_%1").arg(index));
            auto *label = t.label(QStringLiteral("lblDanWei_%1").arg(index));
            QCOMPARE(box->text(), QStringLiteral("0"));
            QCOMPARE(label->text(), QStringLiteral("%1#").arg(p));
            QCOMPARE(box->parentWidget(), frame);
            int boxRow, labelRow, span1, span2;
            rows->getItemPosition(rows->indexOf(box), &boxRow, &span1, &span1, &span2);
            rows->getItemPosition(rows->indexOf(label), &labelRow, &span1, &span1, &span2);
            QCOMPARE(boxRow, p - 1); // row p from the top
            QCOMPARE(labelRow, boxRow);
        }
        QCOMPARE(t.text(QStringLiteral("lblRCounter_%1").arg(d - 1)), QStringLiteral("0"));
        QCOMPARE(t.text(QStringLiteral("LBLrecTime_%1").arg(d - 1)), QStringLiteral("00:00:00"));
    }
    QCOMPARE(t.w().findChildren<QLineEdit *>(QRegularExpression(QStringLiteral("^txtValue_\\d+$"))).size(), 720);
    QCOMPARE(t.w().findChildren<QLabel *>(QRegularExpression(QStringLiteral("^lblRCounter_\\d+$"))).size(), 40);
}

void tst_frmmain::tabsInOrder()
{
    TestWindow t;
    auto *tabs = t.find<QTabWidget>(QStringLiteral("SSTab2"));
    QStringList names;
    for (int i = 0; i < tabs->count(); ++i)
        names << tabs->tabText(i);
    // The seven tabs the window always had, in their places; new ones only after them.
    QCOMPARE(names, QStringList({"1-10#电缆", "11-20#电缆", "21-30#电缆", "31-40#电缆", "单机参数设置",
                                 "单机传感器设置", "关于软件", "粮情总览", "报警", "历史曲线", "日报", "数据存储", "仓房"}));
}

// Shrunk as far as it goes, the window keeps every control at least at its
// own minimum size and rows apart: the tab pages scroll instead.
void tst_frmmain::controlsStayWholeAtTheSmallestSize()
{
    TestWindow t;
    t.w().resize(300, 200);
    t.w().show();
    QVERIFY(QTest::qWaitForWindowExposed(&t.w()));
    QVERIFY(t.w().width() <= 900 && t.w().height() <= 560); // fits a small screen
    auto *tabs = t.find<QTabWidget>(QStringLiteral("SSTab2"));
    for (int tab = 0; tab < tabs->count(); ++tab) {
        tabs->setCurrentIndex(tab);
        QCoreApplication::processEvents();
        for (QWidget *control : tabs->currentWidget()->findChildren<QWidget *>()) {
            // qt_*: the insides of Qt's own controls (a date field's editor), laid out by Qt.
            if (!control->isVisible() || control->objectName().isEmpty() || control->inherits("QScrollBar")
                || control->objectName().startsWith(QLatin1String("qt_")))
                continue;
            const QSize least = control->minimumSizeHint().boundedTo(control->maximumSize()); // fixed sizes are meant
            QVERIFY2(control->height() >= least.height() && control->width() >= least.width(),
                     qPrintable(QStringLiteral("%1 is %2x%3, needs %4x%5").arg(control->objectName())
                                    .arg(control->width()).arg(control->height()).arg(least.width()).arg(least.height())));
        }
    }
    tabs->setCurrentIndex(0);
    QCoreApplication::processEvents();
    for (int p = 1; p < 18; ++p) {
        const QRect upper = t.box(QStringLiteral("txtValue_%1").arg(p - 1))->geometry();
        const QRect lower = t.box(QStringLiteral("txtValue_%1").arg(p))->geometry();
        QVERIFY2(lower.top() > upper.bottom(), qPrintable(QStringLiteral("rows %1 and %2 overlap").arg(p).arg(p + 1)));
    }
}

// Every tab title and all ten grid columns at the size the window opens with
// (where the screen allows); the size the operator gives it is kept.
void tst_frmmain::firstStartShowsEverything()
{
    TestWindow t;
    t.w().show();
    auto *tabs = t.find<QTabWidget>(QStringLiteral("SSTab2"));
    t.w().resize(roomyWindowSize(t.w(), *tabs)); // the offscreen screen is smaller than a depot's
    QTRY_VERIFY(QFileInfo(t.path(QStringLiteral("view.ini"))).exists());
    QCoreApplication::processEvents();
    QTabBar *bar = tabs->tabBar();
    QVERIFY2(bar->tabRect(bar->count() - 1).right() < bar->width(), "the last tab title is shown");
    for (const char *box : {"txtValue_0", "txtValue_162", "txtValue_179"}) { // columns 1 and 10, layers 1 and 18
        auto *field = t.find<QWidget>(QString::fromLatin1(box));
        const QRect inTabs(field->mapTo(tabs, QPoint(0, 0)), field->size());
        QVERIFY2(tabs->rect().contains(inTabs), box);
    }
    QCOMPARE(QSettings(t.path(QStringLiteral("view.ini")), QSettings::IniFormat).value(QStringLiteral("window/size")).toSize(),
             t.w().size());

    // The next start opens at that size (here: a smaller one the operator chose).
    const QSize chosen = t.w().minimumSizeHint() + QSize(20, 10);
    TestWindow::Options options;
    options.prepare = [chosen](const QString &dir) {
        QSettings(QDir(dir).filePath(QStringLiteral("view.ini")), QSettings::IniFormat).setValue(QStringLiteral("window/size"), chosen);
    };
    TestWindow again(options);
    again.w().show();
    QCOMPARE(again.w().size(), chosen);
}

void tst_frmmain::sensorOperationDuringTheCycle()
{
    TestWindow t;
    t.setText(QStringLiteral("txtStationID"), QStringLiteral("7"));
    t.click(QStringLiteral("cmdReadSensorID"));
    QVERIFY(!t.w().statusBar()->currentMessage().contains(QStringLiteral("传感器操作")));
    t.click(QStringLiteral("cmdCicleAll"));
    t.setText(QStringLiteral("txtStationID"), QStringLiteral("7"));
    t.click(QStringLiteral("cmdReadSensorID"));
    QVERIFY2(t.w().statusBar()->currentMessage().startsWith(QStringLiteral("传感器操作发往设备 7；")),
             qPrintable(t.w().statusBar()->currentMessage()));
    t.click(QStringLiteral("cmdStopOnce"));
}

QTEST_MAIN(tst_frmmain)
#include "tst_frmmain.moc"
