// vxcollect and its readings store, as a program: against the simulator, a
// PostgreSQL server of the test's own, a kill -9, and old data logs.
#include "OpenStore.h"
#include "ProcessSignal.h"
#include "PgServer.h"
#include "SmallDisk.h"
#include "TcpProxy.h"
#include "core/store/ReadingStore.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vx;

class tst_vxcollect_store : public QObject {
    Q_OBJECT
private slots:
    void centralOutageLosesNothing();
    void stalledCentralNeverHoldsTheStop();
    void centralErrorIsNamedOnce();
    void diskFullThenFreedPartly();
    void killNineLeavesWholeFrames();
    void importDataLogs();
    void importLargeLog();

private:
    PgServer m_pg;
};

namespace {

std::unique_ptr<ReadingStore> openStore(const QString &text, const QString &site)
{
    return openStoreAt(text, site);
}

QByteArray everything(ReadingStore &store)
{
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    QString why;
    const qint64 year3000 = QDateTime(QDate(3000, 1, 1), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
    if (!store.exportCsv(out, {0, year3000, {}, false}, &why))
        qWarning() << why;
    return out.data();
}

struct Simulator {
    QProcess process;
    bool start(const QString &link, const QStringList &extra = {})
    {
        process.start(QStringLiteral(VXSIM_PATH), QStringList{"--link", link} + extra);
        return process.waitForReadyRead(5000) && QFileInfo::exists(link);
    }
    ~Simulator()
    {
        process.terminate();
        process.waitForFinished(3000);
    }
};

// vxcollect on a paced simulator of four devices, shipping to `central` as site "north".
bool startShipping(const QTemporaryDir &dir, Simulator &sim, QProcess &collect, const QString &central,
                   const QStringList &extra = {})
{
    const QString bus = dir.filePath(QStringLiteral("bus"));
    if (!sim.start(bus, {"--pace", "--baud", "38400", "--addresses", "1-4"}))
        return false;
    collect.setProcessChannelMode(QProcess::MergedChannels);
    collect.start(QStringLiteral(VXCOLLECT_PATH), QStringList{"--port", bus, "--baud", "38400", "--addresses", "1-4",
                                                              "--dir", dir.path(), "--central", central, "--site", "north"}
                                                      + extra);
    return collect.waitForStarted();
}

qint64 centralCount(const QString &central)
{
    const auto store = openStore(central, QStringLiteral("north"));
    return store ? store->readingCount() : -1;
}

} // namespace

// The central server goes away in the middle of a run and comes back:
// collection goes on, readings wait locally, and in the end the central
// table equals the local one row for row.
void tst_vxcollect_store::centralOutageLosesNothing()
{
    VX_REQUIRE_PG(m_pg);
    const QString central = m_pg.createDatabase();
    QVERIFY2(!central.isEmpty(), qPrintable(m_pg.why()));
    QTemporaryDir dir;
    Simulator sim;
    QProcess collect;
    QVERIFY(startShipping(dir, sim, collect, central));
    QTRY_VERIFY_WITH_TIMEOUT(centralCount(central) > 0, 15000);
    QVERIFY(m_pg.stop());
    const qint64 before = [&] {
        const auto local = openStore(dir.filePath(QStringLiteral("vxmon.db")), QString());
        return local->readingCount();
    }();
    QByteArray output;
    qsizetype from = 0; // status lines before this are of an earlier step
    auto saw = [&](const char *text) {
        output += collect.readAll();
        return output.indexOf(text, from) >= 0;
    };
    // The first cycles, before the server was first reached, said "unreachable" too.
    saw("");
    from = output.size();
    QTRY_VERIFY2_WITH_TIMEOUT(saw("central unreachable"), output.right(2000).constData(), 10000);
    QTest::qWait(1500);
    QVERIFY(m_pg.start());
    from = output.size();
    QTRY_VERIFY2_WITH_TIMEOUT(saw("central connected"), output.right(2000).constData(), 40000);
    // The outage's backlog shipped (a status line says little waits): what the
    // stop must still ship is then its last commits', not a backlog a loaded
    // machine may not send within the stop's deadline.
    static const QRegularExpression waiting(QStringLiteral("central connected: (\\d+) readings waiting"));
    const auto caughtUp = [&] {
        saw("");
        auto it = waiting.globalMatch(QString::fromUtf8(output.mid(from)));
        bool small = false;
        while (it.hasNext())
            small = it.next().captured(1).toInt() <= 2000;
        return small;
    };
    QTRY_VERIFY2_WITH_TIMEOUT(caughtUp(), output.right(2000).constData(), 40000);
    signalProcess(collect, SIGTERM);
    QVERIFY(collect.waitForFinished(10000));
    QCOMPARE(collect.exitCode(), 0);

    const auto local = openStore(dir.filePath(QStringLiteral("vxmon.db")), QString());
    QVERIFY(local);
    QVERIFY(local->readingCount() > before); // collection went on while the server was away
    QCOMPARE(local->outboxReadings(), 0);
    const auto centralStore = openStore(central, QStringLiteral("north"));
    QVERIFY(centralStore);
    const QByteArray localRows = everything(*local);
    const QByteArray centralRows = everything(*centralStore);
    QCOMPARE(centralStore->readingCount(), local->readingCount());
    QVERIFY(localRows == centralRows);
    QVERIFY(localRows.count('\n') > 100);
}

// A central server that stops answering in the middle of a call (a stalled
// proxy in front of it): SIGTERM still ends vxcollect within its deadline,
// whole, with exit code 0.
void tst_vxcollect_store::stalledCentralNeverHoldsTheStop()
{
    VX_REQUIRE_PG(m_pg);
    const QString direct = m_pg.createDatabase();
    QVERIFY2(!direct.isEmpty(), qPrintable(m_pg.why()));
    TcpProxy proxy(quint16(m_pg.port()));
    const QString central = QString(direct).replace(QStringLiteral(":%1/").arg(m_pg.port()),
                                                    QStringLiteral(":%1/").arg(proxy.port()));
    QTemporaryDir dir;
    Simulator sim;
    QProcess collect;
    QVERIFY(startShipping(dir, sim, collect, central, {"--quiet"}));
    QTRY_VERIFY_WITH_TIMEOUT(centralCount(direct) > 0, 15000); // shipping through the proxy
    proxy.setStalled(true);
    QTest::qWait(1500); // the forwarder is now inside a call that will never be answered
    QElapsedTimer stopping;
    stopping.start();
    signalProcess(collect, SIGTERM);
    QVERIFY2(collect.waitForFinished(15000), "SIGTERM waited for the stalled server");
    qInfo("SIGTERM to exit with a stalled central server: %.2f s", stopping.elapsed() / 1000.0);
    QCOMPARE(collect.exitStatus(), QProcess::NormalExit);
    QCOMPARE(collect.exitCode(), 0);
}

// A central table dropped under the forwarder: the message names it, once,
// not "syntax error" and not a line a second.
void tst_vxcollect_store::centralErrorIsNamedOnce()
{
    VX_REQUIRE_PG(m_pg);
    const QString central = m_pg.createDatabase();
    QVERIFY2(!central.isEmpty(), qPrintable(m_pg.why()));
    QTemporaryDir dir;
    Simulator sim;
    QProcess collect;
    QVERIFY(startShipping(dir, sim, collect, central));
    QTRY_VERIFY_WITH_TIMEOUT(centralCount(central) > 0, 15000);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("drop"));
        const QUrl url(central);
        db.setHostName(url.host());
        db.setPort(url.port());
        db.setUserName(url.userName());
        db.setDatabaseName(url.path().mid(1));
        QVERIFY(db.open());
        QVERIFY(QSqlQuery(db).exec(QStringLiteral("DROP TABLE reading_rows CASCADE")));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("drop"));
    QByteArray output;
    QTRY_VERIFY_WITH_TIMEOUT((output += collect.readAll()).contains("relation \"reading_rows\" does not exist"), 15000);
    const qsizetype first = output.indexOf("relation \"reading_rows\" does not exist");
    QTest::qWait(5000); // retries go on meanwhile
    output += collect.readAll();
    QCOMPARE(output.count("does not exist"), 1);
    QVERIFY(!output.contains("syntax error"));
    QVERIFY2(output.lastIndexOf("vxcollect: central store", first - 1) > output.lastIndexOf('\n', first),
             "the line starts with what failed");
    signalProcess(collect, SIGTERM);
    QVERIFY(collect.waitForFinished(15000));
    QCOMPARE(collect.exitCode(), 0);
}

// The disk fills while collecting: readings are held, the status line and
// the gauge say how many; space freed partly is used at once (small
// transactions), and once all is back "writable again" is said and no
// device's readings have a gap.
void tst_vxcollect_store::diskFullThenFreedPartly()
{
    QTemporaryDir dir;
    SmallDisk disk;
    VX_REQUIRE_SMALL_DISK(disk, dir.path(), 3072);
    Simulator sim;
    QTemporaryDir busDir; // outside the small disk
    const QString bus = busDir.filePath(QStringLiteral("bus"));
    QVERIFY(sim.start(bus, {"--pace", "--baud", "38400", "--addresses", "1-4"}));
    QProcess collect;
    collect.setProcessChannelMode(QProcess::MergedChannels);
    collect.start(QStringLiteral(VXCOLLECT_PATH), {"--port", bus, "--baud", "38400", "--addresses", "1-4", "--dir",
                                                   dir.path(), "--metrics", "off"});
    QVERIFY(collect.waitForStarted());
    QByteArray output;
    auto saw = [&](const char *text, qsizetype from = 0) { return (output += collect.readAll()).indexOf(text, from) >= 0; };
    static const QRegularExpression held(QStringLiteral("store not writable: (\\d+) readings held"));
    auto lastHeld = [&](qsizetype from) {
        auto it = held.globalMatch(QString::fromUtf8(output.mid(from)));
        qint64 n = -1;
        while (it.hasNext())
            n = it.next().captured(1).toLongLong();
        return n;
    };
    // Collecting: the store has started (its migrations need room too) and frames are logged.
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(dir.filePath(QStringLiteral("data/1.txt"))).size() > 0, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(dir.filePath(QStringLiteral("vxmon.db-wal"))).size() > 0, 10000);

    QFile filler(dir.filePath(QStringLiteral("filler")));
    QVERIFY(filler.open(QIODevice::WriteOnly));
    const QByteArray block(64 * 1024, 'f');
    while (filler.write(block) == block.size() && filler.flush()) {
    }
    filler.close();
    QTRY_VERIFY2_WITH_TIMEOUT(saw("cannot write the store"), output.right(1000).constData(), 10000);
    QTRY_VERIFY2_WITH_TIMEOUT(saw("cannot write records in"), output.right(1000).constData(), 10000);
    QTest::qWait(8000); // a backlog larger than what is freed next
    qsizetype from = output.size();
    QTRY_VERIFY_WITH_TIMEOUT((saw("readings held", from), lastHeld(from) > 8000), 10000);
    const qint64 before = lastHeld(from);

    QVERIFY(filler.resize(filler.size() - 256 * 1024));
    from = output.size();
    QTRY_VERIFY2_WITH_TIMEOUT((saw("cycle", from), lastHeld(from) >= 0 && lastHeld(from) < before - 1000),
                              output.right(600).constData(), 15000);

    QVERIFY(filler.remove());
    from = output.size();
    // Tens of thousands of held readings go first, in small transactions: on a
    // loaded machine that takes a while.
    QTRY_VERIFY2_WITH_TIMEOUT(saw("is writable again", from), output.right(600).constData(), 45000);
    QTRY_VERIFY2_WITH_TIMEOUT(saw("records are written in", from), output.right(600).constData(), 45000);
    signalProcess(collect, SIGTERM);
    QVERIFY(collect.waitForFinished(15000));
    QCOMPARE(collect.exitCode(), 0);

    const auto store = openStore(dir.filePath(QStringLiteral("vxmon.db")), QString());
    QVERIFY(store);
    for (int address = 1; address <= 4; ++address) {
        const QList<StoredReading> point = store->readings(address, 1, 0, QDateTime::currentMSecsSinceEpoch() + 1);
        QVERIFY(point.size() > 100);
        qint64 widest = 0;
        for (int i = 1; i < point.size(); ++i)
            widest = qMax(widest, point[i].timeMs - point[i - 1].timeMs);
        QVERIFY2(widest < 3000, qPrintable(QStringLiteral("device %1: a gap of %2 ms").arg(address).arg(widest)));
    }
}

// A power cut while it writes: the file is sound and holds whole frames only.
void tst_vxcollect_store::killNineLeavesWholeFrames()
{
    for (int round = 0; round < 3; ++round) {
        QTemporaryDir dir;
        Simulator sim;
        const QString bus = dir.filePath(QStringLiteral("bus"));
        QVERIFY(sim.start(bus, {"--addresses", "1-8", "--points", "18"}));
        QProcess collect;
        collect.start(QStringLiteral(VXCOLLECT_PATH), {"--port", bus, "--baud", "115200", "--addresses", "1-8",
                                                       "--dir", dir.path(), "--quiet"});
        QVERIFY(collect.waitForStarted());
        const QString db = dir.filePath(QStringLiteral("vxmon.db"));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(db + QStringLiteral("-wal")).size() > 0, 10000);
        QTest::qWait(1000 + QRandomGenerator::global()->bounded(1500));
        signalProcess(collect, SIGKILL);
        QVERIFY(collect.waitForFinished(5000));
        {
            QSqlDatabase raw = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("cut"));
            raw.setDatabaseName(db);
            QVERIFY(raw.open());
            QSqlQuery q(raw);
            QVERIFY(q.exec(QStringLiteral("PRAGMA integrity_check")) && q.next());
            QCOMPARE(q.value(0).toString(), QStringLiteral("ok"));
            QVERIFY(q.exec(QStringLiteral("SELECT count(*) FROM readings")) && q.next());
            QVERIFY(q.value(0).toLongLong() > 0);
            QVERIFY(q.exec(QStringLiteral("SELECT count(*) FROM (SELECT address, time FROM readings "
                                          "GROUP BY address, time HAVING count(*) != 18)")) && q.next());
            QCOMPARE(q.value(0).toLongLong(), 0);
        }
        QSqlDatabase::removeDatabase(QStringLiteral("cut"));
    }
}

// Old logs as the window wrote them, with the faults old files have.
void tst_vxcollect_store::importDataLogs()
{
    QTemporaryDir dir;
    const QString data = dir.filePath(QStringLiteral("data"));
    QVERIFY(QDir().mkpath(data));
    auto write = [&](const QString &name, const QByteArray &text) {
        QFile f(QDir(data).filePath(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(text);
    };
    write(QStringLiteral("3.txt"), "\"2026/12/7 09:05:03 :  25.34 655.35 -5.36 \"\r\n"
                                   "\"2026/12/7 09:05:03 :  25.35 655.35 -5.37 \"\r\n" // same second: kept, 1 ms on
                                   "\"2026/12/7 09:05:0" // cut by a power failure; the next record follows it
                                   "\"2026/12/7 09:05:05 :  25.36 655.35 -5.38 \"\r\n"
                                   "\r\n");
    write(QStringLiteral("12.txt"), "\"2026/12/7 09:05:04 :  18.00 \"\n"); // LF only
    write(QStringLiteral("12 (copy).txt"), "\"2026/12/7 09:05:04 :  18.00 \"\r\n");
    write(QStringLiteral("300.txt"), "\"2026/12/7 09:05:04 :  18.00 \"\r\n");
    write(QStringLiteral("dataGet.txt"), "\"2026/12/7 09:05:04   01 03 \"\r\n");
    // What a directory may hold besides logs: each is named as skipped, none is read or waited on.
    QVERIFY(QFile::link(QStringLiteral("/dev/zero"), QDir(data).filePath(QStringLiteral("5.txt"))));
    QCOMPARE(::mkfifo(QFile::encodeName(QDir(data).filePath(QStringLiteral("6.txt"))).constData(), 0600), 0);
    QVERIFY(QDir(data).mkdir(QStringLiteral("7.txt")));
    const QByteArray oddName = QFile::encodeName(data) + "/\xff\xfe.txt";
    const int odd = ::open(oddName.constData(), O_CREAT | O_WRONLY, 0600);
    QVERIFY(odd >= 0);
    ::close(odd);
    const auto removeOdd = qScopeGuard([&] { ::unlink(oddName.constData()); }); // QDir cannot name it
    // A line far longer than any record: passed over, and the record after it read.
    write(QStringLiteral("8.txt"), QByteArray(1 << 20, 'x') + "\r\n\"2026/12/7 09:05:04 :  18.00 \"\r\n");

    auto import = [&] {
        QProcess p;
        p.start(QStringLiteral(VXCOLLECT_PATH), {"--dir", dir.path(), "--quiet", "import", data});
        p.waitForFinished(30000);
        return std::make_pair(p.exitCode(), QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError()));
    };
    const auto [code, output] = import();
    QCOMPARE(code, 0);
    QVERIFY2(output.contains(QStringLiteral("imported 3 files: 5 records, 11 new readings, 2 unreadable lines, 7 files skipped")),
             qPrintable(output));
    QVERIFY2(output.contains(QStringLiteral("3.txt:3: ")), qPrintable(output)); // file and line of the damaged record
    QVERIFY2(output.contains(QStringLiteral("8.txt:1: a line of 1048578 bytes, longer than any record")), qPrintable(output));
    for (const char *skipped : {"\"12 (copy).txt\" skipped: not a device's log", "\"300.txt\" skipped", "\"dataGet.txt\" skipped",
                                "\"5.txt\" skipped: not a regular file", "\"6.txt\" skipped: not a regular file",
                                "\"7.txt\" skipped: a directory", ".txt\" skipped: its name is not UTF-8"})
        QVERIFY2(output.contains(QLatin1String(skipped)), skipped);
    QVERIFY2(output.size() < 10000, "nothing is echoed whole");

    const auto store = openStore(dir.filePath(QStringLiteral("vxmon.db")), QString());
    QVERIFY(store);
    const qint64 second = QDateTime(QDate(2026, 12, 7), QTime(9, 5, 3), Qt::LocalTime).toMSecsSinceEpoch();
    const QList<StoredReading> p1 = store->readings(3, 1, second, second + 10000);
    QCOMPARE(p1.size(), 3);
    QCOMPARE(p1[0].timeMs, second);
    QCOMPARE(p1[1].timeMs, second + 1);
    QCOMPARE(p1[2].timeMs, second + 2000);
    QCOMPARE(p1[1].raw, quint16(2535));
    QCOMPARE(store->readings(3, 2, second, second + 1)[0].status, ReadingStatus::NoReading);
    QCOMPARE(store->readings(3, 3, second, second + 1)[0].raw, quint16(65000));
    QCOMPARE(store->readings(12, 1, second, second + 2000).size(), 1);

    // Again: nothing new.
    const auto [code2, output2] = import();
    QCOMPARE(code2, 0);
    QVERIFY2(output2.contains(QStringLiteral("5 records, 0 new readings")), qPrintable(output2));
    QCOMPARE(store->readingCount(), 11);
}

// A 50 MB log (a year of a device's frames, about 400,000 records) goes in
// whole, with its progress shown, and a second import adds nothing.
void tst_vxcollect_store::importLargeLog()
{
    QTemporaryDir dir;
    const QString data = dir.filePath(QStringLiteral("data"));
    QVERIFY(QDir().mkpath(data));
    QFile f(QDir(data).filePath(QStringLiteral("7.txt")));
    QVERIFY(f.open(QIODevice::WriteOnly));
    QDateTime t(QDate(2025, 1, 1), QTime(0, 0), Qt::LocalTime);
    qint64 records = 0;
    QByteArray line;
    while (f.size() < 50 * 1024 * 1024) {
        line = "\"" + QByteArray::number(t.date().year()) + '/' + QByteArray::number(t.date().month()) + '/'
               + QByteArray::number(t.date().day()) + ' ' + t.time().toString(QStringLiteral("HH:mm:ss")).toLatin1()
               + " :  ";
        for (int p = 0; p < 18; ++p)
            line += QByteArray::number(20 + (records + p) % 7) + ".0" + QByteArray::number(p % 10) + ' ';
        line += "\"\r\n";
        f.write(line);
        t = t.addSecs(60);
        ++records;
    }
    f.close();
    QProcess p;
    p.start(QStringLiteral(VXCOLLECT_PATH), {"--dir", dir.path(), "import", data});
    QVERIFY(p.waitForFinished(600000));
    const QString output = QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
    QCOMPARE(p.exitCode(), 0);
    QVERIFY2(output.contains(QStringLiteral("import 50%")), qPrintable(output));
    QVERIFY2(output.contains(QStringLiteral("imported 1 files: %1 records, %2 new readings, 0 unreadable")
                                 .arg(records)
                                 .arg(records * 18)),
             qPrintable(output));
    const auto store = openStore(dir.filePath(QStringLiteral("vxmon.db")), QString());
    QCOMPARE(store->readingCount(), records * 18);
}

QTEST_GUILESS_MAIN(tst_vxcollect_store)
#include "tst_vxcollect_store.moc"
