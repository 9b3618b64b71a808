// The window and vxcollect on one simulated bus: the window opens as a viewer
// of the service's store, takes the bus, works on it, gives it back; a holder
// that dies or hangs loses it; refusals say why.
#include "ProcessSignal.h"
#include "DeviceWindow.h"
#include "FreePort.h"
#include "HttpGet.h"
#include "core/share/BusLease.h"
#include "core/share/BusServiceLink.h"
#include "core/store/ReadingStore.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QLocalServer>
#include <QProcess>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <limits>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace vx;
using namespace vx::test;

namespace {
qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

// vxsim (paced, every request logged) and vxcollect on it, in one directory
// that is also the window's program directory.
struct Bus {
    QTemporaryDir dir;
    QProcess sim, collect;
    QByteArray said; // vxcollect's JSON lines so far
    int metricsPort = freeTcpPort();

    QString path(const char *name) const { return dir.filePath(QString::fromLatin1(name)); }
    bool start(const QStringList &more = {})
    {
        sim.start(QStringLiteral(VXSIM_PATH), {"--link", path("bus"), "--addresses", "1-3", "--pace", "--baud", "9600", "--verbose"});
        if (!sim.waitForReadyRead(5000))
            return false;
        collect.start(QStringLiteral(VXCOLLECT_PATH),
                      QStringList{"--port", path("bus"), "--addresses", "1-3", "--dir", dir.path(), "--json", "--metrics",
                                  QStringLiteral("127.0.0.1:%1").arg(metricsPort)}
                          + more);
        return collect.waitForStarted() && waitForFrame(1, 0) && waitForFrame(3, 0);
    }
    QList<QJsonObject> lines()
    {
        said += collect.readAllStandardOutput();
        QList<QJsonObject> all;
        for (const QByteArray &line : said.split('\n'))
            if (!line.isEmpty())
                all << QJsonDocument::fromJson(line).object();
        return all;
    }
    // The newest frame of `device` vxcollect printed, in ms; -1: none.
    qint64 frameMs(int device)
    {
        qint64 newest = -1;
        for (const QJsonObject &o : lines())
            if (o.value(QStringLiteral("device")).toInt() == device && o.contains(QStringLiteral("raw")))
                newest = QDateTime::fromString(o.value(QStringLiteral("time")).toString(), Qt::ISODateWithMs).toMSecsSinceEpoch();
        return newest;
    }
    bool waitForFrame(int device, qint64 after)
    {
        QElapsedTimer t;
        t.start();
        while (frameMs(device) <= after && t.elapsed() < 30000)
            QTest::qWait(20);
        return frameMs(device) > after;
    }
    // vxcollect's line {"bus": state}, once it is there; empty when it did not come.
    QJsonObject waitForBus(const QString &state, int nth = 1)
    {
        QElapsedTimer t;
        t.start();
        do {
            int seen = 0;
            for (const QJsonObject &o : lines())
                if (o.value(QStringLiteral("bus")).toString() == state && ++seen == nth)
                    return o;
            QTest::qWait(20);
        } while (t.elapsed() < 30000);
        return {};
    }
    void stop()
    {
        signalProcess(collect, SIGTERM);
        collect.waitForFinished(10000);
        sim.terminate();
        sim.waitForFinished(3000);
    }
};

// A holder of the bus in a process of its own, as a window would be.
QStringList holderScript(const QString &socket)
{
    return {"-c", QStringLiteral("import socket,sys,time\n"
                                 "s=socket.socket(socket.AF_UNIX); s.connect('%1')\n"
                                 "s.sendall(b'{\"op\":\"take\",\"who\":\"holder\",\"token\":\"h1\"}\\n')\n"
                                 "print(s.recv(4096).decode().strip(), flush=True)\n"
                                 "time.sleep(600)\n")
                      .arg(socket)};
}
} // namespace

class tst_e2e_busshare : public QObject {
    Q_OBJECT
private slots:
    void takeWorkAndGiveBack();
    void holderDiesOrHangs_data();
    void holderDiesOrHangs();
    void refusals();
    void noServiceBehindTheSocket_data();
    void noServiceBehindTheSocket();
};

void tst_e2e_busshare::takeWorkAndGiveBack()
{
    Bus bus;
    QVERIFY(bus.start());
    DeviceWindow dw(bus.path("bus"), bus.dir.path());
    frmMain &w = *dw;
    QVERIFY(w.viewer());
    QCOMPARE(w.sharedPort(), QStringLiteral("COM1"));
    QVERIFY(w.windowTitle().contains(QStringLiteral("采集服务正在使用 COM1：查看模式")));
    QCOMPARE(w.statusBar()->currentMessage(), QStringLiteral("采集服务正在使用 COM1：查看模式"));
    QVERIFY(dw.dialogs->boxes.isEmpty()); // no "cannot open" box
    QVERIFY(!w.port().isOpen());
    QVERIFY(w.findChild<QLabel *>(QStringLiteral("storeState"))->text().contains(
        QStringLiteral("网页查看：http://127.0.0.1:%1/").arg(bus.metricsPort)));

    const qint64 takenAt = nowMs();
    QElapsedTimer clock;
    clock.start();
    dw.click("cmdTakeBus");
    const qint64 takeMs = clock.elapsed();
    QVERIFY2(w.holdingBus(), qPrintable(w.statusBar()->currentMessage()));
    QVERIFY(w.port().isOpen() && !w.viewer());
    QVERIFY(bus.waitForBus(QStringLiteral("paused")).value(QStringLiteral("by")).toString().startsWith(QStringLiteral("vxmon (")));
    QCOMPARE(httpGet(bus.metricsPort, "/healthz"), qMakePair(200, QByteArray("paused\n")));
    QVERIFY(httpGet(bus.metricsPort, "/metrics").second.contains("\nvxcollect_bus_paused 1\n"));

    // A device's parameter read, its address written and back, as the window always does it.
    dw.box("txtStationID")->setText(QStringLiteral("2"));
    dw.box("txtSetValues_3")->clear();
    dw.click("cmdReadSet_3");
    QTRY_VERIFY_WITH_TIMEOUT(!dw.box("txtSetValues_3")->text().isEmpty(), 5000);
    for (const auto &[from, to] : {qMakePair(3, 9), qMakePair(9, 3)}) {
        dw.box("txtSetID_0")->setText(QString::number(from));
        dw.box("txtSetID_1")->setText(QString::number(to));
        dw.click("cmdChangeID");
        QTRY_COMPARE_WITH_TIMEOUT(w.form().CmdKind, Kind::Measurement, 5000);
        dw.box("txtStationID")->setText(QString::number(to));
        dw.box("txtSetValues_0")->clear();
        dw.click("cmdReadSet_0");
        QTRY_VERIFY_WITH_TIMEOUT(!dw.box("txtSetValues_0")->text().isEmpty(), 5000); // it answers at its new address
    }
    // A reading of the window's own, for the service's store.
    const auto seenBefore = w.pipeline().snapshot().lastSeen[0];
    dw.box("txtStationID")->setText(QStringLiteral("1"));
    dw.click("comDoOnce");
    QTRY_VERIFY_WITH_TIMEOUT(w.pipeline().snapshot().lastSeen[0] != seenBefore, 5000);
    const qint64 windowFrameMs = *w.pipeline().snapshot().lastSeen[0];

    const qint64 givenAt = nowMs();
    clock.restart();
    dw.click("cmdTakeBus");
    QVERIFY(!w.holdingBus() && w.viewer() && !w.port().isOpen());
    QVERIFY(!bus.waitForBus(QStringLiteral("resumed")).isEmpty());
    QVERIFY(bus.waitForFrame(1, givenAt));
    const qint64 backMs = bus.frameMs(1) - givenAt;
    QVERIFY(bus.waitForFrame(3, givenAt)); // at its own address again
    qInfo("take: %lld ms to a usable port; give: first frame of the service %lld ms after", takeMs, backMs);
    bus.stop();

    // The record: the service's before and after, the window's between, the pause itself.
    QString why;
    const auto location = parseStoreLocation(bus.path("vxmon.db"), &why);
    QVERIFY2(location, qPrintable(why));
    auto store = ReadingStore::open(*location, QString(), &why);
    QVERIFY2(store, qPrintable(why));
    // Between the pause (its answer came within takeMs) and the give, only the window's reading, once.
    int before = 0, between = 0, after = 0;
    qint64 lastBefore = 0, firstAfter = std::numeric_limits<qint64>::max();
    for (const ReadingSet &f : store->framesSince(0)) {
        if (f.timeMs > takenAt + takeMs && f.timeMs < givenAt)
            QVERIFY2(f.address == 1 && f.timeMs == windowFrameMs, qPrintable(QString::number(f.address)));
        else if (f.timeMs <= takenAt + takeMs)
            lastBefore = qMax(lastBefore, f.timeMs);
        else
            firstAfter = qMin(firstAfter, f.timeMs);
        (f.timeMs < takenAt ? before : f.timeMs < givenAt ? between : after) += 1;
    }
    QVERIFY(before > 0 && after > 0 && between >= 1);
    qInfo("the service's gap %lld ms for a hold of %lld ms", firstAfter - lastBefore, givenAt - takenAt);
    QStringList kinds;
    for (const StoreEvent &e : store->events(takenAt, nowMs()))
        kinds << e.kind;
    QVERIFY2(kinds.contains(QStringLiteral("paused")) && kinds.contains(QStringLiteral("resumed")), qPrintable(kinds.join(' ')));
    QVERIFY(windowFrameMs >= takenAt && windowFrameMs < givenAt);
    const QByteArray simLog = bus.sim.readAllStandardError();
    QVERIFY(simLog.contains(" -> ")); // it did log
    QVERIFY2(!simLog.contains("collision"), simLog.constData());
}

void tst_e2e_busshare::holderDiesOrHangs_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<QString>("why");
    QTest::newRow("killed") << int(SIGKILL) << QStringLiteral("holder went away");
    QTest::newRow("hangs") << int(SIGSTOP) << QStringLiteral("the lease of holder lapsed");
}

// The service takes the bus back: at once when the holder's process is gone,
// when the lease runs out when it hangs.
void tst_e2e_busshare::holderDiesOrHangs()
{
    QFETCH(int, signal);
    QFETCH(QString, why);
    Bus bus;
    QVERIFY(bus.start({"--lease", "3"}));
    QProcess holder;
    holder.start(QStringLiteral("/usr/bin/python3"), holderScript(bus.path("vxcollect.sock")));
    QVERIFY(holder.waitForReadyRead(10000));
    QVERIFY(holder.readAllStandardOutput().contains("\"paused\""));
    QVERIFY(!bus.waitForBus(QStringLiteral("paused")).isEmpty());
    const qint64 lostAt = nowMs();
    signalProcess(holder, signal);
    const QJsonObject resumed = bus.waitForBus(QStringLiteral("resumed"));
    QCOMPARE(resumed.value(QStringLiteral("why")).toString(), why);
    QVERIFY(bus.waitForFrame(2, lostAt));
    qInfo("polling again %lld ms after the holder was %s", bus.frameMs(2) - lostAt, signal == SIGKILL ? "killed" : "stopped");
    signalProcess(holder, SIGKILL);
    holder.waitForFinished(3000);
    bus.stop();
}

void tst_e2e_busshare::refusals()
{
    Bus bus;
    QVERIFY(bus.start());
    const QString socket = bus.path("vxcollect.sock");
    BusServiceLink first(socket);
    QVERIFY(first.ask({{"op", "take"}, {"who", "first"}, {"token", "a"}}, busshare::kAnswerWithinMs).ok());

    // A second window: one line naming the holder; the first keeps the bus.
    DeviceWindow second(bus.path("bus"), bus.dir.path());
    QVERIFY(!second->takeBus());
    QCOMPARE(second->statusBar()->currentMessage(), QStringLiteral("总线已由 first 接管：请等它交还总线"));
    QVERIFY(first.ask({{"op", "renew"}, {"token", "a"}}, busshare::kAnswerWithinMs).ok());

    // Someone the socket's mode shuts out: another user, neither owner nor of the group.
    QCOMPARE(QFileInfo(socket).permissions() & (QFile::ReadOther | QFile::WriteOther), QFile::Permissions());
    if (::getuid() != 0)
        QSKIP("only root can become another user to try the socket's mode");
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(9);
        BusServiceLink other(socket);
        ::_exit(int(other.ask({{"op", "status"}}, 1000).failure));
    }
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QCOMPARE(WEXITSTATUS(status), int(BusServiceLink::Failure::NotPermitted));
    QVERIFY(first.ask({{"op", "give"}, {"token", "a"}}, busshare::kAnswerWithinMs).ok());
    bus.stop();
}

void tst_e2e_busshare::noServiceBehindTheSocket_data()
{
    QTest::addColumn<bool>("silent");
    QTest::newRow("a file a killed service left") << false;
    QTest::newRow("a service that does not answer") << true;
}

// Either way the window opens its port as it always does; a service that
// does not answer is said, a stale file is nobody.
void tst_e2e_busshare::noServiceBehindTheSocket()
{
    QFETCH(bool, silent);
    QTemporaryDir dir;
    const QString socket = dir.filePath(QStringLiteral("vxcollect.sock"));
    QLocalServer mute;
    if (silent) {
        QVERIFY(mute.listen(socket)); // accepts (the kernel does), never answers
    } else {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        qstrncpy(address.sun_path, QFile::encodeName(socket).constData(), sizeof address.sun_path);
        QVERIFY(::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 && ::listen(fd, 1) == 0);
        ::close(fd); // the file stays, nobody behind it
    }
    QVERIFY(QFileInfo::exists(socket));
    QProcess sim;
    sim.start(QStringLiteral(VXSIM_PATH), {"--link", dir.filePath(QStringLiteral("bus")), "--addresses", "1"});
    QVERIFY(sim.waitForReadyRead(5000));
    DeviceWindow dw(dir.filePath(QStringLiteral("bus")), dir.path());
    QVERIFY(!dw->viewer() && dw->port().isOpen());
    QVERIFY(!dw->findChild<QPushButton *>(QStringLiteral("cmdTakeBus")));
    if (silent)
        QTRY_COMPARE(dw->statusBar()->currentMessage(), QStringLiteral("采集服务 3 秒内没有回答：总线未接管，请稍后再试"));
    sim.terminate();
    sim.waitForFinished(3000);
}

QTEST_MAIN(tst_e2e_busshare)
#include "tst_e2e_busshare.moc"
