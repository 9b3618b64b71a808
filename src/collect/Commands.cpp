#include "collect/Commands.h"

#include "core/link/PortMap.h"
#include "core/notify/NotifySender.h"
#include "core/link/QtSerialPort.h"
#include "core/records/ShownValue.h"
#include "core/store/LogImport.h"
#include "core/store/ReadingStore.h"
#include "core/web/WebAccess.h"

#include <QDateTime>
#include <QFile>
#include <QRegularExpression>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace vx {

namespace {
enum ExitCode { Stopped = 0, Failed = 1, StoreUnavailable = 4 };

std::unique_ptr<ReadingStore> openStore(const CollectorSettings &settings)
{
    QString why;
    const auto location = parseStoreLocation(settings.store.local, &why);
    std::unique_ptr<ReadingStore> store;
    if (location)
        store = ReadingStore::open(*location, settings.store.site, &why);
    if (!store)
        std::fprintf(stderr, "vxcollect: cannot use the readings store: %s\n", qPrintable(why));
    return store;
}

} // namespace

int makeWebPassword(const CollectorSettings &settings)
{
    const bool terminal = ::isatty(STDIN_FILENO);
    termios saved{};
    if (terminal) {
        std::fprintf(stderr, "password for %s: ", qPrintable(settings.passwdUser));
        ::tcgetattr(STDIN_FILENO, &saved);
        termios quiet = saved;
        quiet.c_lflag &= tcflag_t(~ECHO);
        ::tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
    }
    std::string line;
    std::getline(std::cin, line);
    if (terminal) {
        ::tcsetattr(STDIN_FILENO, TCSANOW, &saved);
        std::fputc('\n', stderr);
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    if (line.size() < 8) {
        std::fprintf(stderr, "vxcollect: passwd: a password of 8 characters at least\n");
        return 1;
    }
    std::printf("# in [web-users] of the configuration; add \" ack\" to let %s acknowledge alarms\n%s = %s\n",
                qPrintable(settings.passwdUser), qPrintable(settings.passwdUser),
                web::makePasswordHash(QByteArray::fromStdString(line)).constData());
    return 0;
}

int notifyTest(const CollectorSettings &settings)
{
    int failed = 0, tried = 0;
    acquireNotifyLibraries();
    for (const NotifyChannel &c : settings.notify.channels) {
        if (!settings.notifyChannel.isEmpty() && c.name != settings.notifyChannel)
            continue;
        ++tried;
        NotifyMessage m;
        m.kind = QStringLiteral("test");
        m.priority = AlarmPriority::Low;
        m.timeMs = QDateTime::currentMSecsSinceEpoch();
        m.subject = c.english ? QStringLiteral("vxcollect test message (%1)").arg(settings.store.site)
                              : QStringLiteral("vxcollect 测试消息（%1）").arg(settings.store.site);
        m.text = m.subject;
        const SendResult r = sendNotice(c, m, settings.store.site);
        std::printf("%s: %s: %s\n", qPrintable(c.name), r.accepted ? "accepted" : "NOT accepted", qPrintable(r.answer));
        failed += r.accepted ? 0 : 1;
    }
    releaseNotifyLibraries();
    if (tried == 0) {
        std::fprintf(stderr, "vxcollect: notify-test: no channel named %s\n", qPrintable(shownValue(settings.notifyChannel)));
        return Failed;
    }
    return failed == 0 ? Stopped : Failed;
}

int importLogs(const CollectorSettings &settings)
{
    const auto store = openStore(settings);
    if (!store)
        return StoreUnavailable;
    // Queued for the central store when there is one: the next collecting run ships them.
    const bool queue = !settings.store.central.isEmpty() && store->engine() == StoreLocation::Engine::SQLite;
    int lastPercent = -1;
    const ImportReport report = importDataLogs(*store, settings.importDir, queue, [&](qint64 done, qint64 all) {
        const int percent = all > 0 ? int(done * 100 / all) : 100;
        if (percent / 10 != lastPercent / 10 && !settings.quiet)
            std::fprintf(stderr, "vxcollect: import %d%%\n", percent);
        lastPercent = percent;
    });
    for (const ImportReport::Skipped &skipped : report.skipped)
        std::fprintf(stderr, "vxcollect: %s skipped: %s\n", qPrintable(shownValue(skipped.name)), qPrintable(skipped.why));
    for (const QString &p : report.problems)
        std::fprintf(stderr, "vxcollect: %s\n", qPrintable(p));
    if (report.unreadable > qint64(report.problems.size()))
        std::fprintf(stderr, "vxcollect: ... %lld unreadable lines in all\n", report.unreadable);
    std::printf("imported %d files: %lld records, %lld new readings, %lld unreadable lines, %lld files skipped\n",
                report.files, report.records, report.readingsAdded, report.unreadable,
                qint64(report.skipped.size()));
    return report.failed ? Failed : Stopped;
}

int exportCsv(const CollectorSettings &settings)
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

namespace {
int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char c = 1;
    [[maybe_unused]] const auto n = ::write(signalPipe[1], &c, 1);
}
} // namespace

std::unique_ptr<SerialPort> portNamed(const QString &programDir, const QString &name)
{
    const PortMap map(programDir);
    static const QRegularExpression comName(QStringLiteral("^COM(\\d{1,2})$"), QRegularExpression::CaseInsensitiveOption);
    const auto com = comName.match(name);
    const QString device = com.hasMatch() ? map.deviceFor(com.captured(1).toInt()) : name;
    return std::make_unique<QtSerialPort>([device](int) { return device; });
}

std::unique_ptr<SerialPort> collectorPort(const CollectorSettings &settings)
{
    return portNamed(settings.programDir, settings.port);
}

void onStopSignals(QObject *context, std::function<void()> stop)
{
    // A handler may only write a byte; the event loop does the rest.
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context, [notifier, stop] {
        char c;
        [[maybe_unused]] const auto n = ::read(signalPipe[0], &c, 1);
        notifier->setEnabled(false);
        stop();
    });
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
}

} // namespace vx
