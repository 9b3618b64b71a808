#include "core/link/CommSettings.h"

#include <QDir>
#include <QFile>
#include <QFileDevice>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace vx;

Q_DECLARE_METATYPE(vx::CommSetStatus)

class tst_commsettings : public QObject {
    Q_OBJECT
private slots:
    void format();
    void parse_data();
    void parse();
    void roundTripThroughFile();
    void missingAndOversizedFiles();
    void unwritableDirectoryFails();
};

void tst_commsettings::format()
{
    QCOMPARE(formatCommSet({3, 19200}), QByteArray("3,19200\r\n"));
    QCOMPARE(formatCommSet({4, 9600}), QByteArray("4,9600\r\n"));
}

void tst_commsettings::parse_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<CommSetStatus>("status");
    QTest::addColumn<int>("num");
    QTest::addColumn<int>("rate");
    const auto ok = CommSetStatus::Ok;
    const auto bad = CommSetStatus::Damaged;
    QTest::newRow("as written") << QByteArray("4,9600\r\n") << ok << 4 << 9600;
    QTest::newRow("no line end") << QByteArray("16,19200") << ok << 16 << 19200;
    QTest::newRow("blanks") << QByteArray(" 2 , 4800 \n\n") << ok << 2 << 4800;
    QTest::newRow("rate 0") << QByteArray("1,0\r\n") << ok << 1 << 0;
    QTest::newRow("negative port") << QByteArray("-5,9600\r\n") << ok << -5 << 9600;
    QTest::newRow("empty") << QByteArray() << bad << 0 << 0;
    QTest::newRow("one number") << QByteArray("4\r\n") << bad << 0 << 0;
    QTest::newRow("three numbers") << QByteArray("4,9600,1\r\n") << bad << 0 << 0;
    QTest::newRow("rate too big for 16 bits") << QByteArray("4,115200\r\n") << bad << 0 << 0;
    QTest::newRow("huge") << QByteArray("99999999999999999999,1\r\n") << bad << 0 << 0;
    QTest::newRow("letters") << QByteArray("COM4,9600\r\n") << bad << 0 << 0;
    QTest::newRow("binary") << QByteArray::fromHex("00FF2C01FE0D0A") << bad << 0 << 0;
    QTest::newRow("second line") << QByteArray("4,9600\r\n5,4800\r\n") << bad << 0 << 0;
}

void tst_commsettings::parse()
{
    QFETCH(QByteArray, content);
    QFETCH(CommSetStatus, status);
    QFETCH(int, num);
    QFETCH(int, rate);
    const CommSetRead r = parseCommSet(content);
    QCOMPARE(r.status, status);
    if (status == CommSetStatus::Ok) {
        QCOMPARE(int(r.settings.CommNum), num);
        QCOMPARE(int(r.settings.CommRate), rate);
    }
}

void tst_commsettings::roundTripThroughFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("comm.set"));
    QVERIFY(writeCommSet(path, {4, 9600}));
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("4,9600\r\n"));
    const CommSetRead r = readCommSet(path);
    QCOMPARE(r.status, CommSetStatus::Ok);
    QCOMPARE(r.settings.CommNum, qint16(4));
    QCOMPARE(r.settings.CommRate, qint16(9600));
}

void tst_commsettings::missingAndOversizedFiles()
{
    QTemporaryDir dir;
    QCOMPARE(readCommSet(dir.filePath(QStringLiteral("comm.set"))).status, CommSetStatus::Missing);
    QFile big(dir.filePath(QStringLiteral("big.set")));
    QVERIFY(big.open(QIODevice::WriteOnly));
    big.write(QByteArray(1 << 20, '1'));
    big.close();
    QCOMPARE(readCommSet(big.fileName()).status, CommSetStatus::Damaged);
    // A FIFO or an endless device is no comm.set: damaged, at once.
    const QString fifo = dir.filePath(QStringLiteral("fifo.set"));
    QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0644) == 0);
    QCOMPARE(readCommSet(fifo).status, CommSetStatus::Damaged);
    const QString zero = dir.filePath(QStringLiteral("zero.set"));
    QVERIFY(QFile::link(QStringLiteral("/dev/zero"), zero));
    QCOMPARE(readCommSet(zero).status, CommSetStatus::Damaged);
}

void tst_commsettings::unwritableDirectoryFails()
{
    QVERIFY(!writeCommSet(QStringLiteral("/nonexistent-dir/comm.set"), {1, 9600}));
}

QTEST_APPLESS_MAIN(tst_commsettings)
#include "tst_commsettings.moc"
