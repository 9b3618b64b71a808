// Alarms in the window: raised from the frames it takes, acknowledged,
// cleared, each change stored; settings edited with their limits checked.
#include "Frames.h"
#include "TestWindow.h"
#include "core/grain/AlarmBook.h"
#include "core/grain/AlarmSettingsFile.h"
#include "core/store/ReadingStore.h"
#include "core/store/StoreService.h"
#include "window/tabs/AlarmTab.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QtTest>

using namespace vx;
using namespace vx::test;

class tst_alarmtab : public QObject {
    Q_OBJECT
private slots:
    void raisedAcknowledgedClearedAndStored();
    void settingsAreCheckedBeforeTheyCount();
    void badSettingsFileFallsBackToDefaults();
    void columnsFitTheirTexts();
    void selectionStaysWithItsAlarm();
    void windowShownLaterFitsItsAlarms();
};

namespace {
void reply(TestWindow &t, int address, const QList<quint16> &registers)
{
    t.queryAnswered(address, registers);
}

QStringList eventKinds(TestWindow &t)
{
    t.w().store()->flush();
    QString why;
    const auto store = ReadingStore::open(*parseStoreLocation(t.path(QStringLiteral("vxmon.db")), &why), QString(), &why);
    QStringList kinds;
    for (const StoreEvent &e : store->events(0, std::numeric_limits<qint64>::max() / 4))
        kinds << e.kind + QLatin1Char(':') + QString::number(e.address);
    kinds.sort();
    return kinds;
}

// Every short column at least as wide as each of its texts (the description
// column takes what is left).
QString narrowCell(QTableWidget *list)
{
    for (int r = 0; r < list->rowCount(); ++r)
        for (int k = 0; k < list->columnCount(); ++k) {
            QTableWidgetItem *item = list->item(r, k);
            if (k == 5 || !item)
                continue;
            // As the view itself would size it: the item delegate's width for the text.
            const int wanted = list->sizeHintForIndex(list->indexFromItem(item)).width();
            if (wanted > list->columnWidth(k))
                return QStringLiteral("row %1 column %2: \"%3\" wants %4 px, has %5")
                    .arg(r).arg(k).arg(item->text()).arg(wanted).arg(list->columnWidth(k));
        }
    return QString();
}

QString tabTitle(TestWindow &t)
{
    auto *tabs = t.find<QTabWidget>(QStringLiteral("SSTab2"));
    for (int i = 0; i < tabs->count(); ++i)
        if (tabs->tabText(i).startsWith(QStringLiteral("报警")))
            return tabs->tabText(i);
    return QString();
}
} // namespace

void tst_alarmtab::raisedAcknowledgedClearedAndStored()
{
    // Jumps of 11 °C are made on purpose here: not a sensor fault in this bin.
    TestWindow::Options options;
    options.prepare = [](const QString &dir) {
        QFile f(alarmSettingsPath(dir));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[alarms]\njump_step=50\n");
    };
    TestWindow t(options);
    for (int c = 1; c <= 4; ++c)
        reply(t, c, QList<quint16>(18, 2000));
    QList<quint16> hot(18, 2000);
    hot[2] = 3100; // 31.00 °C at cable 2, layer 3: above 30, and 8.25 above its layer's average
    reply(t, 2, hot);
    t.w().tick();
    auto *list = t.find<QTableWidget>(QStringLiteral("alarmList"));
    QCOMPARE(list->rowCount(), 2);
    QCOMPARE(t.text(QStringLiteral("alarmCount")), QStringLiteral("报警 2"));
    QCOMPARE(tabTitle(t), QStringLiteral("报警 (2)"));
    QStringList rules{list->item(0, 4)->text(), list->item(1, 4)->text()};
    rules.sort();
    QCOMPARE(rules, (QStringList{QStringLiteral("热点"), QStringLiteral("高温")}));
    QCOMPARE(list->item(0, 1)->text(), QStringLiteral("2"));
    QCOMPARE(list->item(0, 2)->text(), QStringLiteral("3"));
    QCOMPARE(list->item(0, 6)->text(), QStringLiteral("报警中"));

    list->selectRow(0);
    t.click(QStringLiteral("acknowledgeAlarmButton"));
    QCOMPARE(t.w().alarms().activeCount(), 1);
    QCOMPARE(list->item(0, 6)->text(), QStringLiteral("已确认"));
    t.click(QStringLiteral("acknowledgeAllAlarmsButton"));
    QCOMPARE(t.text(QStringLiteral("alarmCount")), QString());
    QCOMPARE(tabTitle(t), QStringLiteral("报警"));

    reply(t, 2, QList<quint16>(18, 2000)); // back to normal
    t.w().tick();
    QCOMPARE(list->item(0, 6)->text(), QStringLiteral("已解除"));
    QCOMPARE(eventKinds(t), (QStringList{"alarm_acknowledged:2", "alarm_acknowledged:2", "alarm_cleared:2",
                                         "alarm_cleared:2", "alarm_raised:2", "alarm_raised:2"}));
}

void tst_alarmtab::settingsAreCheckedBeforeTheyCount()
{
    TestWindow t;
    QList<quint16> warm(18, 2000);
    warm[2] = 3100;
    reply(t, 1, warm);
    reply(t, 2, QList<quint16>(18, 3000));
    reply(t, 3, QList<quint16>(18, 3000));
    t.w().tick();
    QVERIFY(t.w().alarms().activeCount() >= 1);

    t.click(QStringLiteral("alarmSettingsButton"));
    auto *dialog = t.w().findChild<AlarmSettingsDialog *>(QStringLiteral("alarmSettingsDialog"));
    QVERIFY(dialog && dialog->isVisible());
    auto *high = dialog->findChild<QLineEdit *>(QStringLiteral("alarmHighLimit"));
    auto *overrides = dialog->findChild<QPlainTextEdit *>(QStringLiteral("alarmOverrides"));
    auto *ok = dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok);
    auto *errors = dialog->findChild<QLabel *>(QStringLiteral("alarmSettingsErrors"));

    high->setText(QStringLiteral("200"));
    ok->click();
    QCOMPARE(errors->text(), QStringLiteral("高温限 200 超出范围 -55 ~ 125"));
    QVERIFY(dialog->isVisible());
    QVERIFY(!QFile::exists(alarmSettingsPath(t.dir())));
    high->setText(QStringLiteral("35"));
    overrides->setPlainText(QStringLiteral("1.3=30\n9.40=20"));
    ok->click();
    QVERIFY(errors->text().startsWith(QStringLiteral("单独高温限 \"9.40=20\"")));
    overrides->setPlainText(QStringLiteral("1.3=30\n2=29.5"));
    ok->click();
    QTRY_VERIFY(!dialog->isVisible() || dialog->isHidden());

    const AlarmSettingsRead saved = readAlarmSettings(alarmSettingsPath(t.dir()));
    QVERIFY(saved.errors.isEmpty());
    QCOMPARE(saved.settings.highLimit, 35.0);
    QCOMPARE(saved.settings.pointHigh.value({1, 3}), 30.0);
    QCOMPARE(saved.settings.cableHigh.value(2), 29.5);
    // Applied at once: 31 °C at 1.3 is above its own 30; cable 2's 30 °C above its 29.5; cable 3 under 35.
    QStringList highs;
    for (const Alarm &a : t.w().alarms().alarms())
        if (a.state == Alarm::State::Active && a.condition.rule == AlarmRule::HighTemperature)
            highs << QStringLiteral("%1.%2").arg(a.condition.cable).arg(a.condition.layer);
    QCOMPARE(highs.size(), 1 + 18);
    QVERIFY(highs.contains(QStringLiteral("1.3")));
    QVERIFY(!highs.contains(QStringLiteral("3.1")));
}

void tst_alarmtab::badSettingsFileFallsBackToDefaults()
{
    TestWindow::Options options;
    options.prepare = [](const QString &dir) {
        QFile f(alarmSettingsPath(dir));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[alarms]\nhigh_limit=hot\nhot_point_delta=2\n");
    };
    TestWindow t(options);
    QVERIFY(t.w().statusBar()->currentMessage().startsWith(QStringLiteral("报警设置有误，已用默认值")));
    QVERIFY(t.w().statusBar()->currentMessage().contains(QStringLiteral("高温限 \"hot\" 不是数字")));
}

QTEST_MAIN(tst_alarmtab)
#include "tst_alarmtab.moc"

// Widths follow the texts as alarms come, change and go, without the header
// measuring every row each second.
void tst_alarmtab::columnsFitTheirTexts()
{
    // Alarms come before the list is first shown (the window starts hidden,
    // or on another tab): what was measured then is measured again.
    AlarmTab tab;
    tab.resize(900, 400);
    auto *list = tab.findChild<QTableWidget *>(QStringLiteral("alarmList"));
    const auto high = [](int cable, double value) {
        AlarmCondition condition {};
        condition.rule = AlarmRule::HighTemperature;
        condition.cable = cable;
        condition.layer = 3;
        condition.value = value;
        condition.detail = QStringLiteral("高于 30.0 °C");
        return condition;
    };
    const qint64 t0 = QDateTime(QDate(2026, 12, 7), QTime(8, 0)).toMSecsSinceEpoch();
    AlarmBook book;
    book.update({high(2, 31)}, t0);
    tab.showAlarms(book);
    tab.show();
    QVERIFY(QTest::qWaitForWindowExposed(&tab));
    QCOMPARE(list->rowCount(), 1);
    QCOMPARE(narrowCell(list), QString());
    // The same alarm, a much wider value: no row added, its column widens.
    book.update({high(2, 123456.78)}, t0 + 1000);
    tab.showAlarms(book);
    QCOMPARE(list->rowCount(), 1);
    QCOMPARE(list->item(0, 3)->text(), QStringLiteral("123456.78"));
    QCOMPARE(narrowCell(list), QString());
    // Another alarm, and the first cleared: rows change, every column fits.
    book.update({high(245, -12.5)}, t0 + 2000);
    tab.showAlarms(book);
    QCOMPARE(list->rowCount(), 2);
    QCOMPARE(narrowCell(list), QString());
    // Rows moved down: each shows its own alarm's time and cable.
    QCOMPARE(list->item(0, 0)->text(), QStringLiteral("2026-12-07 08:00:02"));
    QCOMPARE(list->item(0, 1)->text(), QStringLiteral("245"));
    QCOMPARE(list->item(1, 0)->text(), QStringLiteral("2026-12-07 08:00:00"));
    QCOMPARE(list->item(1, 1)->text(), QStringLiteral("2"));
    QVERIFY(list->horizontalHeader()->sectionResizeMode(0) != QHeaderView::ResizeToContents);
}

// The operator selects an alarm; a new one comes in above it. The selection
// stays on the alarm chosen, and acknowledging acts on that one.
void tst_alarmtab::selectionStaysWithItsAlarm()
{
    AlarmTab tab;
    auto *list = tab.findChild<QTableWidget *>(QStringLiteral("alarmList"));
    const auto high = [](int cable) {
        AlarmCondition condition {};
        condition.rule = AlarmRule::HighTemperature;
        condition.cable = cable;
        condition.layer = 1;
        condition.value = 31;
        condition.detail = QStringLiteral("高于 30.0 °C");
        return condition;
    };
    AlarmBook book;
    book.update({high(7)}, 1000);
    tab.showAlarms(book);
    list->selectRow(0);
    book.update({high(7), high(9)}, 2000);
    tab.showAlarms(book);
    QCOMPARE(list->rowCount(), 2);
    QCOMPARE(list->item(0, 1)->text(), QStringLiteral("9"));
    QCOMPARE(tab.selectedRow(), 1);
    QCOMPARE(list->item(tab.selectedRow(), 1)->text(), QStringLiteral("7"));
    QSignalSpy acknowledged(&tab, &AlarmTab::acknowledgeRow);
    tab.findChild<QPushButton *>(QStringLiteral("acknowledgeAlarmButton"))->click();
    QCOMPARE(acknowledged.count(), 1);
    QCOMPARE(book.alarms().at(acknowledged.first().first().toInt()).condition.cable, 7);
    // Alarm 7 clears and stays as history; the selection stays on it.
    book.update({high(9)}, 3000);
    tab.showAlarms(book);
    QCOMPARE(list->item(tab.selectedRow(), 1)->text(), QStringLiteral("7"));
}

// The window raises alarms before it is first shown (and the list sits on a
// tab not chosen): once the list is shown its texts fit their columns.
void tst_alarmtab::windowShownLaterFitsItsAlarms()
{
    TestWindow t;
    for (int c = 1; c <= 4; ++c)
        reply(t, c, QList<quint16>(18, 2000));
    QList<quint16> hot(18, 2000);
    hot[2] = 3100;
    reply(t, 2, hot);
    t.w().tick();
    auto *list = t.find<QTableWidget>(QStringLiteral("alarmList"));
    QVERIFY(list->rowCount() > 0);
    t.w().resize(1280, 860);
    auto *tabs = t.find<QTabWidget>(QStringLiteral("SSTab2"));
    for (int i = 0; i < tabs->count(); ++i)
        if (tabs->tabText(i).startsWith(QStringLiteral("报警")))
            tabs->setCurrentIndex(i);
    t.w().show();
    QVERIFY(QTest::qWaitForWindowExposed(&t.w()));
    QTRY_VERIFY(list->isVisible());
    QCOMPARE(narrowCell(list), QString());
}
