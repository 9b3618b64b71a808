// vxcollect: unattended collection as a service, on the same core as the window.
// Exit codes: 0 stopped by SIGTERM/SIGINT (or --help, or import/export done),
// 1 import or export failed, 2 bad configuration, 3 the port cannot be opened,
// 4 the readings store cannot be used.

#include "collect/Collector.h"
#include "collect/Commands.h"
#include "core/platform/LocalTime.h"

#include <QCoreApplication>

#include <cstdio>

namespace {
enum ExitCode { Stopped = 0, Failed = 1, BadConfiguration = 2, PortUnavailable = 3, StoreUnavailable = 4 };
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
        return vx::importLogs(settings);
    if (settings.command == vx::CollectorSettings::Command::Export)
        return vx::exportCsv(settings);
    if (settings.command == vx::CollectorSettings::Command::NotifyTest)
        return vx::notifyTest(settings);
    if (settings.command == vx::CollectorSettings::Command::Passwd)
        return vx::makeWebPassword(settings);
    vx::Collector collector(settings, vx::collectorPort(settings));

    // SIGTERM and SIGINT: the exchange in flight ends first; then the files are complete.
    vx::onStopSignals(&collector, [&collector] { collector.stop(); });
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
