// The sensor tab's checks of the codes it shows and writes, and the sensor
// map noticing a replaced sensor: against vxsim's codes (some with a wrong
// CRC-8) and against list files with faults.
#include "DeviceWindow.h"
#include "TestWindow.h"
#include "window/handlers/PortSettings.h"
#include "core/sensors/ListFile.h"
#include "core/sensors/RomCode.h"
#include "core/store/ReadingStore.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextEdit>
#include <QTimer>
#include <QtTest>

using namespace vx;
using namespace vx::test;

class tst_sensorcheck : public QObject {
    Q_OBJECT
private slots:
    void badCodesFromTheBusAreMarked();
    void replacedSensorIsReportedOnce();
    void listWithFaultsIsNotWrittenByDefault();
};

namespace {
bool startSimulator(QProcess &sim, const QString &link, const QStringList &options)
{
    sim.start(QStringLiteral(VXSIM_PATH), QStringList{"--link", link} + options);
    return sim.waitForReadyRead(5000) && QFileInfo::exists(link);
}

void stop(QProcess &sim)
{
    sim.terminate();
    sim.waitForFinished(3000);
}

struct Line {
    QString code;
    bool marked = false;
    QString toolTip;
};

// The code lines of txtSn, with how each is drawn.
QList<Line> codeLines(QTextEdit *pane)
{
    static const QRegularExpression code(QStringLiteral("\"([0-9A-F]{2}(?: [0-9A-F]{2}){7})\""));
    QList<Line> lines;
    for (QTextBlock b = pane->document()->begin(); b.isValid(); b = b.next()) {
        const auto m = code.match(b.text());
        if (!m.hasMatch())
            continue;
        QTextCursor c(b);
        c.movePosition(QTextCursor::NextCharacter);
        const QTextCharFormat f = c.charFormat();
        lines.append({m.captured(1), f.foreground().color() == QColor(200, 0, 0), f.toolTip()});
    }
    return lines;
}

void readChannel(DeviceWindow &dw, int sensors)
{
    dw.box("txtStationID")->setText(QStringLiteral("1"));
    dw.box("txtChnId")->setText(QStringLiteral("1"));
    dw.box("TXTsensorID")->setText(QString::number(sensors));
    dw.click("cmdReadSensorID");
}

QString summary(frmMain &w)
{
    return w.findChild<QLabel *>(QStringLiteral("sensorCodeSummary"))->text();
}
} // namespace

void tst_sensorcheck::badCodesFromTheBusAreMarked()
{
    QTemporaryDir dir;
    QProcess sim;
    const QString link = dir.filePath(QStringLiteral("bus"));
    QVERIFY(startSimulator(sim, link, {"--addresses", "1", "--sensors", "12", "--bad-codes", "0.4", "--seed", "7"}));
    DeviceWindow dw(link, dir.path());
    frmMain &w = *dw;
    readChannel(dw, 12);
    auto *sn = w.findChild<QTextEdit *>(QStringLiteral("txtSn"));
    QTRY_COMPARE(codeLines(sn).size(), 12);
    int bad = 0;
    for (const Line &line : codeLines(sn)) {
        const QByteArray code = *romCodeOfText(line.code);
        const bool crcWrong = dallasCrc8(code.left(7)) != quint8(code[7]); // worked out here, not by the window
        bad += crcWrong;
        QCOMPARE(line.marked, crcWrong);
        QCOMPARE(line.toolTip.startsWith(QStringLiteral("CRC-8 校验错误")), crcWrong);
    }
    QVERIFY(bad > 0 && bad < 12);
    QCOMPARE(summary(w), QStringLiteral("序列号检查：良好 %1，CRC 错误 %2，未知器件族 0，重复 0").arg(12 - bad).arg(bad));
    QVERIFY(sn->toPlainText().count(QStringLiteral("\"")) == 24); // the text itself untouched
    stop(sim);
}

void tst_sensorcheck::replacedSensorIsReportedOnce()
{
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("bus"));
    QProcess sim;
    QVERIFY(startSimulator(sim, link, {"--addresses", "1", "--sensors", "4", "--seed", "1"}));
    DeviceWindow dw(link, dir.path());
    frmMain &w = *dw;
    auto *sn = w.findChild<QTextEdit *>(QStringLiteral("txtSn"));
    readChannel(dw, 4);
    QTRY_COMPARE(codeLines(sn).size(), 4);
    QStringList before;
    for (const Line &l : codeLines(sn))
        before << l.code;
    QVERIFY(!summary(w).contains(QStringLiteral("已更换")));
    stop(sim);

    // Other sensors on the same channel: the simulator again, with another seed.
    QProcess other;
    QVERIFY(startSimulator(other, link, {"--addresses", "1", "--sensors", "4", "--seed", "2"}));
    w.portSettings().Combo1_Click();
    QVERIFY(w.port().isOpen());
    sn->clear();
    readChannel(dw, 4);
    QTRY_COMPARE(codeLines(sn).size(), 4);
    QStringList after;
    for (const Line &l : codeLines(sn))
        after << l.code;
    QVERIFY(before != after);
    int replaced = 0;
    for (int i = 0; i < 4; ++i) {
        if (before[i] == after[i])
            continue;
        ++replaced;
        QVERIFY2(summary(w).contains(QStringLiteral("通道1 位置%1 传感器已更换: %2 → %3")
                                         .arg(i + 1, 2, 10, QLatin1Char('0'))
                                         .arg(before[i], after[i])),
                 qPrintable(summary(w)));
    }
    // Read once more: nothing new to report, and the store holds each replacement once.
    readChannel(dw, 4);
    QTRY_VERIFY(!summary(w).contains(QStringLiteral("已更换")));
    QString why;
    const auto store = ReadingStore::open(*parseStoreLocation(dir.filePath(QStringLiteral("vxmon.db")), &why), QString(), &why);
    QVERIFY(store);
    int events = 0;
    for (const StoreEvent &e : store->events(0, QDateTime::currentMSecsSinceEpoch() + 1000))
        events += e.kind == QLatin1String("sensor_replaced");
    QCOMPARE(events, replaced);
    QCOMPARE(store->sensorMap().size(), 4);
    QCOMPARE(store->sensorMap()[0].code, after[0]);
    stop(other);
}

// A list with a bad code and a duplicate: shown marked; before the first
// write the operator is told which positions, and the default is to stop.
void tst_sensorcheck::listWithFaultsIsNotWrittenByDefault()
{
    TestWindow t;
    const QString good1 = QStringLiteral("28 FF 4A 3B 05 00 00 F5");
    const QString good2 = QStringLiteral("28 FF 4A 3B 01 00 00 6B");
    const QByteArray file = formatListFile({good1, QStringLiteral("28 FF 4A 3B 02 00 00 00"), good2, good1});
    const QString path = t.path(QStringLiteral("txt/faulty.txt"));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(file);
    f.close();
    t.dialogs().openAnswers << path;
    t.click(QStringLiteral("cmdOpenFile"));
    QCOMPARE(t.text(QStringLiteral("sensorCodeSummary")),
             QStringLiteral("序列号检查：良好 2，CRC 错误 1，未知器件族 0，重复 1"));
    const QList<Line> lines = codeLines(t.find<QTextEdit>(QStringLiteral("txtSn")));
    QCOMPARE(lines.size(), 4);
    QCOMPARE(lines[1].marked, true);
    QCOMPARE(lines[3].toolTip, QStringLiteral("重复：与位置01相同"));
    QVERIFY(!lines[0].marked && !lines[2].marked);

    using Writer = std::function<void()>;
    const QList<std::pair<const char *, Writer>> writers{
        {"first", [&] { t.click(QStringLiteral("cmdFirst")); }},
        {"next", [&] { t.click(QStringLiteral("cmdWriteNext")); }},
        {"automatic", [&] { t.click(QStringLiteral("cmdWriteAllSn")); }},
    };
    for (const auto &[name, write] : writers) {
        t.dialogs().boxes.clear();
        t.dialogs().answer = BoxResult::Cancel; // what Enter does: the default button
        write();
        QCOMPARE(t.dialogs().boxes.size(), 1);
        const Box &box = t.dialogs().boxes.first();
        QVERIFY2(box.cancelIsDefault && box.buttons == BoxButtons::OkCancel, name);
        QVERIFY(box.text.contains(QStringLiteral("位置02：CRC-8 校验错误：末字节 00，应为 ")));
        QVERIFY(box.text.contains(QStringLiteral("位置04：重复：与位置01相同")));
        QVERIFY2(t.port().written.isEmpty(), name);
        QVERIFY(!t.find<QTimer>(QStringLiteral("Timer5"))->isActive());
    }
    // Chosen: written as it stands, and not asked again for this list.
    t.dialogs().boxes.clear();
    t.dialogs().answer = BoxResult::Ok;
    t.click(QStringLiteral("cmdFirst"));
    QCOMPARE(t.dialogs().boxes.size(), 1);
    QVERIFY(!t.port().written.isEmpty());
    t.click(QStringLiteral("cmdWriteNext"));
    QCOMPARE(t.dialogs().boxes.size(), 1);
    // The list file is never changed.
    QFile again(path);
    QVERIFY(again.open(QIODevice::ReadOnly));
    QCOMPARE(again.readAll(), file);
}

QTEST_MAIN(tst_sensorcheck)
#include "tst_sensorcheck.moc"
