// Start-up: time from process start to the window's first paint, and
// resident memory then. Runs vxmon RUNS times (default 10) on the platform of
// QT_QPA_PLATFORM, with COM1 mapped to a pseudo-terminal so the port opens.
// Usage: startup PATH-TO-vxmon [RUNS]

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <pty.h>
#include <unistd.h>

namespace {
long long monotonicNs()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 2)
        return 2;
    const int runs = argc > 2 ? std::max(1, atoi(argv[2])) : 10;
    int master = -1, slave = -1;
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0)
        return 1;
    QTemporaryDir home;

    QList<double> ms;
    QList<long> rss;
    for (int i = 0; i < runs; ++i) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("VXMON_STARTUP_PROBE"), QStringLiteral("1"));
        env.insert(QStringLiteral("VXMON_HOME"), home.path());
        env.insert(QStringLiteral("VXMON_COM1"), QString::fromLocal8Bit(name));
        p.setProcessEnvironment(env);
        const long long started = monotonicNs();
        p.start(QString::fromLocal8Bit(argv[1]), {});
        if (!p.waitForFinished(30000)) {
            std::fprintf(stderr, "vxmon did not finish\n");
            return 1;
        }
        long long shown = 0;
        long kb = 0;
        if (std::sscanf(p.readAllStandardOutput().constData(), "shown %lld rss %ld", &shown, &kb) != 2) {
            std::fprintf(stderr, "no probe output\n");
            return 1;
        }
        ms << (shown - started) / 1e6;
        rss << kb;
    }
    std::sort(ms.begin(), ms.end());
    std::sort(rss.begin(), rss.end());
    std::printf("platform            %s\n", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "default" : qgetenv("QT_QPA_PLATFORM").constData());
    std::printf("start to shown (ms) median %.0f, min %.0f, max %.0f over %d runs\n", ms[ms.size() / 2], ms.first(),
                ms.last(), runs);
    std::printf("resident when shown median %ld kB (%.1f MB)\n", rss[rss.size() / 2], rss[rss.size() / 2] / 1024.0);
    close(master);
    close(slave);
    return 0;
}
