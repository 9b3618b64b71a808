// The depot's views offscreen: the hot cable drawn where the depot file hangs
// it, the overview's tile coloured by its bin's worst alarm, the bin's figures.
#include "window/tabs/DepotTab.h"

#include <QApplication>
#include <QSlider>
#include <QLabel>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

using namespace vx;

class tst_depottab : public QObject {
    Q_OBJECT
private slots:
    void hotCableWhereTheFilePutsIt_data();
    void hotCableWhereTheFilePutsIt();
    void inspectionBookPrinted();
    void depotFileEdited();
    void airBesideTheFigures();
};

namespace {
constexpr qint64 kNow = 1796601600000;

quint16 raw(double celsius)
{
    return quint16(qRound(celsius * 100));
}
} // namespace

void tst_depottab::hotCableWhereTheFilePutsIt_data()
{
    QTest::addColumn<QByteArray>("bin");     // bin 2's section
    QTest::addColumn<QString>("hotPosition");
    QTest::newRow("flat warehouse, row 2 column 3") << QByteArray("size = 36x24\ngrid = 3x4\n") << "2, 3";
    QTest::newRow("squat silo, ring 1 at 90°") << QByteArray("kind = squat_silo\ndiameter = 20\nrings = 6\n") << "1, 90";
}

void tst_depottab::hotCableWhereTheFilePutsIt()
{
    QFETCH(QByteArray, bin);
    QFETCH(QString, hotPosition);
    // Bin 1 is the other wheat bin; bin 2 has a cool cable and a hot one, on bus 2.
    const QByteArray text = "[bin.1]\nname = 1号仓\nsize = 10x10\ngrid = 1x1\ngrain = wheat\n"
                            "[bin.2]\nname = 2号仓\ngrain = wheat\n" + bin
                            + "[bus.2]\nport = tcp://127.0.0.1:1\n"
                              "[cable.1]\nbin = 1\nposition = 1, 1\ndepths = 1, 2\n"
                              "[cable.2.5]\nbin = 2\nposition = 1, 1\ndepths = 1, 2\n"
                              "[cable.2.6]\nbin = 2\nposition = " + hotPosition.toUtf8() + "\ndepths = 1, 2\n";
    DepotPicture picture(parseDepot(text));
    QVERIFY2(picture.depot().errors.isEmpty(), qPrintable(picture.depot().errors.value(0).text()));
    picture.take(1, {raw(18), raw(18)}, kNow - 1000);
    picture.take(deviceKey(2, 5), {raw(15), raw(16)}, kNow - 1000);
    picture.take(deviceKey(2, 6), {raw(34), raw(20)}, kNow - 1000);

    DepotTab tab({&picture, [] { return kNow; }, [] { return qint64(600000); }});
    tab.resize(1200, 800);
    tab.refresh();
    AlarmBook book;
    AlarmCondition hot;
    hot.rule = AlarmRule::HighTemperature;
    hot.cable = deviceKey(2, 6);
    hot.points = {{1, 34, SensorFaultKind::None}};
    book.update({hot}, kNow);
    tab.setAlarms(book);
    tab.show();
    QVERIFY(QTest::qWaitForWindowExposed(&tab));

    // The tile of bin 2 is coloured as a high alarm; a click on it opens the bin.
    const QImage overview = tab.overview()->grab().toImage();
    const QRect tile = tab.overview()->tileRect(1);
    const QColor fill = overview.pixelColor(tile.center() + QPoint(0, 45));
    QVERIFY2(fill.red() > 200 && fill.green() < 150, qPrintable(fill.name()));
    QTest::mouseClick(tab.overview(), Qt::LeftButton, {}, tile.center());
    QCOMPARE(tab.shownBin(), 2);

    // Layer 1: the hot cable is red where the file hangs it, the cool one blue.
    const QPointF hotAt = tab.plan()->cableCentre(deviceKey(2, 6)), coolAt = tab.plan()->cableCentre(deviceKey(2, 5));
    QVERIFY(!hotAt.isNull() && !coolAt.isNull() && QLineF(hotAt, coolAt).length() > 30);
    QVERIFY2(hotAt.x() > tab.plan()->width() / 2 + 20, "column 3 of 4, or 90° from the door: right of the middle");
    QImage plan = tab.plan()->grab().toImage();
    QCOMPARE(plan.pixelColor(hotAt.toPoint()).rgb(), temperatureColour(34, 10, 35).rgb());
    QCOMPARE(plan.pixelColor(coolAt.toPoint()).rgb(), temperatureColour(15, 10, 35).rgb());
    // Layer 2: the same cable at 20 °C.
    tab.findChild<QSlider *>(QStringLiteral("depotLayer"))->setValue(2);
    plan = tab.plan()->grab().toImage();
    QCOMPARE(plan.pixelColor(hotAt.toPoint()).rgb(), temperatureColour(20, 10, 35).rgb());

    const QString figures = tab.figuresText();
    QVERIFY2(figures.contains(QStringLiteral("最高 34.0 °C：电缆 1006")), qPrintable(figures));
    QVERIFY2(figures.contains(QStringLiteral("同品种其他 1 个仓平均 18.0 °C")), qPrintable(figures));
}

// An entry written through the bin page's dialog carries the day's figures;
// the book read back from its PDF (one page per entry) and its CSV.
void tst_depottab::inspectionBookPrinted()
{
    if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty()) {
        if (qEnvironmentVariable("CI") == QLatin1String("true"))
            QFAIL("pdftotext (poppler-utils) is needed to read the PDF back");
        QSKIP("poppler-utils not installed");
    }
    DepotPicture picture(parseDepot("[bin.1]\nname = 7号仓\nsize = 10x10\ngrid = 1x1\ngrain = 小麦\nclass = semi_safe\n"
                                    "[cable.1]\nbin = 1\nposition = 1, 1\ndepths = 1, 2\n"));
    picture.take(1, {raw(23.5), raw(21)}, kNow - 1000);
    QList<InspectionEntry> book;
    DepotViewSource source{&picture, [] { return kNow; }, [] { return qint64(600000); },
                           [&] { return book; }, [&](const InspectionEntry &e) { book.append(e); }, nullptr};
    DepotTab tab(source);
    tab.refresh();
    tab.openBin(1);
    tab.findChild<QPushButton *>(QStringLiteral("depotInspect"))->click();
    auto *dialog = tab.findChild<QDialog *>(QStringLiteral("inspectionDialog"));
    QVERIFY(dialog);
    dialog->findChild<QLineEdit *>(QStringLiteral("inspectionInspector"))->setText(QStringLiteral("李四"));
    dialog->findChild<QPlainTextEdit *>(QStringLiteral("inspectionObservations"))->setPlainText(QStringLiteral("粮面平整，无虫"));
    dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
    QCOMPARE(book.size(), 1);
    QCOMPARE(book[0].max.value(), 23.5);
    book.append(tab.inspectionOf(QDate(2026, 12, 20), QStringLiteral("王五"), QStringLiteral("北侧结露")));

    QTemporaryDir dir;
    QString why;
    const QString pdf = dir.filePath(QStringLiteral("book.pdf")), csv = dir.filePath(QStringLiteral("book.csv"));
    QVERIFY2(tab.exportInspections(pdf, &why) && tab.exportInspections(csv, &why), qPrintable(why));
    QProcess text;
    text.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
    QVERIFY(text.waitForFinished(10000));
    const QString read = QString::fromUtf8(text.readAllStandardOutput());
    const QStringList pages = read.split(QLatin1Char('\f'), Qt::SkipEmptyParts);
    QCOMPARE(pages.size(), 2);
    for (const QString &want : {QStringLiteral("粮情检查记录"), QStringLiteral("7号仓"), QStringLiteral("半安全粮"),
                                QStringLiteral("李四"), QStringLiteral("粮面平整，无虫"), QStringLiteral("23.5")})
        QVERIFY2(pages[0].contains(want), qPrintable(want + QStringLiteral(" not in\n") + pages[0]));
    QVERIFY(pages[1].contains(QStringLiteral("王五")) && pages[1].contains(QStringLiteral("2026-12-20")));
    QFile csvFile(csv);
    QVERIFY(csvFile.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = csvFile.readAll().split('\n');
    QVERIFY2(lines.value(1).startsWith(QStringLiteral("1,7号仓,小麦,semi_safe,").toUtf8()), lines.value(1).constData());
}

// The editor names a mistake as it is typed; saving writes the file and hands the depot on.
void tst_depottab::depotFileEdited()
{
    QTemporaryDir dir;
    DepotPicture picture;
    Depot saved;
    DepotViewSource source{&picture, [] { return kNow; }, [] { return qint64(600000); }, {}, {}, nullptr,
                           dir.filePath(QStringLiteral("depot.ini")), [&](const Depot &d) { saved = d; picture.setDepot(d); }};
    DepotTab tab(source);
    tab.findChild<QPushButton *>(QStringLiteral("depotEdit"))->click();
    auto *editor = tab.findChild<QDialog *>(QStringLiteral("depotEditor"));
    QVERIFY(editor);
    auto *text = editor->findChild<QPlainTextEdit *>(QStringLiteral("depotText"));
    auto *problems = editor->findChild<QLabel *>(QStringLiteral("depotEditorProblems"));
    text->setPlainText(QStringLiteral("[bin.3]\nname = 3号仓\nsize = 20x20\ngrid = 4x4\n[cable.9]\nbin = 3\nposition = 2, 2\ndepths = 1, x\n"));
    QVERIFY2(problems->text().contains(QStringLiteral("depot.ini:8: [cable.9] depths")), qPrintable(problems->text()));
    text->setPlainText(text->toPlainText().replace(QStringLiteral("1, x"), QStringLiteral("1, 2")));
    QVERIFY2(!problems->text().contains(QStringLiteral("depot.ini:")), qPrintable(problems->text()));
    editor->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Save)->click();
    QCOMPARE(saved.cables.size(), 1);
    QCOMPARE(saved.cable(9)->depthOf(2), 2.0);
    QFile written(dir.filePath(QStringLiteral("depot.ini")));
    QVERIFY(written.open(QIODevice::ReadOnly) && written.readAll().contains("depths = 1, 2"));
}

// The outside air, the headspace, the advice with its reason and the fans beside the bin's figures.
void tst_depottab::airBesideTheFigures()
{
    const Depot depot = parseDepot("[bin.1]\nsize = 10x10\ngrid = 1x1\ngrain = wheat\nmoisture = 13\nmoisture_date = 2026-11-20\n"
                                   "[cable.1]\nbin = 1\nposition = 1, 1\ndepths = 1, 2\n"
                                   "[air.50]\nplace = outside\n[air.51]\nplace = bin 1\n[fans.1]\nrelay = 60\n");
    DepotPicture picture(depot);
    picture.take(1, {raw(18), raw(18)}, kNow - 1000);
    VentilationControl air;
    air.setDepot(depot);
    air.accept(50, AirReading{5.0, 50.0, {}}, kNow - 1000);
    air.accept(51, AirReading{15.0, 60.0, {}}, kNow - 1000);
    air.evaluate(picture.profiles(kNow, 600000), kNow);
    DepotViewSource source{&picture, [] { return kNow; }, [] { return qint64(600000); }};
    source.air = &air;
    QList<std::optional<bool>> asked;
    source.switchFans = [&asked](int bin, std::optional<bool> on) {
        asked << on;
        return bin == 1 && on == std::optional<bool>(false) ? QStringLiteral("采集服务没有运行") : QString();
    };
    DepotTab tab(source);
    tab.refresh();
    tab.openBin(1);
    // The keeper's switch goes to whoever drives the fans; what went wrong is said beside it.
    for (const char *button : {"depotFansOn", "depotFansOff", "depotFansAuto"})
        QTest::mouseClick(tab.findChild<QPushButton *>(QLatin1String(button)), Qt::LeftButton);
    QCOMPARE(asked, (QList<std::optional<bool>>{true, false, std::nullopt}));
    QCOMPARE(tab.findChild<QLabel *>(QStringLiteral("depotFansMessage"))->text(), QStringLiteral("已发出，结果记入风机日志"));
    const QString figures = tab.figuresText();
    for (const QString &line : {QStringLiteral("外界 5.0 °C 50%RH 露点 -4.6 °C"), QStringLiteral("仓内 15.0 °C 60%RH 露点 7.3 °C"),
                                QStringLiteral("粮食水分 13.0%（2026-11-20 化验）"),
                                QStringLiteral("<b>可以通风</b>：粮温高于外温 13.0 °C（≥ 8.0 °C），开始降温通风"),
                                QStringLiteral("风机 停止")})
        QVERIFY2(figures.contains(line), qPrintable(figures));
}

QTEST_MAIN(tst_depottab)
#include "tst_depottab.moc"
