// vxingest: the depots' readings from an MQTT broker into the central
// PostgreSQL, a batch at a time; run as many as the load wants, they share
// the subscription. Exit codes: 0 stopped by SIGTERM/SIGINT (or --help),
// 2 bad configuration.

#include "core/central/Ingest.h"
#include "core/http/HttpServer.h"
#include "core/settings/SettingTexts.h"
#include "core/store/StoreLocation.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QHostInfo>
#include <QRegularExpression>
#include <QSettings>

#include <csignal>
#include <cstdio>
#include <optional>

namespace {
vx::Ingester *running = nullptr;

void stopOnSignal(int)
{
    if (running)
        running->stop(); // an atomic store: safe in a handler
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vxingest"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VXMON_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Stores the readings and alarms vxcollect publishes over MQTT in the "
                                                    "central PostgreSQL; instances with the same group share the load."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption central({QStringLiteral("central")}, QStringLiteral("The central store (required)."),
                                     QStringLiteral("postgresql://..."));
    const QCommandLineOption mqtt({QStringLiteral("mqtt")}, QStringLiteral("The broker (default 127.0.0.1:1883)."),
                                  QStringLiteral("host[:port]"), QStringLiteral("127.0.0.1:1883"));
    const QCommandLineOption group({QStringLiteral("group")}, QStringLiteral("Shared subscription group (default vxingest)."),
                                   QStringLiteral("name"), QStringLiteral("vxingest"));
    const QCommandLineOption prefix({QStringLiteral("mqtt-prefix")}, QStringLiteral("Topic prefix (default vxmon)."),
                                    QStringLiteral("prefix"), QStringLiteral("vxmon"));
    const QCommandLineOption clientId({QStringLiteral("client-id")},
                                      QStringLiteral("Client id, the same across restarts (default vxingest-<host>)."),
                                      QStringLiteral("id"));
    const QCommandLineOption user({QStringLiteral("mqtt-user")}, QStringLiteral("Broker user."), QStringLiteral("name"));
    const QCommandLineOption password({QStringLiteral("mqtt-password")}, QStringLiteral("Broker password."),
                                      QStringLiteral("password"));
    const QCommandLineOption batchReadings({QStringLiteral("batch-readings")},
                                           QStringLiteral("Readings a batch (default 5000)."), QStringLiteral("n"),
                                           QStringLiteral("5000"));
    const QCommandLineOption batchMs({QStringLiteral("batch-ms")},
                                     QStringLiteral("Longest wait before a batch is stored (default 1000)."),
                                     QStringLiteral("ms"), QStringLiteral("1000"));
    const QCommandLineOption metrics({QStringLiteral("metrics")},
                                     QStringLiteral("/metrics and /healthz at host:port (default 127.0.0.1:9465), or off."),
                                     QStringLiteral("host:port|off"), QStringLiteral("127.0.0.1:9465"));
    const QCommandLineOption keepMonths({QStringLiteral("keep-months")},
                                        QStringLiteral("Whole months of readings kept before the current one; older "
                                                       "months are dropped (default 0: keep all)."),
                                        QStringLiteral("n"), QStringLiteral("0"));
    const QCommandLineOption config({QStringLiteral("config")},
                                    QStringLiteral("An INI file whose [ingest] section gives any of these options by "
                                                   "name; an option on the command line wins."),
                                    QStringLiteral("file"));
    parser.addOptions({config, central, mqtt, group, prefix, clientId, user, password, batchReadings, batchMs, keepMonths,
                       metrics});
    parser.process(app);

    std::optional<QSettings> ini;
    if (parser.isSet(config)) {
        const QFileInfo file(parser.value(config));
        if (!file.isFile() || !file.isReadable()) {
            std::fprintf(stderr, "vxingest: --config: cannot read %s\n", qPrintable(parser.value(config)));
            return 2;
        }
        ini.emplace(file.filePath(), QSettings::IniFormat);
        if (ini->status() != QSettings::NoError) {
            std::fprintf(stderr, "vxingest: --config: %s is not an INI file\n", qPrintable(parser.value(config)));
            return 2;
        }
        ini->beginGroup(QStringLiteral("ingest"));
    }
    const auto value = [&](const QCommandLineOption &option) {
        const QString name = option.names().first();
        if (parser.isSet(option) || !ini || !ini->contains(name))
            return parser.value(option);
        const QVariant v = ini->value(name); // a value with commas comes back as a list
        return v.typeId() == QMetaType::QStringList ? v.toStringList().join(QLatin1Char(',')) : v.toString();
    };

    QStringList errors;
    vx::IngestSettings s;
    QString why;
    s.central = value(central);
    const auto location = vx::parseStoreLocation(s.central, &why);
    if (!location || location->engine != vx::StoreLocation::Engine::PostgreSQL)
        errors << QStringLiteral("--central: a postgresql:// URL is wanted%1").arg(why.isEmpty() ? QString() : ": " + why);
    const QString hostPort = value(mqtt);
    s.broker.host = hostPort.section(QLatin1Char(':'), 0, 0);
    bool portOk = true;
    s.broker.port = hostPort.contains(QLatin1Char(':')) ? hostPort.section(QLatin1Char(':'), 1).toInt(&portOk) : 1883;
    if (s.broker.host.isEmpty() || !portOk || s.broker.port < 1 || s.broker.port > 65535)
        errors << QStringLiteral("--mqtt: host[:port] with a port of 1-65535 is wanted");
    s.group = value(group);
    s.prefix = value(prefix);
    for (const QString &name : {s.group, s.prefix})
        if (name.isEmpty() || name.contains(QRegularExpression(QStringLiteral("[/+#\\x00-\\x1f]"))))
            errors << QStringLiteral("group and prefix: a name without /, +, # or control characters is wanted");
    bool ok = false;
    s.batchReadings = value(batchReadings).toInt(&ok);
    if (!ok || s.batchReadings < 1 || s.batchReadings > 1000000)
        errors << QStringLiteral("--batch-readings: 1-1000000");
    s.batchMs = value(batchMs).toInt(&ok);
    if (!ok || s.batchMs < 10 || s.batchMs > 600000)
        errors << QStringLiteral("--batch-ms: 10-600000");
    s.keepMonths = value(keepMonths).toInt(&ok);
    if (!ok || s.keepMonths < 0 || s.keepMonths > 1200)
        errors << QStringLiteral("--keep-months: 0-1200");
    s.broker.connect.clientId = (!value(clientId).isEmpty() ? value(clientId)
                                                         : QStringLiteral("vxingest-") + QHostInfo::localHostName())
                                    .toUtf8();
    s.broker.connect.user = value(user).toUtf8();
    s.broker.connect.password = value(password).toUtf8();
    s.broker.connect.receiveMaximum = 65535;
    std::optional<vx::HostPort> metricsAt;
    if (value(metrics) != QLatin1String("off")) {
        metricsAt = vx::parseHostPort(value(metrics), 9465, true);
        if (!metricsAt)
            errors << QStringLiteral("--metrics: host:port or off");
    }
    if (!errors.isEmpty()) {
        for (const QString &e : errors)
            std::fprintf(stderr, "vxingest: %s\n", qPrintable(e));
        return 2;
    }

    vx::Ingester ingester(s);
    vx::HttpServer http;
    if (metricsAt) {
        http.setHandler([&ingester](const vx::HttpRequest &request) {
            if (request.path == "/metrics") {
                vx::HttpResponse r = vx::HttpResponse::text(
                    200, vx::ingestMetricsText(ingester.stats(), QDateTime::currentMSecsSinceEpoch()));
                r.contentType = "text/plain; version=0.0.4; charset=utf-8";
                return r;
            }
            if (request.path == "/healthz")
                return vx::ingestHealth(ingester.stats());
            return vx::HttpResponse::text(404, "not found\n");
        });
        if (!http.listen(QHostAddress(metricsAt->host), quint16(metricsAt->port), &why)) {
            std::fprintf(stderr, "vxingest: --metrics: %s\n", qPrintable(why));
            return 2;
        }
        std::printf("vxingest: metrics at http://%s:%d/metrics\n", qPrintable(metricsAt->host), http.port());
    }
    running = &ingester;
    std::signal(SIGTERM, stopOnSignal);
    std::signal(SIGINT, stopOnSignal);
    std::printf("vxingest: storing in %s\n", qPrintable(location->display()));
    std::fflush(stdout);
    ingester.run([](const QString &line) {
        std::printf("%s vxingest: %s\n", qPrintable(QDateTime::currentDateTime().toString(Qt::ISODate)), qPrintable(line));
        std::fflush(stdout);
    });
    std::printf("vxingest: stopped; %lld messages, %lld readings stored, %lld refused\n", ingester.messages(),
                ingester.readings(), ingester.refused());
    running = nullptr;
    return 0;
}
