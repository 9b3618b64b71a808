#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/types.h>

// scripts/run starts the simulator and the program, and stops the
// simulator when the program ends, or when it is stopped itself.
class tst_run : public QObject {
    Q_OBJECT
private slots:
    void stopsTheSimulatorWithTheProgram_data();
    void stopsTheSimulatorWithTheProgram();
    void endsAsTheProgramEnds_data();
    void endsAsTheProgramEnds();
};

namespace {
bool alive(qint64 pid)
{
    return pid > 0 && ::kill(pid_t(pid), 0) == 0;
}
} // namespace

void tst_run::stopsTheSimulatorWithTheProgram_data()
{
    QTest::addColumn<bool>("endTheProgram"); // else: stop scripts/run itself
    QTest::newRow("program closed") << true;
    QTest::newRow("run command stopped") << false;
}

void tst_run::stopsTheSimulatorWithTheProgram()
{
    QFETCH(bool, endTheProgram);
    QTemporaryDir home;
    QProcess run;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("VXMON_RUN_NO_BUILD"), QStringLiteral("1"));
    env.insert(QStringLiteral("VXMON_BUILD_DIR"), QStringLiteral(VXMON_BUILD_DIR));
    env.insert(QStringLiteral("VXMON_HOME"), home.path());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    run.setProcessEnvironment(env);
    run.start(QStringLiteral(VXMON_SOURCE_DIR "/scripts/run"), {});
    QVERIFY(run.waitForReadyRead(10000));
    const QString said = QString::fromLocal8Bit(run.readAllStandardOutput());
    const auto m = QRegularExpression(QStringLiteral("vxmon pid (\\d+), vxsim pid (\\d+) on (\\S+)")).match(said);
    QVERIFY2(m.hasMatch(), qPrintable(said));
    const qint64 app = m.captured(1).toLongLong();
    const qint64 sim = m.captured(2).toLongLong();
    const QString device = m.captured(3);
    QVERIFY(alive(app));
    QVERIFY(alive(sim));
    QVERIFY(QFileInfo(device).symLinkTarget().startsWith(QStringLiteral("/dev/pts/")));
    QTRY_VERIFY(QFileInfo::exists(home.filePath(QStringLiteral("data")))); // the program started up there

    ::kill(pid_t(endTheProgram ? app : run.processId()), SIGTERM);
    QVERIFY(run.waitForFinished(10000));
    QTRY_VERIFY(!alive(sim));
    QTRY_VERIFY(!alive(app));
    QVERIFY(!QFileInfo::exists(device)); // the simulator removed its link
}

void tst_run::endsAsTheProgramEnds_data()
{
    QTest::addColumn<QString>("platform"); // QT_QPA_PLATFORM; empty: none, and no display either
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("said");
    QTest::newRow("no display") << "" << QStringList{} << 1 << "xvfb-run -s '-screen 0 1600x1000x24' scripts/run";
    QTest::newRow("the window refuses") << "offscreen" << QStringList{"--lang", "fr"} << 2 << "--lang";
    QTest::newRow("vxcollect refuses") << "" << QStringList{"--collect", "--baud", "fast"} << 2 << "--baud";
}

void tst_run::endsAsTheProgramEnds()
{
    QFETCH(QString, platform);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, said);
    QTemporaryDir home;
    QProcess run;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("VXMON_RUN_NO_BUILD"), QStringLiteral("1"));
    env.insert(QStringLiteral("VXMON_BUILD_DIR"), QStringLiteral(VXMON_BUILD_DIR));
    env.insert(QStringLiteral("VXMON_HOME"), home.path());
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    if (!platform.isEmpty())
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
    run.setProcessEnvironment(env);
    run.start(QStringLiteral(VXMON_SOURCE_DIR "/scripts/run"), arguments);
    QVERIFY(run.waitForFinished(20000));
    const QString err = QString::fromLocal8Bit(run.readAllStandardError());
    QCOMPARE(run.exitCode(), exitCode);
    QVERIFY2(err.contains(said), qPrintable(err));
}

QTEST_GUILESS_MAIN(tst_run)
#include "tst_run.moc"
