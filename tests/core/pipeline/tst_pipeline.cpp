// The one road of an accepted frame: its sinks in order, and a failing sink
// never holding up the others.
#include "core/pipeline/ReadingPipeline.h"
#include "core/store/ReadingStore.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace vx;

class tst_pipeline : public QObject {
    Q_OBJECT
private slots:
    void sinksInOrderAndApart_data();
    void sinksInOrderAndApart();
    void depotRulesAndTheInspectionBook();
};

namespace {
// What a listener finds when it is told: each earlier sink already done.
struct Witness : ReadingListener {
    ReadingPipeline *pipeline = nullptr;
    QString logPath;
    int frames = 0, alarmChanges = 0;
    bool logHadIt = false, storeHadIt = false, rulesHadIt = false;
    void frameAccepted(const AcceptedFrame &a) override
    {
        ++frames;
        QFile log(logPath);
        logHadIt = log.open(QIODevice::ReadOnly) && log.readAll().contains(a.texts.first().toUtf8());
        StoreService *store = pipeline->store();
        storeHadIt = store && store->readingsPending() + store->readingsCommitted() >= a.frame.raw.size();
        rulesHadIt = pipeline->snapshot().at(a.frame.address, 1).latest.timeMs == a.frame.timeMs;
    }
    void alarmsChanged(const QList<AlarmTransition> &t, const AlarmBook &) override { alarmChanges += int(t.size()); }
};
} // namespace

void tst_pipeline::sinksInOrderAndApart_data()
{
    QTest::addColumn<QString>("fault");
    QTest::newRow("all well") << "";
    QTest::newRow("logs cannot be written") << "logs";
    QTest::newRow("store cannot be opened") << "store";
    QTest::newRow("broker away") << "broker";
}

void tst_pipeline::sinksInOrderAndApart()
{
    QFETCH(QString, fault);
    QTemporaryDir dir;
    PipelineSettings settings;
    settings.programDir = dir.path();
    settings.store.local = dir.filePath(QStringLiteral("vxmon.db"));
    settings.store.site = QStringLiteral("test");
    if (fault == "logs") { // a file where the data directory should be
        QFile blocker(dir.filePath(QStringLiteral("data")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
    }
    if (fault == "store")
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("vxmon.db")));
    if (fault == "broker") { // nobody listens there
        settings.mqtt.host = QStringLiteral("127.0.0.1");
        settings.mqtt.port = 1;
        settings.store.mqtt = true;
    }
    ReadingPipeline pipeline(settings);
    QStringList lost;
    pipeline.records().setLossHandler([&](const QString &path) { lost << path; });
    QString why;
    QCOMPARE(pipeline.start(&why), fault != "store");
    Witness witness;
    witness.pipeline = &pipeline;
    witness.logPath = dir.filePath(QStringLiteral("data/3.txt"));
    pipeline.addListener(&witness);

    const qint64 t0 = QDateTime(QDate(2026, 12, 8), QTime(2, 0), Qt::UTC).toMSecsSinceEpoch();
    for (int i = 0; i < 5; ++i) {
        const QDateTime at = QDateTime::fromMSecsSinceEpoch(t0 + i * 1000);
        pipeline.accept({t0 + i * 1000, 3, {quint16(4500 + i), 2000, 2000}}, at); // 45 °C: above the high limit
    }
    pipeline.evaluateAlarms(t0 + 5000, 60000);

    QCOMPARE(witness.frames, 5);
    QCOMPARE(witness.logHadIt, fault != "logs");
    QCOMPARE(witness.storeHadIt, fault != "store");
    QVERIFY(witness.rulesHadIt);
    QVERIFY(witness.alarmChanges >= 1);
    QCOMPARE(lost.size(), fault == "logs" ? 1 : 0); // said once, not per frame
    if (StoreService *store = pipeline.store()) {
        store->flush();
        const auto stored = ReadingStore::open(*parseStoreLocation(settings.store.local, &why), QString(), &why);
        QVERIFY2(stored, qPrintable(why));
        QCOMPARE(stored->readingCount(), 15);
        int alarmEvents = 0;
        for (const StoreEvent &e : stored->events(t0, t0 + 10000))
            alarmEvents += e.kind == QLatin1String("alarm_raised");
        QVERIFY(alarmEvents >= 1);
        if (fault == "broker")
            QCOMPARE(stored->outboxReadings(MqttQueue), 15); // waiting for the broker, not lost
    }
}

// With a depot file: a bin's storage rule and its overdue inspection are
// alarms of the bin; an inspection clears the reminder and is read back from
// the store by the next start; a correction replaces its entry.
void tst_pipeline::depotRulesAndTheInspectionBook()
{
    QTemporaryDir dir;
    QFile depot(dir.filePath(QStringLiteral("depot.ini")));
    QVERIFY(depot.open(QIODevice::WriteOnly));
    depot.write("[bin.1]\nsize = 10x10\ngrid = 1x1\nclass = safe\nintake = 2026-11-01\n"
                "[cable.3]\nbin = 1\nposition = 1, 1\ndepths = 0.5, 1.5\n");
    depot.close();
    PipelineSettings settings;
    settings.programDir = dir.path();
    settings.store.local = dir.filePath(QStringLiteral("vxmon.db"));
    const qint64 day = 86400000;
    const qint64 due = QDateTime(QDate(2026, 11, 11), QTime(12, 0), Qt::UTC).toMSecsSinceEpoch(); // 20 °C: every 10 days
    auto dayOf = [](qint64 ms) { return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).date(); };
    auto openRules = [](const AlarmBook &book) {
        QStringList out;
        for (const Alarm &a : book.alarms())
            if (a.state != Alarm::State::Cleared)
                out << QStringLiteral("%1 bin %2").arg(ruleKey(a.condition.rule)).arg(a.condition.bin);
        out.sort();
        return out;
    };
    {
        ReadingPipeline pipeline(settings);
        pipeline.setInspectionDay(dayOf);
        QString why;
        QVERIFY2(pipeline.start(&why), qPrintable(why));
        // 20 °C on top, 24 °C a metre below: a gradient of 4 °C/m and top to bottom 4 °C.
        pipeline.accept({due, 3, {2000, 2400}}, QDateTime::fromMSecsSinceEpoch(due));
        pipeline.evaluateAlarms(due, 600000);
        QCOMPARE(openRules(pipeline.alarms()), (QStringList{"gradient bin 1", "top_bottom bin 1"}));
        pipeline.accept({due + day, 3, {2000, 2000}}, QDateTime::fromMSecsSinceEpoch(due + day));
        pipeline.evaluateAlarms(due + day, 600000); // the day after it was due
        QCOMPARE(openRules(pipeline.alarms()), QStringList{"inspection_overdue bin 1"});
        InspectionEntry entry;
        entry.timeMs = due + day;
        entry.bin = 1;
        entry.date = dayOf(due + day);
        entry.inspector = QStringLiteral("张三");
        entry.observations = QStringLiteral("粮面正常");
        entry.takeFigures(pipeline.depot().summary(*pipeline.depot().depot().bin(1), due + day, 600000));
        pipeline.addInspection(entry);
        pipeline.evaluateAlarms(due + day + 1000, 600000);
        QCOMPARE(openRules(pipeline.alarms()), QStringList{});
        InspectionEntry correction = entry;
        correction.timeMs = due + day + 2000;
        correction.corrects = entry.timeMs;
        correction.observations = QStringLiteral("粮面正常，东北角结露");
        pipeline.addInspection(correction);
        pipeline.stop();
    }
    ReadingPipeline again(settings);
    again.setInspectionDay(dayOf);
    QString why;
    QVERIFY(again.start(&why));
    QCOMPARE(again.inspections().size(), 1);
    QCOMPARE(again.depot().latest(3, 1)->timeMs, due + day); // the bin as last seen, from the store
    QCOMPARE(again.inspections()[0].observations, QStringLiteral("粮面正常，东北角结露"));
    QCOMPARE(again.inspections()[0].max.value(), 20.0);
    QCOMPARE(again.inspections()[0].date, QDate(2026, 11, 12));
    // Next due ten days after it (20 °C): overdue on the 23rd, not the 22nd.
    again.accept({due + 11 * day, 3, {2000, 2000}}, QDateTime::fromMSecsSinceEpoch(due + 11 * day));
    again.evaluateAlarms(due + 11 * day, 600000);
    QCOMPARE(openRules(again.alarms()), QStringList{});
    again.accept({due + 12 * day, 3, {2000, 2000}}, QDateTime::fromMSecsSinceEpoch(due + 12 * day));
    again.evaluateAlarms(due + 12 * day, 600000);
    QCOMPARE(openRules(again.alarms()), QStringList{"inspection_overdue bin 1"});
}

QTEST_GUILESS_MAIN(tst_pipeline)
#include "tst_pipeline.moc"
