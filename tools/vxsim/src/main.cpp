// vxsim: a bus of simulated data collectors on a pseudo-terminal, a serial port or TCP.

#include "Options.h"
#include "SimServer.h"
#include "Wire.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char c = 1;
    [[maybe_unused]] const auto n = ::write(signalPipe[1], &c, 1);
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QString error;
    const auto options = vxsim::parseOptions(app.arguments(), &error);
    if (!options) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return error.contains(QLatin1String("Usage")) ? 0 : 2;
    }

    std::unique_ptr<vxsim::Wire> wire;
    if (options->tcpPort >= 0) {
        auto tcp = std::make_unique<vxsim::TcpWire>(options->tcpHost, options->tcpPort);
        if (!tcp->isOpen()) {
            std::fprintf(stderr, "vxsim: %s\n", qPrintable(tcp->error()));
            return 1;
        }
        wire = std::move(tcp);
    } else if (options->port.isEmpty()) {
        auto pty = std::make_unique<vxsim::PtyWire>(options->link);
        if (!pty->isOpen() || !pty->error().isEmpty()) {
            std::fprintf(stderr, "vxsim: %s\n", qPrintable(pty->error()));
            return 1;
        }
        wire = std::move(pty);
    } else {
        auto serial = std::make_unique<vxsim::SerialWire>(options->port, options->server.faults.baud);
        if (!serial->isOpen()) {
            std::fprintf(stderr, "vxsim: cannot open %s: %s\n", qPrintable(options->port), qPrintable(serial->error()));
            return 1;
        }
        wire = std::move(serial);
    }
    vxsim::SimServer server(*wire, options->server);

    // SIGINT and SIGTERM end the event loop, so the link is removed on the way out.
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) == 0) {
        auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
        std::signal(SIGINT, onSignal);
        std::signal(SIGTERM, onSignal);
    }

    std::printf("vxsim: %lld devices on %s\n", static_cast<long long>(server.bus().devices().size()),
                qPrintable(wire->description()));
    std::fflush(stdout);
    return app.exec();
}
