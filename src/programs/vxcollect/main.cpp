// vxcollect: unattended collection as a service, on the same core as the window.
// Exit codes: 0 stopped by SIGTERM/SIGINT (or --help, or import/export done),
// 1 import or export failed, 2 bad configuration, 3 the port cannot be opened,
// 4 the readings store cannot be used.

#include "collect/Collector.h"
#include "core/records/ShownValue.h"
#include "core/link/PortMap.h"
#include "core/link/QtSerialPort.h"
#include "core/store/LogImport.h"
#include "core/store/ReadingStore.h"
#include "core/platform/LocalTime.h"

#include <QFile>

#include <QCoreApplication>
#include <QRegularExpression>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char c = 1;
    [[maybe_unused]] const auto n = ::write(signalPipe[1], &c, 1);
}

enum ExitCode { Stopped = 0, Failed = 1, BadConfiguration = 2, PortUnavailable = 3, StoreUnavailable = 4 };

std::unique_ptr<vx::ReadingStore> openStore(const vx::CollectorSettings &settings)
{
    QString why;
    const auto location = vx::parseStoreLocation(settings.store.local, &why);
    std::unique_ptr<vx::ReadingStore> store;
    if (location)
        store = vx::ReadingStore::open(*location, settings.store.site, &why);
    if (!store)
        std::fprintf(stderr, "vxcollect: cannot use the readings store: %s\n", qPrintable(why));
    return store;
}

int importLogs(const vx::CollectorSettings &settings)
{
    const auto store = openStore(settings);
    if (!store)
        return StoreUnavailable;
    // Queued for the central store when there is one: the next collecting run ships them.
    const bool queue = !settings.store.central.isEmpty() && store->engine() == vx::StoreLocation::Engine::SQLite;
    int lastPercent = -1;
    const vx::ImportReport report = vx::importDataLogs(*store, settings.importDir, queue, [&](qint64 done, qint64 all) {
        const int percent = all > 0 ? int(done * 100 / all) : 100;
        if (percent / 10 != lastPercent / 10 && !settings.quiet)
            std::fprintf(stderr, "vxcollect: import %d%%\n", percent);
        lastPercent = percent;
    });
    for (const vx::ImportReport::Skipped &skipped : report.skipped)
        std::fprintf(stderr, "vxcollect: %s skipped: %s\n", qPrintable(vx::shownValue(skipped.name)), qPrintable(skipped.why));
    for (const QString &p : report.problems)
        std::fprintf(stderr, "vxcollect: %s\n", qPrintable(p));
    if (report.unreadable > qint64(report.problems.size()))
        std::fprintf(stderr, "vxcollect: ... %lld unreadable lines in all\n", report.unreadable);
    std::printf("imported %d files: %lld records, %lld new readings, %lld unreadable lines, %lld files skipped\n",
                report.files, report.records, report.readingsAdded, report.unreadable,
                qint64(report.skipped.size()));
    return report.failed ? Failed : Stopped;
}

int exportCsv(const vx::CollectorSettings &settings)
{
    const auto store = openStore(settings);
    if (!store)
        return StoreUnavailable;
    QFile out;
    const bool toStdout = settings.exportFile.isEmpty() || settings.exportFile == QLatin1String("-");
    const bool opened = toStdout ? out.open(stdout, QIODevice::WriteOnly)
                                 : (out.setFileName(settings.exportFile), out.open(QIODevice::WriteOnly | QIODevice::Truncate));
    if (!opened) {
        std::fprintf(stderr, "vxcollect: cannot write %s: %s\n", qPrintable(settings.exportFile),
                     qPrintable(out.errorString()));
        return Failed;
    }
    QString why;
    if (!store->exportCsv(out, settings.exportRequest, &why)) {
        std::fprintf(stderr, "vxcollect: export failed: %s\n", qPrintable(why));
        return Failed;
    }
    out.flush();
    return Stopped;
}
} // namespace

int main(int argc, char *argv[])
{
    vx::readLocalTimeZoneOnce(); // before any thread: see there
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vxcollect"));
    const vx::SettingsRead read = vx::readCollectorSettings(app.arguments());
    if (!read.information.isEmpty()) {
        std::fputs(qPrintable(read.information), stdout);
        return Stopped;
    }
    if (!read.errors.isEmpty()) {
        for (const QString &e : read.errors)
            std::fprintf(stderr, "vxcollect: %s\n", qPrintable(e));
        return BadConfiguration;
    }
    const vx::CollectorSettings &settings = read.settings;
    if (settings.command == vx::CollectorSettings::Command::Import)
        return importLogs(settings);
    if (settings.command == vx::CollectorSettings::Command::Export)
        return exportCsv(settings);
    // COMn goes through the window's mapping; anything else is a device path.
    auto map = std::make_shared<vx::PortMap>(settings.programDir);
    const QRegularExpression comName(QStringLiteral("^COM(\\d{1,2})$"), QRegularExpression::CaseInsensitiveOption);
    const auto com = comName.match(settings.port);
    const QString device = com.hasMatch() ? map->deviceFor(com.captured(1).toInt()) : settings.port;
    auto port = std::make_unique<vx::QtSerialPort>([device](int) { return device; });
    vx::Collector collector(settings, std::move(port));

    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) == 0) {
        auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &collector, [&collector, notifier] {
            char c;
            [[maybe_unused]] const auto n = ::read(signalPipe[0], &c, 1);
            notifier->setEnabled(false);
            collector.stop(); // the exchange in flight ends first; then the files are complete
        });
        std::signal(SIGINT, onSignal);
        std::signal(SIGTERM, onSignal);
    }
    QObject::connect(&collector, &vx::Collector::stopped, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    QString why;
    switch (collector.start(&why)) {
    case vx::Collector::StartResult::Started: break;
    case vx::Collector::StartResult::StoreUnavailable:
        std::fprintf(stderr, "vxcollect: %s\n", qPrintable(why));
        return StoreUnavailable;
    case vx::Collector::StartResult::PortUnavailable:
        std::fprintf(stderr, "vxcollect: %s\n", qPrintable(why));
        return PortUnavailable;
    }
    return app.exec() == 0 ? Stopped : 1;
}
