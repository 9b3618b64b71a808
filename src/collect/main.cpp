// vxcollect: unattended collection as a service, on the same core as the window.
// Exit codes: 0 stopped by SIGTERM/SIGINT (or --help), 2 bad configuration,
// 3 the port cannot be opened.

#include "collect/Collector.h"
#include "link/PortMap.h"
#include "platform/QtSerialPort.h"

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

enum ExitCode { Stopped = 0, BadConfiguration = 2, PortUnavailable = 3 };
} // namespace

int main(int argc, char *argv[])
{
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
    if (!collector.start(&why)) {
        std::fprintf(stderr, "vxcollect: %s\n", qPrintable(why));
        return PortUnavailable;
    }
    return app.exec() == 0 ? Stopped : 1;
}
