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
#include <QTreeWidget>
#include <QtTest>

using namespace vx;
using namespace vx::test;

class tst_alarmtab : public QObject {
    Q_OBJECT
private slots:
    void raisedAcknowledgedClearedAndStored();
    void settingsAreCheckedBeforeTheyCount();
    void badSettingsFileFallsBackToDefaults();
    void mostUrgentFirstAndFiltered();
    void selectionStaysWithItsAlarm();
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
    auto *list = t.find<QTreeWidget>(QStringLiteral("alarmList"));
    QCOMPARE(list->topLevelItemCount(), 2);
    // Per priority, unacknowledged of open; the high one first.
    QCOMPARE(t.text(QStringLiteral("alarmCount")), QStringLiteral("报警 高 1/1  中 1/1"));
    QCOMPARE(tabTitle(t), QStringLiteral("报警 (高 1/1  中 1/1)"));
    QCOMPARE(list->topLevelItem(0)->text(5), QStringLiteral("高温"));
    QCOMPARE(list->topLevelItem(1)->text(5), QStringLiteral("热点"));
    QCOMPARE(list->topLevelItem(0)->text(2), QStringLiteral("2"));
    QCOMPARE(list->topLevelItem(0)->text(3), QStringLiteral("03"));
    QCOMPARE(list->topLevelItem(0)->text(7), QStringLiteral("报警中"));

    list->topLevelItem(0)->setSelected(true);
    t.click(QStringLiteral("acknowledgeAlarmButton"));
    QCOMPARE(t.w().alarms().activeCount(), 2); // acknowledged and still holding: counted
    QCOMPARE(t.text(QStringLiteral("alarmCount")), QStringLiteral("报警 高 0/1  中 1/1"));
    QCOMPARE(list->topLevelItem(0)->text(7), QStringLiteral("已确认"));
    t.click(QStringLiteral("acknowledgeAllAlarmsButton"));
    QCOMPARE(t.text(QStringLiteral("alarmCount")), QStringLiteral("报警 高 0/1  中 0/1"));

    reply(t, 2, QList<quint16>(18, 2000)); // back to normal
    t.w().tick();
    QCOMPARE(t.text(QStringLiteral("alarmCount")), QString());
    QCOMPARE(tabTitle(t), QStringLiteral("报警"));
    QCOMPARE(list->topLevelItemCount(), 0); // the list shows open alarms unless asked for all
    t.w().alarmTab()->setFilter(AlarmTab::Filter::All);
    QCOMPARE(list->topLevelItemCount(), 2);
    QCOMPARE(list->topLevelItem(0)->text(7), QStringLiteral("已解除"));
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
    // One alarm per cable, carrying its layers.
    QMap<int, QString> highs;
    for (const Alarm &a : t.w().alarms().alarms())
        if (a.state == Alarm::State::Active && a.condition.rule == AlarmRule::HighTemperature)
            highs.insert(a.condition.cable, a.condition.layersText());
    QCOMPARE(highs, (QMap<int, QString>{{1, "03"}, {2, "01-18"}}));
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

namespace {
AlarmCondition group(AlarmRule rule, int cable, QList<int> layers, double value = 31)
{
    AlarmCondition c;
    c.rule = rule;
    c.cable = cable;
    for (int l : layers)
        c.points.append({l, value, rule == AlarmRule::SensorFault ? SensorFaultKind::NoReading : SensorFaultKind::None});
    c.layer = layers.value(0);
    c.value = value;
    c.limit = 30;
    return c;
}
} // namespace

// High before medium before low, whatever came first; a group's points
// underneath; the filter shows open, unacknowledged or all.
void tst_alarmtab::mostUrgentFirstAndFiltered()
{
    AlarmTab tab;
    auto *list = tab.findChild<QTreeWidget *>(QStringLiteral("alarmList"));
    AlarmBook book;
    book.update({group(AlarmRule::SensorFault, 5, {17, 18})}, 1000);
    book.update({group(AlarmRule::SensorFault, 5, {17, 18}), group(AlarmRule::HotPoint, 3, {4})}, 2000);
    book.update({group(AlarmRule::SensorFault, 5, {17, 18}), group(AlarmRule::HotPoint, 3, {4}),
                 group(AlarmRule::HighTemperature, 3, {3, 4, 5})}, 3000);
    tab.showAlarms(book);
    QStringList order;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        order << list->topLevelItem(i)->text(0) + list->topLevelItem(i)->text(5);
    QCOMPARE(order, (QStringList{"高高温", "中热点", "低传感器故障"}));
    QCOMPARE(list->topLevelItem(0)->text(3), QStringLiteral("03-05"));
    QCOMPARE(list->topLevelItem(0)->childCount(), 3);
    QCOMPARE(list->topLevelItem(2)->childCount(), 2);
    QVERIFY(list->topLevelItem(0)->font(0).bold()); // unacknowledged

    book.acknowledge(2, 4000); // the oldest: the sensor fault
    tab.showAlarms(book);
    QVERIFY(!list->topLevelItem(2)->font(0).bold());
    tab.setFilter(AlarmTab::Filter::Unacknowledged);
    QCOMPARE(list->topLevelItemCount(), 2);
    book.update({group(AlarmRule::HighTemperature, 3, {3, 4, 5})}, 5000);
    tab.showAlarms(book);
    tab.setFilter(AlarmTab::Filter::Open);
    QCOMPARE(list->topLevelItemCount(), 1);
    tab.setFilter(AlarmTab::Filter::All);
    QCOMPARE(list->topLevelItemCount(), 3);
}

// The operator selects an alarm; a new one comes in. The selection stays on
// the alarm chosen, and acknowledging acts on that one.
void tst_alarmtab::selectionStaysWithItsAlarm()
{
    AlarmTab tab;
    auto *list = tab.findChild<QTreeWidget *>(QStringLiteral("alarmList"));
    AlarmBook book;
    book.update({group(AlarmRule::HotPoint, 7, {1})}, 1000);
    tab.showAlarms(book);
    list->topLevelItem(0)->setSelected(true);
    book.update({group(AlarmRule::HotPoint, 7, {1}), group(AlarmRule::HighTemperature, 9, {1})}, 2000);
    tab.showAlarms(book);
    QCOMPARE(list->topLevelItemCount(), 2);
    QCOMPARE(list->topLevelItem(0)->text(2), QStringLiteral("9"));
    QCOMPARE(book.alarms().at(tab.selectedRow()).condition.cable, 7);
    QSignalSpy acknowledged(&tab, &AlarmTab::acknowledgeRow);
    tab.findChild<QPushButton *>(QStringLiteral("acknowledgeAlarmButton"))->click();
    QCOMPARE(acknowledged.count(), 1);
    QCOMPARE(book.alarms().at(acknowledged.first().first().toInt()).condition.cable, 7);
}
