// The live path: the real window shown, the real serial port on a
// pseudo-terminal, bytes delivered at the line rate by vxsim. Prints the
// window's CPU time per exchange of the cycle and per active-upload frame
// (the simulator's own CPU is not counted).
// Usage: bench_live PATH-TO-vxsim [SECONDS]   (run under Xvfb to count painting)

#include "DeviceWindow.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMap>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QRegularExpression>
#include <QTimer>
#include <QFileInfo>
#include <QLabel>
#include <QTabWidget>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>

#include "Callgrind.h"
#include "core/platform/LocalTime.h"
#include <sys/resource.h>
#include <unistd.h>

using namespace vx;
using namespace vx::test;

namespace {

double seconds(const timeval &t)
{
    return double(t.tv_sec) + double(t.tv_usec) / 1e6;
}

// User and system CPU of this process so far.
std::pair<double, double> cpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return {seconds(usage.ru_utime), seconds(usage.ru_stime)};
}

// Each of this process's threads so far, by thread name: CPU seconds (user
// plus system) and how often it went to sleep (every wake-up costs a context
// switch, dear on a virtual machine).
struct ThreadUse {
    double cpu = 0;
    qint64 sleeps = 0;
};

qint64 voluntarySwitches(const QString &id)
{
    QFile status(QStringLiteral("/proc/self/task/%1/status").arg(id));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("voluntary_ctxt_switches:"))
            return line.mid(line.indexOf(':') + 1).trimmed().toLongLong();
    return 0;
}

QMap<QString, ThreadUse> threadUse()
{
    QMap<QString, ThreadUse> use;
    const double tick = double(sysconf(_SC_CLK_TCK));
    for (const QString &id : QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(QStringLiteral("/proc/self/task/%1/stat").arg(id));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const qsizetype open = line.indexOf('('), close = line.lastIndexOf(')');
        if (open < 0 || close < open)
            continue;
        const QList<QByteArray> fields = line.mid(close + 2).split(' '); // fields from the 3rd on
        if (fields.size() < 13)
            continue;
        const QString name = QString::fromLocal8Bit(line.mid(open + 1, close - open - 1));
        use[name].cpu += (fields[11].toDouble() + fields[12].toDouble()) / tick;
        use[name].sleeps += voluntarySwitches(id);
    }
    return use;
}

struct Simulator {
    QProcess process;
    QString link;

    Simulator(const QString &path, const QString &dir, const QStringList &options)
        : link(dir + QStringLiteral("/bus"))
    {
        QFile::remove(link);
        process.start(path, QStringList{"--link", link, "--pace", "--baud", "19200"} + options);
        process.waitForReadyRead(5000);
    }
    ~Simulator()
    {
        process.terminate();
        process.waitForFinished(3000);
    }
};

// Runs the event loop for a while. (QTest::qWait sleeps 10 ms between passes,
// which would delay every reply.)
void run(double seconds)
{
    QEventLoop loop;
    QTimer::singleShot(int(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
}

// BENCH_PAINTS=1: which widgets were painted how often, to find what an exchange repaints;
// BENCH_PAINTS=events: which events went where, to find what wakes the window.
class PaintCounter : public QObject {
public:
    QMap<QString, int> counts;
    bool events = false; // BENCH_PAINTS=events: every event by type and receiver instead
    // An unnamed object by its nearest named parent: "in Frame6".
    static QString nameOf(const QObject *object)
    {
        if (!object->objectName().isEmpty())
            return object->objectName();
        for (const QObject *up = object->parent(); up; up = up->parent())
            if (!up->objectName().isEmpty())
                return QStringLiteral("in ") + up->objectName();
        return {};
    }
    bool eventFilter(QObject *object, QEvent *event) override
    {
        if (events)
            ++counts[QStringLiteral("event %1 to %2 %3")
                         .arg(int(event->type()))
                         .arg(QString::fromLatin1(object->metaObject()->className()), nameOf(object))];
        else if (event->type() == QEvent::Paint) {
            // txtValue_0 .. txtValue_719 as one line "txtValue_*": what kind of control, not which one
            QString name = object->objectName();
            static const QRegularExpression member(QStringLiteral("_\\d+$"));
            name.replace(member, QStringLiteral("_*"));
            ++counts[QString::fromLatin1(object->metaObject()->className()) + QLatin1Char(' ') + name];
        }
        return false;
    }
    void print(int per) const
    {
        QList<QPair<int, QString>> sorted;
        for (auto it = counts.cbegin(); it != counts.cend(); ++it)
            sorted.append({it.value(), it.key()});
        std::sort(sorted.begin(), sorted.end(), [](const auto &a, const auto &b) { return a.first > b.first; });
        for (int i = 0; i < qMin<int>(25, int(sorted.size())); ++i)
            std::printf("  %6.2f paints/%s  %s\n", per > 0 ? double(sorted[i].first) / per : 0.0, "unit",
                        qPrintable(sorted[i].second));
    }
};

// Runs the window on the simulator for a while after start() and reports.
void measure(const char *what, const char *unit, const QString &vxsim, const QStringList &options, double seconds,
             const std::function<void(DeviceWindow &)> &start)
{
    QTemporaryDir dir;
    Simulator sim(vxsim, dir.path(), options);
    if (!QFileInfo::exists(sim.link)) {
        std::fprintf(stderr, "vxsim did not start\n");
        std::exit(1);
    }
    { // the window at the simulator's rate, as on a real line
        QFile set(QDir(dir.path()).filePath(QStringLiteral("comm.set")));
        if (set.open(QIODevice::WriteOnly))
            set.write("1,19200\r\n");
    }
    DeviceWindow w(sim.link, dir.path());
    w->resize(1280, 860);
    if (qEnvironmentVariableIsSet("BENCH_TAB")) { // e.g. BENCH_TAB=粮情总览: that tab in front
        auto *tabs = w->findChild<QTabWidget *>(QStringLiteral("SSTab2"));
        for (int i = 0; i < tabs->count(); ++i)
            if (tabs->tabText(i).startsWith(qEnvironmentVariable("BENCH_TAB")))
                tabs->setCurrentIndex(i);
    }
    if (!qEnvironmentVariableIsSet("BENCH_HIDDEN")) { // hidden: what the window costs without painting
        w->show();
        if (!QTest::qWaitForWindowExposed(w.window.get()))
            std::fprintf(stderr, "the window was not shown\n");
    }
    auto *replies = w->findChild<QLabel *>(QStringLiteral("lblErrCounter"));
    auto *requests = w->findChild<QLabel *>(QStringLiteral("lblCounter"));
    start(w);
    // Settle until every device has answered twice: the first round raises the
    // alarms of points without a reading and retitles the alarm tab, which is
    // not what an exchange costs from then on.
    QElapsedTimer settling;
    settling.start();
    while (replies->text().toInt() < 2 * 36 && settling.elapsed() < 20000
           && (replies->text().toInt() > 0 || settling.elapsed() < 3000)) // idle: nothing comes
        run(0.1);
    run(0.5);
    const int before = replies->text().toInt();
    const int asked = requests->text().toInt();
    const auto cpu0 = cpuSeconds();
    const QMap<QString, ThreadUse> threads0 = threadUse();
    QElapsedTimer wall;
    wall.start();
    PaintCounter paints;
    paints.events = qEnvironmentVariable("BENCH_PAINTS") == QLatin1String("events");
    if (qEnvironmentVariableIsSet("BENCH_PAINTS"))
        qApp->installEventFilter(&paints);
    CALLGRIND_START_INSTRUMENTATION;
    run(seconds);
    CALLGRIND_STOP_INSTRUMENTATION;
    qApp->removeEventFilter(&paints);
    const auto cpu1 = cpuSeconds();
    const QMap<QString, ThreadUse> threads1 = threadUse();
    const double user = cpu1.first - cpu0.first, system = cpu1.second - cpu0.second, cpu = user + system;
    const double elapsed = wall.nsecsElapsed() / 1e9;
    const int n = replies->text().toInt() - before;
    const int sent = requests->text().toInt() - asked; // the cycle's requests; 0 in upload mode
    std::printf("== %s\n", what);
    std::printf("%-18s %d in %.1f s (%.1f/s)\n", unit, n, elapsed, n / elapsed);
    std::printf("cpu                %.1f%% of a core (user %.1f%%, system %.1f%%)\n", 100.0 * cpu / elapsed,
                100.0 * user / elapsed, 100.0 * system / elapsed);
    // Beside the figure, what share of requests went unanswered: timeouts cost
    // little CPU, so a lossy run flatters the per-exchange figure.
    if (sent > 0)
        std::printf("cpu per %-10s %.3f ms (%.1f%% of %d requests without a reply in time)\n", unit,
                    n > 0 ? 1000.0 * cpu / n : 0.0, 100.0 * (sent - n) / sent, sent);
    else
        std::printf("cpu per %-10s %.3f ms\n", unit, n > 0 ? 1000.0 * cpu / n : 0.0);
    // Where it went: the window's thread, the store's writer, and the rest.
    for (auto it = threads1.cbegin(); it != threads1.cend(); ++it) {
        const double used = it.value().cpu - threads0.value(it.key()).cpu;
        const qint64 sleeps = it.value().sleeps - threads0.value(it.key()).sleeps;
        if (used > 0 || sleeps > 0)
            std::printf("  thread %-16s %.3f ms, %.1f wake-ups per %s\n", qPrintable(it.key()),
                        n > 0 ? 1000.0 * used / n : 0.0, n > 0 ? double(sleeps) / n : 0.0, unit);
    }
    if (!paints.counts.isEmpty())
        paints.print(n);
    w.click(QStringLiteral("cmdStopOnce"));
}

} // namespace

int main(int argc, char *argv[])
{
    vx::readLocalTimeZoneOnce(); // before any thread: see there
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_live PATH-TO-vxsim [SECONDS]\n");
        return 2;
    }
    const QString vxsim = QString::fromLocal8Bit(argv[1]);

    const double seconds = argc > 2 ? QByteArray(argv[2]).toDouble() : 10.0;

    if (qEnvironmentVariable("BENCH_CALLGRIND") == QLatin1String("cycle")) {
        measure("cycle, 36 devices, period 100 ms (for callgrind)", "exchange", vxsim, {}, seconds, [](DeviceWindow &w) {
            // As many exchanges per repaint as at 35 ms, so that instructions per exchange are those of the real rate.
            w->setRepaintInterval(100 * 100 / 35);
            w.box(QStringLiteral("txtTimerSet"))->setText(QStringLiteral("100"));
            w.click(QStringLiteral("cmdCicleAll"));
        });
        return 0;
    }
    if (qEnvironmentVariableIsSet("BENCH_CALLGRIND")) {
        // Slow enough for the window to keep up under valgrind: instructions per frame, repeatable.
        measure("active upload, 10 frames/s (for callgrind)", "frame", vxsim, {"--upload", "--upload-interval", "3600"},
                seconds, [](DeviceWindow &w) { w.click(QStringLiteral("Command1")); });
        return 0;
    }
    // BENCH_ONLY=cycle or upload: that one alone (for a profiler).
    const QString only = qEnvironmentVariable("BENCH_ONLY");
    // What the window costs doing nothing, for reference.
    if (only.isEmpty())
        measure("idle", "frame", vxsim, {}, seconds / 2, [](DeviceWindow &) {});
    // The cycle over 36 devices at 19200 baud, 18 registers: the wire allows 39
    // exchanges/s (26 ms each), but a 28 ms period loses replies on a shared
    // machine; 35 ms (BENCH_PERIOD) is one it holds.
    const QString period = qEnvironmentVariable("BENCH_PERIOD", QStringLiteral("35"));
    const QByteArray cycleTitle = "cycle, 36 devices, period " + period.toLatin1() + " ms";
    if (only.isEmpty() || only == QLatin1String("cycle"))
        measure(cycleTitle.constData(), "exchange", vxsim, {}, seconds, [period](DeviceWindow &w) {
            w.box(QStringLiteral("txtTimerSet"))->setText(period);
            w.click(QStringLiteral("cmdCicleAll"));
        });
    // 36 devices uploading every 600 ms: 60 frames/s.
    if (only.isEmpty() || only == QLatin1String("upload"))
        measure("active upload, 60 frames/s", "frame", vxsim, {"--upload", "--upload-interval", "600"}, seconds,
                [](DeviceWindow &w) { w.click(QStringLiteral("Command1")); });
    return 0;
}
