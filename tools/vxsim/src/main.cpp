// vxsim: a bus of simulated data collectors on a pseudo-terminal, a serial port or TCP.

#include "Options.h"
#include "SimServer.h"
#include "Wire.h"

#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <cstdio>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int signalPipe[2] = {-1, -1};

// Opens (making it if missing) the control FIFO. Opened for reading and
// writing, so it never reads end-of-file when a writer goes away.
int openControl(const QString &path, bool *made, QString *error)
{
    const QByteArray p = QFile::encodeName(path);
    struct stat st {};
    *made = false;
    if (::stat(p.constData(), &st) != 0) {
        if (::mkfifo(p.constData(), 0600) != 0) {
            *error = QStringLiteral("cannot make the FIFO %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
            return -1;
        }
        *made = true;
    } else if (!S_ISFIFO(st.st_mode)) {
        *error = QStringLiteral("%1 exists and is not a FIFO").arg(path);
        return -1;
    }
    const int fd = ::open(p.constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        *error = QStringLiteral("cannot open %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
    return fd;
}

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

    bool madeControl = false;
    if (!options->control.isEmpty()) {
        QString problem;
        const int fd = openControl(options->control, &madeControl, &problem);
        if (fd < 0) {
            std::fprintf(stderr, "vxsim: %s\n", qPrintable(problem));
            return 1;
        }
        auto *notifier = new QSocketNotifier(fd, QSocketNotifier::Read, &app);
        auto *pending = new QByteArray;
        QObject::connect(notifier, &QSocketNotifier::activated, &app, [fd, pending, &server] {
            char buffer[4096];
            ssize_t n;
            while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
                pending->append(buffer, n);
            if (pending->size() > 65536) // no line is that long: whatever it was, drop it
                pending->clear();
            qsizetype end;
            while ((end = pending->indexOf('\n')) >= 0) {
                const QString line = QString::fromUtf8(pending->left(end)).trimmed();
                pending->remove(0, end + 1);
                if (line.isEmpty())
                    continue;
                QString problem;
                const QString done = server.control(line, &problem);
                if (done.isEmpty())
                    std::fprintf(stderr, "vxsim: control: \"%s\": %s\n", qPrintable(line), qPrintable(problem));
                else
                    std::printf("vxsim: control: %s\n", qPrintable(done));
                std::fflush(stdout);
            }
        });
    }

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
    const int code = app.exec();
    if (madeControl)
        QFile::remove(options->control);
    return code;
}
