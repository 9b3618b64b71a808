// vxingest's rate: a broker queue filled for its session while it was away,
// then taken into PostgreSQL (fsync on) by one ingester. Prints; asserts nothing.
//   bench_ingest [FRAMES]   (18 readings a frame, 36 addresses)
#include "MqttBroker.h"
#include "PgServer.h"
#include "core/central/Ingest.h"
#include "core/central/MqttMessages.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <thread>

using namespace vx;

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int frames = argc > 1 && std::atoi(argv[1]) > 0 ? std::atoi(argv[1]) : 20000;
    PgServer pg;
    pg.setDurable(true);
    MqttBroker broker;
    if (!pg.start() || !broker.start()) {
        std::printf("not measured: %s%s\n", qPrintable(pg.why()), qPrintable(broker.why()));
        return 1;
    }
    IngestSettings s;
    s.broker.port = broker.port();
    s.broker.connect.clientId = "bench-ingest";
    s.central = pg.createDatabase();
    QString why;
    {
        // The session exists, so the broker keeps what comes while the ingester is away.
        MqttConsumer session(s.broker);
        if (!session.connectToBroker(5000, &why) || !session.subscribe("$share/vxingest/vxmon/+/+", 1, 5000, &why)) {
            std::printf("cannot subscribe: %s\n", qPrintable(why));
            return 1;
        }
        session.disconnect();
    }
    // One mosquitto_pub per address (its topic), the frames as vxcollect publishes them.
    QTemporaryDir dir;
    const qint64 t0 = QDateTime::currentMSecsSinceEpoch() - qint64(frames) * 1000;
    QList<QProcess *> publishers;
    for (int address = 1; address <= 36; ++address) {
        QFile lines(dir.filePath(QStringLiteral("%1.txt").arg(address)));
        lines.open(QIODevice::WriteOnly);
        for (int f = address - 1; f < frames; f += 36) {
            QList<quint16> raw;
            for (int k = 0; k < 18; ++k)
                raw.append(quint16(2000 + (f + k) % 300));
            lines.write(framePayload({t0 + f * 1000 / 36, address, raw}) + '\n');
        }
        lines.close();
        auto *p = new QProcess;
        p->setStandardInputFile(lines.fileName());
        p->start(QStringLiteral("mosquitto_pub"), {"-h", "127.0.0.1", "-p", QString::number(broker.port()), "-q", "1",
                                                   "-t", QStringLiteral("vxmon/bench/%1").arg(address), "-l"});
        publishers << p;
    }
    for (QProcess *p : publishers) {
        p->waitForFinished(300000);
        delete p;
    }
    const qint64 readings = qint64(frames) * 18;
    std::printf("== %d frames (%lld readings) queued at the broker for one ingester\n", frames, readings);
    Ingester ingester(s);
    QElapsedTimer clock;
    clock.start();
    std::thread worker([&] { ingester.run([](const QString &) {}); });
    while (ingester.readings() < readings && clock.elapsed() < 600000)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const double seconds = clock.nsecsElapsed() / 1e9;
    ingester.stop();
    worker.join();
    std::printf("readings/s stored %.0f (%lld in %.2f s, batches of 5,000 readings or 1 s, COPY)\n",
                ingester.readings() / seconds, ingester.readings(), seconds);
    return 0;
}
