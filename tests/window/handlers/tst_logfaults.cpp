#include "Frames.h"
#include "TestWindow.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStatusBar>
#include <QTemporaryDir>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vx;
using namespace vx::test;

// Data logs that cannot be written: display and counters go on, nothing
// crashes, the loss shows once, and no file is left with half a record.
class tst_logfaults : public QObject {
    Q_OBJECT
private slots:
    void readOnlyDataDirectory();
    void diskFull();
    void logsThatAreNoRegularFiles_data();
    void logsThatAreNoRegularFiles();
};

namespace {
// Makes a directory unwritable for this process; returns how, or empty.
QString makeUnwritable(const QString &dir)
{
    if (::geteuid() != 0)
        return ::chmod(QFile::encodeName(dir).constData(), 0555) == 0 ? QStringLiteral("chmod") : QString();
    if (QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), dir}) == 0)
        return QStringLiteral("chattr");
    // Root writes through permissions; procfs takes no new files from anyone.
    if (QDir(dir).removeRecursively() && QFile::link(QStringLiteral("/proc"), dir))
        return QStringLiteral("procfs");
    return QString();
}

// Every line of a log is one whole record: a quote, the text, a quote, CR LF.
bool onlyWholeRecords(const QString &text)
{
    if (!text.isEmpty() && !text.endsWith(QStringLiteral("\"\r\n")))
        return false;
    for (const QString &line : text.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts))
        if (!line.startsWith(QLatin1Char('"')) || !line.endsWith(QLatin1Char('"')) || line.size() < 3)
            return false;
    return true;
}
} // namespace

// A FIFO or a link out of the program directory where a log should be: the
// window neither blocks nor writes elsewhere; the loss is reported once.
void tst_logfaults::logsThatAreNoRegularFiles_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("written"); // the log that still is written
    QTest::newRow("dataGet.txt a FIFO") << "fifo-dataget" << "data/1.txt";
    QTest::newRow("data/1.txt a FIFO") << "fifo-log" << "dataGet.txt";
    QTest::newRow("data a link out") << "data-out" << "dataGet.txt";
    QTest::newRow("data/1.txt a link out") << "log-out" << "dataGet.txt";
}

void tst_logfaults::logsThatAreNoRegularFiles()
{
    QFETCH(QString, setup);
    QFETCH(QString, written);
    QTemporaryDir elsewhere;
    TestWindow::Options options;
    options.prepare = [&](const QString &dir) {
        QDir(dir).mkpath(QStringLiteral("data"));
        if (setup == "fifo-dataget")
            ::mkfifo(QFile::encodeName(dir + "/dataGet.txt").constData(), 0644);
        if (setup == "fifo-log")
            ::mkfifo(QFile::encodeName(dir + "/data/1.txt").constData(), 0644);
        if (setup == "data-out") {
            QDir(dir + "/data").removeRecursively();
            QFile::link(elsewhere.path(), dir + "/data");
        }
        if (setup == "log-out")
            QFile::link(elsewhere.filePath(QStringLiteral("1.txt")), dir + "/data/1.txt");
    };
    TestWindow t(options);
    t.click(QStringLiteral("Command1"));
    for (int round = 0; round < 3; ++round)
        t.receive(replyFrame(1, ramp(13, quint16(1000 + round))));
    QCOMPARE(t.text(QStringLiteral("lblRCounter_0")), QStringLiteral("3")); // the display goes on
    QVERIFY(t.w().statusBar()->currentMessage().contains(QStringLiteral("无法写入文件")));
    QCOMPARE(t.fileText(written).count(QStringLiteral("\r\n")), 3);
    QVERIFY(QDir(elsewhere.path()).entryList(QDir::Files).isEmpty()); // nothing went out
}

void tst_logfaults::readOnlyDataDirectory()
{
    TestWindow t;
    const QString data = t.path(QStringLiteral("data"));
    const QString how = makeUnwritable(data);
    QVERIFY2(!how.isEmpty(), "no way to make a directory read-only here");
    t.click(QStringLiteral("Command1"));
    for (int round = 0; round < 5; ++round)
        for (int a = 1; a <= 3; ++a)
            t.receive(replyFrame(quint8(a), ramp(13, quint16(1000 + round))));
    if (how == QLatin1String("chattr"))
        QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), data});

    QCOMPARE(t.text(QStringLiteral("lblErrCounter")), QStringLiteral("15"));
    QCOMPARE(t.text(QStringLiteral("lblRCounter_2")), QStringLiteral("5"));
    QCOMPARE(t.text(QStringLiteral("txtValue_36")), QStringLiteral("10.04"));
    QVERIFY(t.dialogs().boxes.isEmpty());
    QVERIFY2(t.w().statusBar()->currentMessage().contains(QStringLiteral("无法写入")), qPrintable(how));
    QVERIFY(!QFile::exists(t.path(QStringLiteral("data/1.txt"))));
    QCOMPARE(t.fileText(QStringLiteral("dataGet.txt")).count(QStringLiteral("\r\n")), 15); // the raw log still works
}

void tst_logfaults::diskFull()
{
    TestWindow t;
    // A file-size limit stands in for a full disk: writes past it fail.
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit old {};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = 1500;
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
    t.click(QStringLiteral("Command1"));
    for (int round = 0; round < 20; ++round)
        for (int a = 1; a <= 3; ++a)
            t.receive(replyFrame(quint8(a), ramp(13, quint16(2000 + round))));
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &old), 0);

    QCOMPARE(t.text(QStringLiteral("lblErrCounter")), QStringLiteral("60"));
    QCOMPARE(t.text(QStringLiteral("txtValue_0")), QStringLiteral("20.19"));
    QVERIFY(t.dialogs().boxes.isEmpty());
    QVERIFY(t.w().statusBar()->currentMessage().contains(QStringLiteral("无法写入")));
    for (const QString &log : {QStringLiteral("dataGet.txt"), QStringLiteral("data/1.txt"), QStringLiteral("data/3.txt")}) {
        const QString text = t.fileText(log);
        QVERIFY2(text.size() > 0 && text.size() <= 1500, qPrintable(log));
        QVERIFY2(onlyWholeRecords(text), qPrintable(log + QStringLiteral(": ") + text.right(60)));
    }
}

QTEST_MAIN(tst_logfaults)
#include "tst_logfaults.moc"
