// The alarms a night shift sees, on the simulator changed while it runs:
// a healthy bus raises nothing, a hot cable one group per rule, a sensor
// stuck at its power-on value one sensor fault, a silenced device a silent
// cable, and the map marks what is in alarm.
#include "DeviceWindow.h"
#include "window/tabs/GrainOverview.h"

#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace vx;
using namespace vx::test;

class tst_e2e_alarms : public QObject {
    Q_OBJECT
private slots:
    void whatTheNightShiftSees();

private:
    bool control(QProcess &sim, const QString &command);
    QTemporaryDir m_dir;
};

// A command to the simulator; true once it says it was done.
bool tst_e2e_alarms::control(QProcess &sim, const QString &command)
{
    QFile fifo(m_dir.filePath(QStringLiteral("control")));
    if (!fifo.open(QIODevice::WriteOnly))
        return false;
    fifo.write(command.toUtf8() + '\n');
    fifo.close();
    QByteArray said;
    const QByteArray verb = "vxsim: control: " + command.section(QLatin1Char(' '), 0, 0).toUtf8() + ':';
    return QTest::qWaitFor([&] { return (said += sim.readAllStandardOutput()).contains(verb); }, 5000);
}

namespace {
// The open groups of one cable, by rule.
QList<AlarmRule> openRules(const AlarmBook &book, int cable)
{
    QList<AlarmRule> rules;
    for (const Alarm &a : book.alarms())
        if (a.state != Alarm::State::Cleared && a.condition.cable == cable)
            rules << a.condition.rule;
    return rules;
}
} // namespace

void tst_e2e_alarms::whatTheNightShiftSees()
{
    QProcess sim;
    sim.start(QStringLiteral(VXSIM_PATH), {"--link", m_dir.filePath(QStringLiteral("bus")), "--addresses", "1-4",
                                           "--control", m_dir.filePath(QStringLiteral("control"))});
    QVERIFY(sim.waitForReadyRead(5000) && QFileInfo::exists(m_dir.filePath(QStringLiteral("bus"))));
    sim.readAllStandardOutput();
    DeviceWindow w(m_dir.filePath(QStringLiteral("bus")), m_dir.path());
    QVERIFY(w->port().isOpen());
    w.box(QStringLiteral("txtMaxID"))->setText(QStringLiteral("4"));
    w.box(QStringLiteral("txtTimerSet"))->setText(QStringLiteral("60"));
    w.click(QStringLiteral("cmdCicleAll"));
    const auto counter = [&](int k) { return w->findChild<QLabel *>(QStringLiteral("lblRCounter_%1").arg(k))->text().toInt(); };
    for (int k = 0; k < 4; ++k)
        QTRY_VERIFY_WITH_TIMEOUT(counter(k) >= 3, 10000);
    const GrainSnapshot &seen = w->pipeline().snapshot();
    const AlarmBook &book = w->alarms();
    GrainMap *map = w->overview()->map();

    // Healthy: points 17 and 18 never had a sensor, and nothing else is wrong.
    w->tick();
    QCOMPARE(book.activeCount(), 0);

    // One cable 15 degrees warmer: high temperature and hot point, one group each.
    QVERIFY(control(sim, QStringLiteral("heat 2 15")));
    QTRY_VERIFY_WITH_TIMEOUT((w->tick(), openRules(book, 2).contains(AlarmRule::HighTemperature)), 10000);
    const QList<AlarmRule> hot = openRules(book, 2);
    qInfo("one hot cable: %d rows", int(hot.size()));
    QVERIFY2(hot.size() <= 2 && !hot.contains(AlarmRule::SensorFault), qPrintable(QString::number(hot.size())));
    const Alarm &high = *std::find_if(book.alarms().begin(), book.alarms().end(), [](const Alarm &a) {
        return a.condition.cable == 2 && a.condition.rule == AlarmRule::HighTemperature;
    });
    QCOMPARE(high.condition.points.size(), 16);
    QVERIFY(map->toolTipAt(2, 1).contains(QStringLiteral("报警：高温")));
    QVERIFY(!map->toolTipAt(1, 1).contains(QStringLiteral("报警")));

    // A sensor stuck at its power-on value: one sensor fault, no fire.
    QVERIFY(control(sim, QStringLiteral("hold 3.5 8500")));
    QTRY_VERIFY_WITH_TIMEOUT(seen.at(3, 5).latest.raw == 8500, 5000);
    QTRY_VERIFY_WITH_TIMEOUT((w->tick(), openRules(book, 3) == QList<AlarmRule>{AlarmRule::SensorFault}), 5000);

    // A device that goes quiet: its cable is silent on the map and in the list.
    QVERIFY(control(sim, QStringLiteral("silence 4")));
    QTRY_VERIFY_WITH_TIMEOUT((w->tick(), openRules(book, 4) == QList<AlarmRule>{AlarmRule::CableSilent}), 10000);
    QCOMPARE(map->stateOf(4), CableState::Silent);
    QCOMPARE(openRules(book, 1), QList<AlarmRule>{});

    w.click(QStringLiteral("cmdStopOnce"));
    sim.terminate();
    sim.waitForFinished(3000);
}

QTEST_MAIN(tst_e2e_alarms)
#include "tst_e2e_alarms.moc"
