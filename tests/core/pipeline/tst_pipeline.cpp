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

QTEST_GUILESS_MAIN(tst_pipeline)
#include "tst_pipeline.moc"
