// MQTT figures; prints, asserts nothing.
//   bench_mqtt [FRAMES]            readings published per second from a full outbox to a local
//                                  mosquitto, QoS 1 and QoS 0 (18 readings, 19 messages a frame)
//   bench_mqtt count PORT SECONDS  a counting subscriber on vxmon/#: messages per second and the
//                                  delay from a frame's reading to its arrival here
#include "MqttBroker.h"
#include "core/central/MqttPublisher.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>

using namespace vx;

namespace {

bool waitFor(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QThread::msleep(2);
    }
    return true;
}

// mosquitto's own client with the same messages (a line each, QoS 1) into the
// same broker with the same subscriber: what the broker takes from a client
// that does nothing else.
double mosquittoPubRate(int port, const QString &lines, qint64 messages)
{
    QProcess pub;
    pub.setStandardInputFile(lines);
    QElapsedTimer clock;
    clock.start();
    pub.start(QStringLiteral("mosquitto_pub"), {QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
                                                QString::number(port), QStringLiteral("-q"), QStringLiteral("1"),
                                                QStringLiteral("-t"), QStringLiteral("vxmon/bench/1/1"), QStringLiteral("-l"), QStringLiteral("-V"), QStringLiteral("5")});
    if (!pub.waitForFinished(300000) || pub.exitCode() != 0) {
        std::printf("mosquitto_pub did not finish: %s\n", pub.readAllStandardError().constData());
        return 0;
    }
    return messages / (clock.nsecsElapsed() / 1e9);
}

int publishRate(int frames)
{
    for (const int qos : {1, 0}) {
        MqttBroker broker;
        if (!broker.start()) {
            std::fprintf(stderr, "mosquitto cannot start: %s\n", qPrintable(broker.why()));
            return 1;
        }
        MqttSubscriber counter(QStringLiteral("counter"), "vxmon/#", false);
        counter.setCountOnly(true);
        if (!counter.connectTo(broker.port()) || !waitFor([&] { return counter.subscribed(); }, 5000))
            return 1;
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("vxmon.db"));
        QString why;
        {
            auto store = ReadingStore::open(*parseStoreLocation(file, &why), QString(), &why);
            if (!store) {
                std::fprintf(stderr, "%s\n", qPrintable(why));
                return 1;
            }
            const qint64 t0 = QDateTime::currentMSecsSinceEpoch() - qint64(frames) * 1000;
            QList<ReadingSet> batch;
            for (int f = 0; f < frames; ++f) {
                QList<quint16> raw;
                for (int k = 0; k < 18; ++k)
                    raw.append(quint16(2000 + (f + k) % 300));
                batch.append({t0 + f * 1000 / 36, 1 + f % 36, raw});
                if (batch.size() == 1000 || f == frames - 1) {
                    store->add(batch, {}, MqttQueue);
                    batch.clear();
                }
            }
        }
        MqttSettings settings;
        settings.host = QStringLiteral("127.0.0.1");
        settings.port = broker.port();
        settings.qos = qos;
        MqttPublisher publisher(settings, QStringLiteral("bench"), file);
        const qint64 readings = qint64(frames) * 18, messages = qint64(frames) * 19;
        QElapsedTimer clock;
        clock.start();
        if (!publisher.start(&why)) {
            std::fprintf(stderr, "%s\n", qPrintable(why));
            return 1;
        }
        const bool published = waitFor([&] { return publisher.readingsPublished() >= readings; }, 300000);
        const double publishedS = clock.nsecsElapsed() / 1e9;
        const bool arrived = waitFor([&] { return counter.count() >= messages; }, 60000);
        const double arrivedS = clock.nsecsElapsed() / 1e9;
        std::printf("== QoS %d, %d frames (%lld readings, %lld messages) from the outbox\n", qos, frames, readings,
                    messages);
        if (!published) {
            std::printf("not all published in 300 s: %lld readings\n", publisher.readingsPublished());
            continue;
        }
        std::printf("readings/s published %.0f (%.0f messages/s, %s, the outbox emptied)\n",
                    readings / publishedS, messages / publishedS, qos > 0 ? "acknowledged by the broker" : "written to the socket");
        if (arrived)
            std::printf("all at the subscriber after %.2f s: %.0f readings/s end to end\n", arrivedS,
                        readings / arrivedS);
        else
            std::printf("subscriber got %d of %lld messages\n", counter.count(), messages);
        publisher.stop(0);
        if (qos == 1) {
            QFile lines(dir.filePath(QStringLiteral("messages.txt")));
            lines.open(QIODevice::WriteOnly);
            for (int f = 0; f < frames; ++f) {
                QList<quint16> raw;
                for (int k = 0; k < 18; ++k)
                    raw.append(quint16(2000 + (f + k) % 300));
                for (const MqttMessage &m : mqttMessagesFor(OutboxEntry{f + 1, {qint64(f) * 1000, 1 + f % 36, raw}},
                                                            publisher.topics()))
                    lines.write(m.payload + '\n');
            }
            lines.close();
            const double rate = mosquittoPubRate(broker.port(), lines.fileName(), messages);
            std::printf("mosquitto_pub -l, the same %lld messages at QoS 1: %.0f messages/s; vxcollect's publisher "
                        "%.2fx of it\n", messages, rate, rate > 0 ? messages / publishedS / rate : 0.0);
        }
    }
    return 0;
}

int count(int port, int seconds)
{
    MqttSubscriber counter(QStringLiteral("bench-count"), "vxmon/#", false);
    counter.setCountOnly(true);
    if (!counter.connectTo(port) || !waitFor([&] { return counter.subscribed(); }, 5000)) {
        std::fprintf(stderr, "cannot subscribe on port %d\n", port);
        return 1;
    }
    const int before = counter.count();
    const qsizetype delaysBefore = counter.frameDelaysMs().size();
    QThread::sleep(unsigned(seconds));
    const int messages = counter.count() - before;
    QList<qint64> delays = counter.frameDelaysMs().mid(delaysBefore);
    std::sort(delays.begin(), delays.end());
    auto at = [&](double q) { return delays.isEmpty() ? 0 : delays[qMin(delays.size() - 1, qsizetype(q * delays.size()))]; };
    std::printf("messages/s         %.0f (%d in %d s)\n", double(messages) / seconds, messages, seconds);
    std::printf("frames/s           %.1f\n", double(delays.size()) / seconds);
    std::printf("reading to broker to subscriber, ms: median %lld, p95 %lld, max %lld\n", at(0.5), at(0.95),
                delays.isEmpty() ? 0 : delays.last());
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.value(1) == QLatin1String("count"))
        return count(args.value(2).toInt(), args.value(3, QStringLiteral("20")).toInt());
    return publishRate(args.value(1, QStringLiteral("20000")).toInt());
}
