// Notifications: from an alarm raised (its event time) to the webhook
// receiver holding it, over ALARMS alarm groups (default 100) raised by
// heating and cooling a simulated cable; with lost and doubled messages.
// Usage: bench_notify VXSIM VXCOLLECT [ALARMS]   (prints figures, asserts nothing)
#include "FreePort.h"
#include "core/http/HttpServer.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <csignal>
#include <cstdio>

using namespace vx;

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 3)
        return 2;
    const int alarms = argc > 3 ? atoi(argv[3]) : 100;
    QMutex lock;
    QList<QPair<qint64, QJsonObject>> got; // received at, body
    HttpServer receiver;
    receiver.setHandler([&](const HttpRequest &r) {
        QMutexLocker l(&lock);
        got.append({QDateTime::currentMSecsSinceEpoch(), QJsonDocument::fromJson(r.body).object()});
        return HttpResponse::text(200, "ok\n");
    });
    const int port = freeTcpPort();
    QString why;
    if (!receiver.listen(QHostAddress::LocalHost, quint16(port), &why))
        return std::printf("cannot listen: %s\n", qPrintable(why)), 1;
    QTemporaryDir dir;
    QFile ini(dir.filePath(QStringLiteral("c.conf")));
    ini.open(QIODevice::WriteOnly);
    ini.write("[notify.hook]\ntype=webhook\nurl=http://127.0.0.1:" + QByteArray::number(port) + "/\nflood_per_minute=1000\n");
    ini.close();
    QProcess sim, collect;
    sim.start(QString::fromLocal8Bit(argv[1]), {"--link", dir.filePath(QStringLiteral("bus")), "--addresses", "1-3", "--control",
                                                dir.filePath(QStringLiteral("control"))});
    sim.waitForReadyRead(5000);
    collect.start(QString::fromLocal8Bit(argv[2]), {"--port", dir.filePath(QStringLiteral("bus")), "--baud", "115200", "--addresses",
                                                    "1-3", "--dir", dir.path(), "--quiet", "--metrics", "off", "--config", ini.fileName()});
    collect.waitForStarted();
    auto raised = [&] {
        QMutexLocker l(&lock);
        return int(std::count_if(got.begin(), got.end(), [](const auto &g) { return g.second.value(QStringLiteral("kind")) == QLatin1String("raised"); }));
    };
    auto control = [&](const QByteArray &c) {
        QFile fifo(dir.filePath(QStringLiteral("control")));
        if (fifo.open(QIODevice::WriteOnly))
            fifo.write(c + '\n');
    };
    int heats = 0;
    while (raised() < alarms) {
        const int before = raised();
        control("heat 2 15");
        ++heats;
        if (!QTest::qWaitFor([&] { return raised() > before; }, 10000))
            break;
        QTest::qWait(1500);
        control("heat 2 0");
        QTest::qWait(2500);
    }
    QTest::qWait(3000);
    ::kill(pid_t(collect.processId()), SIGTERM);
    collect.waitForFinished(10000);
    sim.terminate();
    sim.waitForFinished(3000);
    QList<double> delays;
    QMap<QString, int> seen;
    for (const auto &g : got) {
        const QString key = g.second.value(QStringLiteral("subject")).toString() + g.second.value(QStringLiteral("time")).toString();
        ++seen[key];
        if (g.second.value(QStringLiteral("kind")) == QLatin1String("raised"))
            delays << double(g.first - QDateTime::fromString(g.second.value(QStringLiteral("time")).toString(), Qt::ISODateWithMs).toMSecsSinceEpoch());
    }
    std::sort(delays.begin(), delays.end());
    int doubled = 0;
    for (int n : seen)
        doubled += n - 1;
    if (delays.isEmpty())
        return std::printf("no alarm arrived\n"), 1;
    std::printf("== notifications: alarm raised -> webhook receiver, %lld alarm groups (%d heats of a cable)\n",
                static_cast<long long>(delays.size()), heats);
    std::printf("delay median %.0f ms, p95 %.0f ms, slowest %.0f ms; doubled %d\n", delays[delays.size() / 2],
                delays[qMin(delays.size() - 1, qsizetype(delays.size() * 0.95))], delays.last(), doubled);
    return 0;
}
