#include "core/platform/SafeFiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace vx;

// Files that are not regular files never block and never run on forever;
// nothing is written through a link that leads out of the program directory.
class tst_safefiles : public QObject {
    Q_OBJECT
private slots:
    void init();
    void reads_data();
    void reads();
    void appends_data();
    void appends();
    void linksOut_data();
    void linksOut();

private:
    QString path(const QString &name) const { return m_dir->filePath(name); }
    std::unique_ptr<QTemporaryDir> m_dir;
};

namespace {
void makeFifo(const QString &path)
{
    QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0644) == 0);
}
void write(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}
} // namespace

void tst_safefiles::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
}

void tst_safefiles::reads_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("problem");
    QTest::newRow("regular") << "regular" << int(FileProblem::None);
    QTest::newRow("empty") << "empty" << int(FileProblem::None);
    QTest::newRow("missing") << "missing" << int(FileProblem::Missing);
    QTest::newRow("too large") << "large" << int(FileProblem::TooLarge);
    QTest::newRow("fifo") << "fifo" << int(FileProblem::NotRegular);
    QTest::newRow("link to /dev/zero") << "zero" << int(FileProblem::NotRegular);
    QTest::newRow("directory") << "dir" << int(FileProblem::NotRegular);
}

void tst_safefiles::reads()
{
    QFETCH(QString, kind);
    QFETCH(int, problem);
    const QString p = path(QStringLiteral("f"));
    if (kind == "regular")
        write(p, "4,9600\r\n");
    else if (kind == "empty")
        write(p, "");
    else if (kind == "large")
        write(p, QByteArray(5000, 'x'));
    else if (kind == "fifo")
        makeFifo(p);
    else if (kind == "zero")
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), p));
    else if (kind == "dir")
        QVERIFY(QDir().mkpath(p));
    QElapsedTimer clock;
    clock.start();
    const FileRead read = readRegularFile(p, 4096);
    QCOMPARE(int(read.problem), problem);
    QVERIFY(clock.elapsed() < 2000); // returned: did not wait on the FIFO or read /dev/zero to the end
    if (kind == "regular")
        QCOMPARE(read.bytes, QByteArray("4,9600\r\n"));
    QFile file;
    QCOMPARE(openRegularForReading(file, p), problem == int(FileProblem::None) || problem == int(FileProblem::TooLarge));
}

void tst_safefiles::appends_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("result");
    QTest::newRow("new file") << "new" << int(AppendResult::Written);
    QTest::newRow("existing file") << "regular" << int(AppendResult::Written);
    QTest::newRow("fifo") << "fifo" << int(AppendResult::Failed);
    QTest::newRow("link to /dev/null") << "null" << int(AppendResult::IsLink);
    QTest::newRow("link to a file") << "link" << int(AppendResult::IsLink);
}

void tst_safefiles::appends()
{
    QFETCH(QString, kind);
    QFETCH(int, result);
    const QString p = path(QStringLiteral("log.txt"));
    if (kind == "regular")
        write(p, "a\r\n");
    else if (kind == "fifo")
        makeFifo(p);
    else if (kind == "null")
        QVERIFY(QFile::link(QStringLiteral("/dev/null"), p));
    else if (kind == "link") {
        write(path(QStringLiteral("target.txt")), "");
        QVERIFY(QFile::link(path(QStringLiteral("target.txt")), p));
    }
    QCOMPARE(int(appendToRegularFile(p, "b\r\n", true)), result);
    if (kind == "regular" || kind == "new") {
        QFile f(p);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray(kind == "regular" ? "a\r\nb\r\n" : "b\r\n"));
    }
    if (kind == "link") // followed when asked to
        QCOMPARE(appendToRegularFile(p, "c\r\n", false), AppendResult::Written);
    if (kind == "null") // a device is never written, link or not
        QCOMPARE(appendToRegularFile(p, "c\r\n", false), AppendResult::Failed);
}

void tst_safefiles::linksOut_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("inside");
    QTest::newRow("plain file") << "" << "home/data/1.txt" << true;
    QTest::newRow("not yet created") << "" << "home/data/new/9.txt" << true;
    QTest::newRow("data is a link out") << "data->out" << "home/data/1.txt" << false;
    QTest::newRow("file is a link out") << "file->out" << "home/data/1.txt" << false;
    QTest::newRow("file links inside") << "file->inside" << "home/data/1.txt" << true;
    QTest::newRow("home reached through a link") << "alias->home" << "alias/data/1.txt" << true;
    QTest::newRow("a file elsewhere, no link") << "" << "out/list.txt" << true;
    QTest::newRow("a link elsewhere to elsewhere") << "list->out" << "list.txt" << false;
}

void tst_safefiles::linksOut()
{
    QFETCH(QString, setup);
    QFETCH(QString, file);
    QFETCH(bool, inside);
    QVERIFY(QDir().mkpath(path(QStringLiteral("home"))));
    QVERIFY(QDir().mkpath(path(QStringLiteral("out"))));
    write(path(QStringLiteral("out/1.txt")), "");
    write(path(QStringLiteral("home/other.txt")), "");
    if (setup == "data->out") {
        QVERIFY(QFile::link(path(QStringLiteral("out")), path(QStringLiteral("home/data"))));
    } else {
        QVERIFY(QDir().mkpath(path(QStringLiteral("home/data"))));
        if (setup == "file->out")
            QVERIFY(QFile::link(path(QStringLiteral("out/1.txt")), path(QStringLiteral("home/data/1.txt"))));
        if (setup == "file->inside")
            QVERIFY(QFile::link(path(QStringLiteral("home/other.txt")), path(QStringLiteral("home/data/1.txt"))));
    }
    if (setup == "alias->home")
        QVERIFY(QFile::link(path(QStringLiteral("home")), path(QStringLiteral("alias"))));
    if (setup == "list->out")
        QVERIFY(QFile::link(path(QStringLiteral("out/1.txt")), path(QStringLiteral("list.txt"))));
    const QString home = setup == "alias->home" ? path(QStringLiteral("alias")) : path(QStringLiteral("home"));
    QCOMPARE(writeStaysInside(path(file), home), inside);
}

QTEST_GUILESS_MAIN(tst_safefiles)
#include "tst_safefiles.moc"
