#include "TestWindow.h"
#include "core/sensors/ListFile.h"
#include "core/sensors/RomCode.h"
#include "window/handlers/SensorReading.h"
#include "window/handlers/SensorWriting.h"

#include <QFile>
#include <QTextEdit>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>
#include <QTemporaryDir>

#include <sys/stat.h>

using namespace vx;
using namespace vx::test;

namespace {
const QByteArray kGood = QByteArray::fromHex("28FF4A3B0500009C");

QByteArray serialReply(quint8 address, const QList<QByteArray> &serials)
{
    QByteArray r;
    r.append(char(address)).append(char(0x22)).append(char(0x02));
    for (const QByteArray &s : serials)
        r += s;
    return withCrc(r);
}

// Entry k of a list: a real ROM code (its CRC-8 right), a different serial for each k.
QByteArray entry(int k)
{
    QByteArray e = kGood;
    e[4] = char(k);
    e[7] = char(dallasCrc8(e.left(7)));
    return e;
}

QString entryText(int k)
{
    return serialText(entry(k));
}

// Writes a list file of n entries and has the window import it.
void importList(TestWindow &t, int n)
{
    QStringList entries;
    for (int k = 1; k <= n; ++k)
        entries << entryText(k);
    const QString path = t.path(QStringLiteral("txt/list%1.txt").arg(n));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(formatListFile(entries));
    f.close();
    t.dialogs().openAnswers << path;
    t.click(QStringLiteral("cmdOpenFile"));
}

QTextEdit *pane(TestWindow &t, const char *name)
{
    return t.find<QTextEdit>(QString::fromLatin1(name));
}

// The colour and weight at the start of line n of a pane.
QTextCharFormat formatAtLine(QTextEdit *edit, int line)
{
    QTextCursor c(edit->document()->findBlockByNumber(line));
    c.movePosition(QTextCursor::NextCharacter);
    return c.charFormat();
}

QList<int> writtenPositions(TestWindow &t)
{
    QList<int> positions;
    for (const QByteArray &w : t.port().written)
        if (w.size() == 15)
            positions << quint8(w[4]);
    return positions;
}
} // namespace

class tst_sensors : public QObject {
    Q_OBJECT
private slots:
    void readRequestAndReply();
    void readStopsThePeriodicQuery();
    void saveWritesTheList_data();
    void saveWritesTheList();
    void saveRefusesABadCount();
    void searchRequestAndReply();
    void searchNeedsAChannel();
    void clearEmptiesOnlyTheSerialPane();
    void importShowsEntries();
    void importFailureAndCancel();
    void listFilesThatAreNoRegularFiles();
    void firstAndNextWrapAround();
    void nextStopsAtSensorMaxAndTheLimit();
    void nextWithoutAList();
    void writeRefusesABadBox();
    void writeReplyLines();
    void automaticWritingRunsThroughTheList();
    void automaticWritingStopsAfterPosition18();
    void automaticWritingRefusesABadPeriod();
    void readInAdvancesThePosition_data();
    void readInAdvancesThePosition();
    void readInNeedsAChannel();
};

void tst_sensors::readRequestAndReply()
{
    TestWindow t;
    t.setText(QStringLiteral("txtStationID"), QStringLiteral("2"));
    t.setText(QStringLiteral("txtChnId"), QStringLiteral("01"));
    t.setText(QStringLiteral("TXTsensorID"), QStringLiteral("3"));
    pane(t, "txtShowID")->hide();
    t.click(QStringLiteral("cmdReadSensorID"));
    QCOMPARE(t.written(), withCrc(QByteArray::fromHex("022202010003")));
    QCOMPARE(t.form().CmdKind, Kind::ReadSerials);
    QCOMPARE(t.form().RecLen, qint16(29));
    QCOMPARE(t.form().CmdLenth, qint16(29));
    QCOMPARE(t.port().threshold(), 29);
    QCOMPARE(t.port().inputLength(), 29);
    QCOMPARE(t.text(QStringLiteral("txtState")), kWaitingText());
    QVERIFY(!pane(t, "txtShowID")->isHidden());

    const QByteArray reply = serialReply(2, {kGood, QByteArray::fromHex("10FF4A3B0500009C"), kGood});
    t.receive(reply + QByteArray::fromHex("0203")); // beyond the reply: not taken
    QCOMPARE(t.text(QStringLiteral("txtState")), RecHex(reply));
    QCOMPARE(pane(t, "txtSn")->toPlainText(),
             QStringLiteral("02#设备,通道01下：\n3\n\"28 FF 4A 3B 05 00 00 9C\"\n"
                            "\"10 FF 4A 3B 05 00 00 9C\"  [无效]\n\"28 FF 4A 3B 05 00 00 9C\"\n"));
    QCOMPARE(pane(t, "txtShowID")->toPlainText(), QStringLiteral("  \n\n01\n02\n03\n"));
    QCOMPARE(t.form().FoundSn[1], QStringLiteral("10 FF 4A 3B 05 00 00 9C"));
    QCOMPARE(t.form().CmdKind, Kind::Measurement);
    QCOMPARE(t.port().bytesWaiting(), 0);
}

void tst_sensors::readStopsThePeriodicQuery()
{
    TestWindow t;
    t.click(QStringLiteral("cmdOneM"));
    QVERIFY(t.find<QTimer>(QStringLiteral("Timer2"))->isActive());
    t.setText(QStringLiteral("TXTsensorID"), QStringLiteral("256"));
    t.click(QStringLiteral("cmdReadSensorID"));
    QVERIFY(!t.find<QTimer>(QStringLiteral("Timer2"))->isActive());
    QCOMPARE(t.dialogs().texts(), QStringList{QStringLiteral("你输入的读取总数超出范围,正确的值应该为0-255!")});
    QVERIFY(t.port().written.isEmpty());
}

void tst_sensors::saveWritesTheList_data()
{
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("written");
    QTest::newRow("list.txt") << "list.txt" << "list.txt";
    QTest::newRow("list") << "list" << "list.txt";
    QTest::newRow("list.TXT") << "list.TXT" << "list.TXT.txt";
}

void tst_sensors::saveWritesTheList()
{
    QFETCH(QString, chosen);
    QFETCH(QString, written);
    TestWindow t;
    t.form().FoundSn[0] = entryText(1);
    t.form().FoundSn[2] = entryText(3);
    t.setText(QStringLiteral("TXTsensorID"), QStringLiteral("3"));
    t.dialogs().saveAnswers << t.path(QStringLiteral("txt/") + chosen);
    t.click(QStringLiteral("cmdSaveSn"));
    QCOMPARE(t.dialogs().saveRequests.first().directory, t.path(QStringLiteral("txt")));
    QCOMPARE(t.fileText(QStringLiteral("txt/") + written),
             QStringLiteral("3\r\n\"%1\"\r\n\"\"\r\n\"%2\"\r\n").arg(entryText(1), entryText(3)));
    QVERIFY(t.dialogs().boxes.isEmpty());
}

void tst_sensors::saveRefusesABadCount()
{
    TestWindow t;
    for (const char *count : {"66", "2.5", "x", "-1"}) {
        t.setText(QStringLiteral("TXTsensorID"), QString::fromLatin1(count));
        t.click(QStringLiteral("cmdSaveSn"));
    }
    QCOMPARE(t.dialogs().boxes.size(), 4);
    QCOMPARE(t.dialogs().lastText(), QStringLiteral("你输入的读取总数格式有误,正确的值应该为0-65的整数!"));
    QVERIFY(t.dialogs().saveRequests.isEmpty());
    // Cancelling the dialog writes nothing.
    t.setText(QStringLiteral("TXTsensorID"), QStringLiteral("0"));
    t.click(QStringLiteral("cmdSaveSn"));
    QCOMPARE(t.dialogs().saveRequests.size(), 1);
    QVERIFY(QDir(t.path(QStringLiteral("txt"))).isEmpty());
}

void tst_sensors::searchRequestAndReply()
{
    TestWindow t;
    t.setText(QStringLiteral("txtStationID"), QStringLiteral("2"));
    t.setText(QStringLiteral("txtSearchChannel"), QStringLiteral("1"));
    t.setText(QStringLiteral("txtSearchNum"), QStringLiteral("4"));
    t.click(QStringLiteral("cmdAutoSearch"));
    const QByteArray frame = withCrc(QByteArray::fromHex("02060C010104"));
    QCOMPARE(t.written(), frame + QByteArray(1, '\0'));
    QCOMPARE(t.text(QStringLiteral("txtCommand")), HexText(frame));
    QCOMPARE(t.port().threshold(), 9);
    QCOMPARE(t.form().CmdLenth, qint16(9));
    QVERIFY(pane(t, "txtShowID")->isHidden());

    t.receive(withCrc(QByteArray::fromHex("02060C03001205")));
    QTextEdit *sn = pane(t, "txtSn");
    QCOMPARE(sn->toPlainText(), QStringLiteral("02#设备下：\n通道1 发现传感器个数为：03\n通道2 发现传感器个数为：00\n"
                                               "通道3 发现传感器个数为：18\n通道4 发现传感器个数为：05\n"));
    QVERIFY(sn->document()->defaultFont().bold()); // the header stays in the bold base font
    QCOMPARE(pane(t, "txtShowID")->font(), sn->font()); // numbers keep the lines' height
    QVERIFY(!formatAtLine(sn, 0).hasProperty(QTextFormat::FontWeight));
    QCOMPARE(formatAtLine(sn, 1).foreground().color(), QColor(0, 0, 255));
    QCOMPARE(formatAtLine(sn, 4).fontWeight(), int(QFont::Normal));
    QVERIFY(formatAtLine(sn, 0).foreground().color() != QColor(0, 0, 255));
    QCOMPARE(t.form().CmdKind, Kind::Measurement);
}

void tst_sensors::searchNeedsAChannel()
{
    TestWindow t;
    t.setText(QStringLiteral("txtSearchChannel"), QStringLiteral("0"));
    t.click(QStringLiteral("cmdAutoSearch"));
    QCOMPARE(t.dialogs().texts(), QStringList{QStringLiteral("请指定正确的模块及通道编号")});
    QVERIFY(t.port().written.isEmpty());
    QCOMPARE(t.form().CmdKind, Kind::Search);
}

void tst_sensors::clearEmptiesOnlyTheSerialPane()
{
    TestWindow t;
    t.setText(QStringLiteral("TXTsensorID"), QStringLiteral("1"));
    t.click(QStringLiteral("cmdReadSensorID"));
    t.receive(serialReply(1, {kGood}));
    t.click(QStringLiteral("cmdClearSn"));
    QCOMPARE(pane(t, "txtSn")->toPlainText(), QString());
    QCOMPARE(pane(t, "txtShowID")->toPlainText(), QStringLiteral("  \n\n01\n"));
}

void tst_sensors::importShowsEntries()
{
    TestWindow t;
    importList(t, 3);
    QCOMPARE(t.dialogs().openRequests.first().title, QStringLiteral("打开文件"));
    QCOMPARE(t.dialogs().openRequests.first().directory, t.path(QStringLiteral("txt")));
    QVERIFY(t.dialogs().boxes.isEmpty());
    QCOMPARE(t.form().ChennelNum, qint16(3));
    QCOMPARE(pane(t, "txtSn")->toPlainText(),
             QStringLiteral("本次共导入3个序列号\n\"%1\"\n\"%2\"\n\"%3\"\n").arg(entryText(1), entryText(2), entryText(3)));
    QCOMPARE(pane(t, "txtShowID")->toPlainText(), QStringLiteral(" \n01\n02\n03\n"));
    QStringList boxes;
    for (int i = 0; i < 8; ++i)
        boxes << t.text(QStringLiteral("txtSenseSn_%1").arg(i));
    QCOMPARE(boxes.join(QLatin1Char(' ')), entryText(1));
    QVERIFY(!pane(t, "txtSn")->font().bold());
    QCOMPARE(pane(t, "txtShowID")->font(), pane(t, "txtSn")->font());
}

void tst_sensors::importFailureAndCancel()
{
    TestWindow t;
    t.click(QStringLiteral("cmdOpenFile")); // cancelled
    QVERIFY(t.dialogs().boxes.isEmpty());
    QCOMPARE(t.form().ChennelNum, qint16(0));

    t.dialogs().openAnswers << t.path(QStringLiteral("txt/missing.txt"));
    t.click(QStringLiteral("cmdOpenFile"));
    QCOMPARE(t.dialogs().texts(), QStringList{QStringLiteral("输入的文件数据格式有误！请检查")});

    QFile f(t.path(QStringLiteral("txt/short.txt")));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("5\r\n\"" + entryText(1).toLatin1() + "\"\r\n");
    f.close();
    t.dialogs().openAnswers << f.fileName();
    t.click(QStringLiteral("cmdOpenFile"));
    QCOMPARE(t.dialogs().boxes.size(), 2);
    QCOMPARE(t.form().ChennelNum, qint16(5));
    QCOMPARE(t.text(QStringLiteral("txtSenseSn_0")), QStringLiteral("40")); // not filled
}

// A FIFO picked for import is unreadable, not waited on; a list is never
// saved through a link that leads out of the program directory.
void tst_sensors::listFilesThatAreNoRegularFiles()
{
    TestWindow t;
    const QString fifo = t.path(QStringLiteral("txt/fifo.txt"));
    QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0644) == 0);
    t.dialogs().openAnswers << fifo;
    t.click(QStringLiteral("cmdOpenFile"));
    QCOMPARE(t.dialogs().texts(), QStringList{QStringLiteral("输入的文件数据格式有误！请检查")});

    QTemporaryDir elsewhere;
    const QString target = elsewhere.filePath(QStringLiteral("victim.txt"));
    QFile victim(target);
    QVERIFY(victim.open(QIODevice::WriteOnly));
    victim.write("keep\r\n");
    victim.close();
    const QString link = t.path(QStringLiteral("txt/saved.txt"));
    QVERIFY(QFile::link(target, link));
    t.receive(serialReply(1, {kGood}));
    t.dialogs().saveAnswers << link;
    t.setText(QStringLiteral("TXTsensorID"), QStringLiteral("1"));
    t.click(QStringLiteral("cmdSaveSn"));
    QVERIFY(t.dialogs().lastText().startsWith(QStringLiteral("无法写入文件")));
    QVERIFY(victim.open(QIODevice::ReadOnly));
    QCOMPARE(victim.readAll(), QByteArray("keep\r\n"));
}

void tst_sensors::firstAndNextWrapAround()
{
    TestWindow t;
    t.setText(QStringLiteral("txtStationID"), QStringLiteral("2"));
    importList(t, 5);
    t.click(QStringLiteral("cmdFirst"));
    QCOMPARE(t.written(), withCrc(QByteArray::fromHex("02220C0101") + entry(1)));
    QCOMPARE(t.port().threshold(), 13);
    QCOMPARE(t.form().RecLen, qint16(14));
    QCOMPARE(t.form().CmdKind, Kind::WriteSerial);
    for (int i = 0; i < 5; ++i)
        t.click(QStringLiteral("cmdWriteNext"));
    QCOMPARE(writtenPositions(t), QList<int>({1, 2, 3, 4, 5, 1}));
    QCOMPARE(quint8(t.written()[9]), quint8(1)); // entry 1 again (its serial byte 4)
    QCOMPARE(t.text(QStringLiteral("txtObjSensorid")), QStringLiteral("1"));
}

void tst_sensors::nextStopsAtSensorMaxAndTheLimit()
{
    TestWindow t;
    importList(t, 30);
    t.setText(QStringLiteral("txtObjSensorid"), QStringLiteral("18"));
    t.click(QStringLiteral("cmdWriteNext"));
    QCOMPARE(t.text(QStringLiteral("txtObjSensorid")), QStringLiteral("1"));
    QVERIFY(t.port().written.isEmpty());

    t.setText(QStringLiteral("txtObjSensorid"), QStringLiteral("150"));
    t.dialogs().answer = BoxResult::Cancel;
    t.click(QStringLiteral("cmdWriteNext"));
    QCOMPARE(t.dialogs().lastText(), QStringLiteral("已是最后一个了"));
    QCOMPARE(t.dialogs().boxes.last().buttons, BoxButtons::OkCancel);
    QCOMPARE(t.text(QStringLiteral("txtObjSensorid")), QStringLiteral("150"));
    QVERIFY(t.port().written.isEmpty());
}

void tst_sensors::nextWithoutAList()
{
    TestWindow t;
    t.click(QStringLiteral("cmdFirst")); // nothing imported: does nothing
    QVERIFY(t.dialogs().boxes.isEmpty());
    t.click(QStringLiteral("cmdWriteNext"));
    QCOMPARE(t.dialogs().texts(), QStringList{QStringLiteral("请按正确的格式，先导入正确的传感器序列号")});
    QVERIFY(t.port().written.isEmpty());
}

void tst_sensors::writeRefusesABadBox()
{
    TestWindow t;
    importList(t, 2);
    t.form().SnList[1] = QStringLiteral("28 FF 4A 3B 05 00 00 XZ");
    t.click(QStringLiteral("cmdFirst"));
    // The list's own check names the entry first; written as it stands, the box's format is refused.
    QCOMPARE(t.dialogs().texts().size(), 2);
    QVERIFY(t.dialogs().texts()[0].contains(QStringLiteral("位置01：不是 8 字节的序列号")));
    QCOMPARE(t.dialogs().texts()[1], QStringLiteral("你输入的序列号第8个字节格式有误,正确的值应该为00-FF!"));
    QVERIFY(t.port().written.isEmpty());
}

void tst_sensors::writeReplyLines()
{
    TestWindow t;
    importList(t, 2);
    t.setText(QStringLiteral("txtObjChannelID"), QStringLiteral("1"));
    t.click(QStringLiteral("cmdFirst"));
    t.receive(withCrc(QByteArray::fromHex("01220C") + kGood));
    QTextEdit *sn = pane(t, "txtSn");
    QCOMPARE(formatAtLine(sn, 3).foreground().color(), QColor(0, 0, 255));
    QCOMPARE(formatAtLine(sn, 3).fontWeight(), int(QFont::Normal));
    t.setText(QStringLiteral("txtObjSensorid"), QStringLiteral("5"));
    t.click(QStringLiteral("cmdWriteNext")); // position 6 > 2 entries: back to entry 1
    t.setText(QStringLiteral("txtObjSensorid"), QStringLiteral("5"));
    t.receive(withCrc(QByteArray::fromHex("01220C00") + kGood.mid(1)));
    const QStringList lines = sn->toPlainText().split(QLatin1Char('\n'));
    QCOMPARE(lines.mid(3, 2), QStringList({"导入到 01通道 01#位置 [成功]", "导入到 01通道 05#位置 [失败]"}));
    QCOMPARE(formatAtLine(sn, 4).foreground().color(), QColor(255, 0, 0));
    // Rewritten whole: the earlier success line lost its blue.
    QVERIFY(formatAtLine(sn, 3).foreground().color() != QColor(0, 0, 255));
    QCOMPARE(t.form().CmdKind, Kind::Measurement);
}

void tst_sensors::automaticWritingRunsThroughTheList()
{
    TestWindow t;
    importList(t, 5);
    t.setText(QStringLiteral("txtTimer5"), QStringLiteral("10"));
    t.click(QStringLiteral("cmdWriteAllSn"));
    QCOMPARE(t.text(QStringLiteral("txtObjSensorid")), QStringLiteral("0"));
    QCOMPARE(pane(t, "txtSn")->toPlainText(), QString());
    QTRY_COMPARE(t.dialogs().texts(), QStringList{QStringLiteral("操作结束")});
    QCOMPARE(t.dialogs().boxes.last().buttons, BoxButtons::OkCancel);
    QVERIFY(!t.find<QTimer>(QStringLiteral("Timer5"))->isActive());
    QCOMPARE(writtenPositions(t), QList<int>({1, 2, 3, 4, 5}));
}

void tst_sensors::automaticWritingStopsAfterPosition18()
{
    TestWindow t;
    importList(t, 30);
    t.click(QStringLiteral("cmdWriteAllSn"));
    for (int tick = 1; tick <= 19; ++tick)
        t.w().sensorWriting().Timer5_Timer();
    QVERIFY(t.dialogs().boxes.isEmpty()); // the 19th tick ends silently
    QCOMPARE(writtenPositions(t).size(), 18);
    QCOMPARE(writtenPositions(t).last(), 18);
    t.w().sensorWriting().Timer5_Timer();
    QCOMPARE(t.dialogs().texts(), QStringList{QStringLiteral("操作结束")});
    QVERIFY(!t.find<QTimer>(QStringLiteral("Timer5"))->isActive());
}

void tst_sensors::automaticWritingRefusesABadPeriod()
{
    TestWindow t;
    importList(t, 2);
    for (const char *period : {"0", "-5", "1.5", "abc"}) {
        t.setText(QStringLiteral("txtTimer5"), QString::fromLatin1(period));
        t.click(QStringLiteral("cmdWriteAllSn"));
        QVERIFY(!t.find<QTimer>(QStringLiteral("Timer5"))->isActive());
    }
    QCOMPARE(t.dialogs().boxes.size(), 4);
    // With no list, the start warns and the first tick ends the run.
    TestWindow empty;
    empty.click(QStringLiteral("cmdWriteAllSn"));
    QCOMPARE(empty.dialogs().texts(), QStringList{QStringLiteral("请按正确的格式，先导入正确的传感器序列号")});
    empty.w().sensorWriting().Timer5_Timer();
    QCOMPARE(empty.dialogs().lastText(), QStringLiteral("操作结束"));
    QVERIFY(empty.port().written.isEmpty());
}

void tst_sensors::readInAdvancesThePosition_data()
{
    QTest::addColumn<QString>("position");
    QTest::addColumn<int>("sent");
    QTest::addColumn<QString>("next");
    QTest::newRow("1") << "1" << 1 << "2";
    QTest::newRow("18 wraps") << "18" << 18 << "1";
    QTest::newRow("25 typed") << "25" << 25 << "1";
}

void tst_sensors::readInAdvancesThePosition()
{
    QFETCH(QString, position);
    QFETCH(int, sent);
    QFETCH(QString, next);
    TestWindow t;
    t.setText(QStringLiteral("txtStationID"), QStringLiteral("2"));
    t.setText(QStringLiteral("txtSensorReadID"), position);
    t.click(QStringLiteral("cmdAutoInput"));
    QByteArray payload = QByteArray::fromHex("022201010004");
    payload[4] = char(sent);
    QCOMPARE(t.written(), withCrc(payload));
    QCOMPARE(t.port().threshold(), 13);
    QCOMPARE(t.form().CmdLenth, qint16(13));
    QCOMPARE(t.form().CmdKind, Kind::ReadIn);
    QCOMPARE(t.text(QStringLiteral("txtSensorReadID")), next);
    // The answer is only shown and logged.
    t.receive(withCrc(QByteArray::fromHex("022201") + kGood));
    QCOMPARE(t.form().CmdKind, Kind::Measurement);
}

void tst_sensors::readInNeedsAChannel()
{
    TestWindow t;
    t.setText(QStringLiteral("txtObjChnid"), QStringLiteral("0"));
    t.setText(QStringLiteral("txtSensorReadID"), QStringLiteral("4"));
    t.click(QStringLiteral("cmdAutoInput"));
    QCOMPARE(t.dialogs().texts(), QStringList{QStringLiteral("请指定正确的模块及通道编号")});
    QCOMPARE(t.text(QStringLiteral("txtSensorReadID")), QStringLiteral("4"));
    QVERIFY(t.port().written.isEmpty());
    // With the port closed the position still advances.
    t.port().close();
    t.setText(QStringLiteral("txtObjChnid"), QStringLiteral("1"));
    t.click(QStringLiteral("cmdAutoInput"));
    QCOMPARE(t.text(QStringLiteral("txtSensorReadID")), QStringLiteral("5"));
    QCOMPARE(t.w().indicator(), Indicator::NotConnected);
}

QTEST_MAIN(tst_sensors)
#include "tst_sensors.moc"
