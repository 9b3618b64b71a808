#include "TestWindow.h"
#include "window/widgets/ListCombo.h"

#include <QFile>
#include <QLineEdit>

using namespace vx;
using namespace vx::test;

namespace {
void choose(ListCombo *combo, int index)
{
    combo->setCurrentIndex(index);
    emit combo->activated(index);
}

void type(ListCombo *combo, const QString &text)
{
    combo->lineEdit()->clear();
    QTest::keyClicks(combo->lineEdit(), text);
}
} // namespace

class tst_portsettings : public QObject {
    Q_OBJECT
private slots:
    void choosingAPortReopensItWithTheSavedRate();
    void saveWritesCommSetAndOpens();
    void typedPortIsNoSelection();
    void typedRateSavesTheFirstItem();
    void portHeldByAnotherProgram();
    void unopenablePortIsStillSaved();
    void failedSaveIsNotReportedAsSuccess();
};

void tst_portsettings::choosingAPortReopensItWithTheSavedRate()
{
    TestWindow t; // comm.set 1,9600
    auto *combo2 = t.find<ListCombo>(QStringLiteral("Combo2"));
    choose(combo2, 3); // 19200 shown, but only 保存设置 applies it
    choose(t.find<ListCombo>(QStringLiteral("Combo1")), 4);
    QVERIFY(t.port().isOpen());
    QCOMPARE(t.port().opens.last().portNumber, 5);
    QCOMPARE(t.port().opens.last().settings, QStringLiteral("9600,N,8,1"));
    QCOMPARE(t.form().CommNum, qint16(5));
    QCOMPARE(t.form().StatFlag, qint16(-1));
    QCOMPARE(t.port().threshold(), 1);
    QCOMPARE(t.fileText(QStringLiteral("comm.set")), QStringLiteral("1,9600\r\n"));
    QVERIFY(t.dialogs().boxes.isEmpty());
    QCOMPARE(t.find<ListCombo>(QStringLiteral("Combo1"))->toolTip(), QStringLiteral("COM5 → /dev/ttyS4"));
}

void tst_portsettings::saveWritesCommSetAndOpens()
{
    TestWindow t;
    choose(t.find<ListCombo>(QStringLiteral("Combo1")), 2);
    choose(t.find<ListCombo>(QStringLiteral("Combo2")), 3);
    t.click(QStringLiteral("cmdCom"));
    QFile f(t.path(QStringLiteral("comm.set")));
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("3,19200\r\n"));
    QCOMPARE(t.port().opens.last().portNumber, 3);
    QCOMPARE(t.port().opens.last().settings, QStringLiteral("19200,N,8,1"));
    QCOMPARE(t.dialogs().texts(), QStringList{QStringLiteral("串口设置保存成功")});
    QCOMPARE(t.dialogs().boxes.last().title, QStringLiteral("系统提示"));
}

void tst_portsettings::typedPortIsNoSelection()
{
    TestWindow t;
    QVERIFY(t.port().isOpen());
    type(t.find<ListCombo>(QStringLiteral("Combo1")), QStringLiteral("COM99"));
    t.click(QStringLiteral("cmdCom"));
    QCOMPARE(t.dialogs().texts(), QStringList{QStringLiteral("请选择端口")});
    QCOMPARE(t.dialogs().boxes.last().title, t.dialogs().appTitle());
    QVERIFY(!t.port().isOpen()); // closed first, then the message
    QCOMPARE(t.fileText(QStringLiteral("comm.set")), QStringLiteral("1,9600\r\n"));
}

void tst_portsettings::typedRateSavesTheFirstItem()
{
    TestWindow t;
    choose(t.find<ListCombo>(QStringLiteral("Combo1")), 1);
    type(t.find<ListCombo>(QStringLiteral("Combo2")), QStringLiteral("38400"));
    t.click(QStringLiteral("cmdCom"));
    QCOMPARE(t.fileText(QStringLiteral("comm.set")), QStringLiteral("2,4800\r\n"));
    QCOMPARE(t.port().opens.last().settings, QStringLiteral("4800,N,8,1"));
}

void tst_portsettings::portHeldByAnotherProgram()
{
    TestWindow t;
    t.port().stuckOpen = true;
    choose(t.find<ListCombo>(QStringLiteral("Combo1")), 6);
    t.click(QStringLiteral("cmdCom"));
    QCOMPARE(t.dialogs().texts().last(), QStringLiteral("所选的串行端口已被其他设备所使用!"));
    QCOMPARE(t.dialogs().boxes.last().title, QStringLiteral("系统信息"));
    QCOMPARE(t.dialogs().boxes.last().icon, BoxIcon::Warning);
    QCOMPARE(t.fileText(QStringLiteral("comm.set")), QStringLiteral("1,9600\r\n"));
}

void tst_portsettings::unopenablePortIsStillSaved()
{
    TestWindow t;
    t.port().openable = false;
    choose(t.find<ListCombo>(QStringLiteral("Combo1")), 7);
    choose(t.find<ListCombo>(QStringLiteral("Combo2")), 0);
    t.dialogs().boxes.clear();
    t.click(QStringLiteral("cmdCom"));
    QVERIFY(!t.port().isOpen());
    QCOMPARE(t.form().StatFlag, qint16(-1));
    QCOMPARE(t.fileText(QStringLiteral("comm.set")), QStringLiteral("8,4800\r\n"));
    QCOMPARE(t.dialogs().texts(), QStringList{QStringLiteral("串口设置保存成功")});
    // The first query then finds the port closed.
    t.click(QStringLiteral("comDoOnce"));
    QCOMPARE(t.dialogs().lastText(), QStringLiteral("打开串口出错，请确定串口是否已被占用"));
    QCOMPARE(t.form().StatFlag, qint16(0));
}

void tst_portsettings::failedSaveIsNotReportedAsSuccess()
{
    TestWindow t;
    // A directory in place of the file makes the write fail.
    QFile::remove(t.path(QStringLiteral("comm.set")));
    QVERIFY(QDir(t.dir()).mkdir(QStringLiteral("comm.set")));
    choose(t.find<ListCombo>(QStringLiteral("Combo1")), 2);
    t.click(QStringLiteral("cmdCom"));
    QCOMPARE(t.dialogs().boxes.size(), 1);
    QVERIFY(t.dialogs().lastText().startsWith(QStringLiteral("串口设置保存失败")));
    QVERIFY(t.port().isOpen()); // the port is applied all the same
}

QTEST_MAIN(tst_portsettings)
#include "tst_portsettings.moc"
