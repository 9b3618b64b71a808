#include "core/sensors/ListFile.h"

#include <QBuffer>
#include <QTemporaryFile>
#include <QTest>

using namespace vx;

namespace {
QStringList items(const QByteArray &text, int max = 100)
{
    QBuffer buffer;
    buffer.setData(text);
    buffer.open(QIODevice::ReadOnly);
    ListFileReader reader(buffer);
    QStringList out;
    QString item;
    while (out.size() < max && reader.next(item) == ListFileReader::Status::Item)
        out << item;
    return out;
}

struct Imported {
    ListImport result;
    std::array<QString, 129> SnList;
    qint16 ChennelNum = -99;
};

Imported import(const QByteArray &text, const QString &priorFirst = QString())
{
    Imported i;
    i.SnList[1] = priorFirst;
    QBuffer buffer;
    buffer.setData(text);
    buffer.open(QIODevice::ReadOnly);
    i.result = importListFile(buffer, i.SnList, i.ChennelNum);
    return i;
}

const QString kSn = QStringLiteral("28 FF 4A 3B 05 00 00 9C");
} // namespace

class tst_listfile : public QObject {
    Q_OBJECT
private slots:
    void readingRules_data();
    void readingRules();
    void roundTrip();
    void validity_data();
    void validity();
    void importsAFileItWrote();
    void countZero();
    void fewerEntriesThanTheCount();
    void entryTooShort();
    void moreThan128Entries();
    void badFirstItems_data();
    void badFirstItems();
    void hostileFilesEndQuickly_data();
    void hostileFilesEndQuickly();
    void fiftyMegabytesAreNotRead();
};

void tst_listfile::readingRules_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("quoted lines") << QByteArray("2\r\n\"a b\"\r\n\"c\"\r\n") << QStringList{"2", "a b", "c"};
    QTest::newRow("unquoted") << QByteArray("1\r\n28 FF 4A\r\n") << QStringList{"1", "28 FF 4A"};
    QTest::newRow("commas separate") << QByteArray("2,x,y") << QStringList{"2", "x", "y"};
    QTest::newRow("quoted keeps commas") << QByteArray("\"a,b\",c") << QStringList{"a,b", "c"};
    QTest::newRow("quoted spans a line end") << QByteArray("\"a\r\nb\"\r\nc") << QStringList{"a\r\nb", "c"};
    QTest::newRow("blanks before skipped") << QByteArray("  \t3\r\n   \"q\"") << QStringList{"3", "q"};
    QTest::newRow("trailing blanks dropped") << QByteArray("x  \r\ny") << QStringList{"x", "y"};
    QTest::newRow("after a quote, to the delimiter") << QByteArray("\"a\"junk,b") << QStringList{"a", "b"};
    QTest::newRow("LF alone") << QByteArray("1\n2\n") << QStringList{"1", "2"};
    QTest::newRow("empty line is an empty item") << QByteArray("1\r\n\r\n2") << QStringList{"1", "", "2"};
    QTest::newRow("unbalanced quote runs to the end") << QByteArray("1\r\n\"abc") << QStringList{"1", "abc"};
    QTest::newRow("nothing") << QByteArray() << QStringList{};
}

void tst_listfile::readingRules()
{
    QFETCH(QByteArray, text);
    QFETCH(QStringList, expected);
    QCOMPARE(items(text), expected);
}

void tst_listfile::roundTrip()
{
    const QStringList entries{kSn, QString(), QStringLiteral("10 FF 4A 3B 05 00 00 9C")};
    const QByteArray file = formatListFile(entries);
    QCOMPARE(file, QByteArray("3\r\n\"28 FF 4A 3B 05 00 00 9C\"\r\n\"\"\r\n\"10 FF 4A 3B 05 00 00 9C\"\r\n"));
    QCOMPARE(items(file), QStringList{"3"} + entries);
    QCOMPARE(formatListFile({}), QByteArray("0\r\n"));
}

void tst_listfile::validity_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<bool>("valid");
    QTest::newRow("good") << "28 FF 4A 3B 05 00 00 9C" << true;
    QTest::newRow("fields 1 and 2 both 00") << "28 00 00 3B 05 00 00 9C" << false;
    QTest::newRow("field 1 only 00") << "28 00 4A 3B 05 00 00 9C" << true;
    QTest::newRow("family 10") << "10 FF 4A 3B 05 00 00 9C" << false;
    QTest::newRow("field 5 is 01") << "28 FF 4A 3B 05 01 00 9C" << false;
    QTest::newRow("double spaces") << "28  FF 4A 3B 05 00 00 9C" << false;
    QTest::newRow("lower case") << "28 ff 4a 3b 05 00 00 9c" << true;
    QTest::newRow("six fields") << "28 FF 4A 3B 05 00" << false;
}

void tst_listfile::validity()
{
    QFETCH(QString, entry);
    QFETCH(bool, valid);
    QCOMPARE(isValidEntry(entryFields(entry)), valid);
}

void tst_listfile::importsAFileItWrote()
{
    const Imported i = import(formatListFile({kSn, QStringLiteral("28 00 00 3B 05 00 00 9C"), kSn}));
    QVERIFY(!i.result.failed);
    QCOMPARE(i.ChennelNum, qint16(3));
    QCOMPARE(i.SnList[2], QStringLiteral("28 00 00 3B 05 00 00 9C"));
    QCOMPARE(i.result.sn, QStringLiteral("本次共导入3个序列号\r\n\"28 FF 4A 3B 05 00 00 9C\"\r\n"
                                         "\"28 00 00 3B 05 00 00 9C\" [无效]\r\n\"28 FF 4A 3B 05 00 00 9C\"\r\n"));
    QCOMPARE(i.result.showId, QStringLiteral(" \r\n01\r\n02\r\n03\r\n"));
    QVERIFY(i.result.proof);
    QCOMPARE((*i.result.proof)[0], QStringLiteral("28"));
    QCOMPARE((*i.result.proof)[7], QStringLiteral("9C"));
}

void tst_listfile::countZero()
{
    const Imported kept = import("0\r\n", kSn);
    QVERIFY(!kept.result.failed);
    QCOMPARE(kept.result.sn, QStringLiteral("本次共导入0个序列号\r\n"));
    QCOMPARE((*kept.result.proof)[1], QStringLiteral("FF"));
    const Imported empty = import("0\r\n");
    QVERIFY(empty.result.failed); // no entry 1 for the proof-reading boxes
    QCOMPARE(empty.ChennelNum, qint16(0));
}

void tst_listfile::fewerEntriesThanTheCount()
{
    const Imported i = import("5\r\n\"" + kSn.toLatin1() + "\"\r\n\"" + kSn.toLatin1() + "\"\r\n\""
                              + kSn.toLatin1() + "\"\r\n");
    QVERIFY(i.result.failed);
    QCOMPARE(i.ChennelNum, qint16(5));
    QCOMPARE(i.result.sn.count(QStringLiteral("\r\n")), 4);
    QVERIFY(!i.result.proof);
}

void tst_listfile::entryTooShort()
{
    const Imported i = import("2\r\n\"28 FF\"\r\n\"" + kSn.toLatin1() + "\"\r\n");
    QVERIFY(i.result.failed);
    QCOMPARE(i.SnList[1], QStringLiteral("28 FF")); // read, numbered, not shown
    QCOMPARE(i.result.showId, QStringLiteral(" \r\n01\r\n"));
    QCOMPARE(i.result.sn, QStringLiteral("本次共导入2个序列号\r\n"));
}

void tst_listfile::moreThan128Entries()
{
    QStringList entries;
    for (int k = 0; k < 130; ++k)
        entries << kSn;
    const Imported i = import(formatListFile(entries));
    QVERIFY(i.result.failed);
    QCOMPARE(i.ChennelNum, qint16(130));
    QCOMPARE(i.SnList[128], kSn);
    QCOMPARE(i.result.showId.count(QStringLiteral("\r\n")), 129);
}

void tst_listfile::badFirstItems_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("empty file") << QByteArray();
    QTest::newRow("not a number") << QByteArray("abc\r\n");
    QTest::newRow("not whole") << QByteArray("2.5\r\n");
    QTest::newRow("negative count") << QByteArray("-5\r\n\"28 FF 4A 3B 05 00 00 9C\"\r\n");
    QTest::newRow("two billion") << QByteArray("2000000000\r\n\"28 FF 4A 3B 05 00 00 9C\"\r\n");
    QTest::newRow("binary") << QByteArray::fromHex("00FF7F80FE0D0A2C22");
}

void tst_listfile::badFirstItems()
{
    QFETCH(QByteArray, text);
    const Imported i = import(text);
    QVERIFY(i.result.failed);
    QCOMPARE(i.ChennelNum, qint16(-99)); // unchanged
    QVERIFY(i.result.sn.isEmpty());
}

void tst_listfile::hostileFilesEndQuickly_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("a million-character line") << "3\r\n" + QByteArray(1000000, 'A') + "\r\n";
    QTest::newRow("a million characters in quotes") << "3\r\n\"" + QByteArray(1000000, ' ') + "\"\r\n";
    QTest::newRow("unbalanced quote over a megabyte") << "1\r\n\"" + QByteArray(1 << 20, ',');
    QTest::newRow("random bytes") << [] {
        QByteArray b("100\r\n");
        quint32 x = 12345;
        for (int i = 0; i < 200000; ++i) {
            x = x * 1103515245u + 12345u;
            b.append(char(x >> 24));
        }
        return b;
    }();
}

void tst_listfile::hostileFilesEndQuickly()
{
    QFETCH(QByteArray, text);
    const Imported i = import(text);
    QVERIFY(i.result.failed);
    QVERIFY(i.result.sn.size() < 200000); // nothing huge reaches the pane
}

void tst_listfile::fiftyMegabytesAreNotRead()
{
    QTemporaryFile file;
    QVERIFY(file.open());
    file.write(formatListFile({kSn, kSn}));
    const QByteArray chunk(1 << 20, 'x');
    for (int i = 0; i < 50; ++i)
        file.write(chunk);
    file.flush();
    file.seek(0);
    std::array<QString, 129> SnList;
    qint16 ChennelNum = 0;
    const ListImport result = importListFile(file, SnList, ChennelNum);
    QVERIFY(!result.failed);
    QCOMPARE(ChennelNum, qint16(2));
    QVERIFY(file.pos() <= 128 * 1024); // stopped after the entries it needed
}

QTEST_APPLESS_MAIN(tst_listfile)
#include "tst_listfile.moc"
