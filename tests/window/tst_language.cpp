#include "TestWindow.h"
#include "window/Language.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

using namespace vx;
using namespace vx::test;

// The window in English and in Chinese: every text it shows goes through the
// translation, Chinese stays exactly as written, and what it writes to files
// does not change with the language.
class tst_language : public QObject {
    Q_OBJECT
private slots:
    void choose_data();
    void choose();
    void samples_data();
    void samples();
    void noChineseLeftInEnglish();
    void messageBoxes_data();
    void messageBoxes();
    void qtButtonsFollow();
    void filesDoNotChange();
    void cleanupTestCase() { installLanguage(Language::Chinese); }
};

void tst_language::choose_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("locale");
    QTest::addColumn<int>("language"); // -1: refused
    QTest::newRow("English system") << QStringList{"vxmon"} << "en_GB" << int(Language::English);
    QTest::newRow("Chinese system") << QStringList{"vxmon"} << "zh_CN" << int(Language::Chinese);
    QTest::newRow("Taiwan") << QStringList{"vxmon"} << "zh_TW" << int(Language::Chinese);
    QTest::newRow("no match: Chinese") << QStringList{"vxmon"} << "de_DE" << int(Language::Chinese);
    QTest::newRow("C locale") << QStringList{"vxmon"} << "C" << int(Language::Chinese);
    QTest::newRow("--lang en wins") << QStringList{"vxmon", "--lang", "en"} << "zh_CN" << int(Language::English);
    QTest::newRow("--lang=zh wins") << QStringList{"vxmon", "--lang=zh"} << "en_US" << int(Language::Chinese);
    QTest::newRow("with --viewer") << QStringList{"vxmon", "--viewer", "x.db", "--lang", "en"} << "zh_CN" << int(Language::English);
    QTest::newRow("bad") << QStringList{"vxmon", "--lang", "fr"} << "en_US" << -1;
    QTest::newRow("missing value") << QStringList{"vxmon", "--lang"} << "en_US" << -1;
}

void tst_language::choose()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, locale);
    QFETCH(int, language);
    QString why;
    const auto chosen = chooseLanguage(arguments, locale, &why);
    QCOMPARE(chosen.has_value(), language >= 0);
    if (chosen)
        QCOMPARE(int(*chosen), language);
    else
        QVERIFY(why.startsWith(QStringLiteral("--lang: ")));
}

namespace {
// The text a sample control shows: a button's, a label's, a group box's title, a tab's.
QString shown(TestWindow &t, const QString &name)
{
    if (name.startsWith(QLatin1String("tab:"))) {
        auto *tabs = t.find<QTabWidget>(QStringLiteral("SSTab2"));
        return tabs->tabText(name.mid(4).toInt());
    }
    if (name == QLatin1String("window"))
        return t.w().windowTitle();
    QObject *o = t.w().findChild<QObject *>(name);
    if (!o)
        return QStringLiteral("<no %1>").arg(name);
    if (auto *b = qobject_cast<QAbstractButton *>(o))
        return b->text();
    if (auto *g = qobject_cast<QGroupBox *>(o))
        return g->title();
    if (auto *l = qobject_cast<QLabel *>(o))
        return l->text();
    if (auto *e = qobject_cast<QLineEdit *>(o))
        return e->placeholderText();
    return QStringLiteral("<%1>").arg(QString::fromLatin1(o->metaObject()->className()));
}
} // namespace

void tst_language::samples_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("chinese");
    QTest::addColumn<QString>("english");
    QTest::newRow("title") << "window" << "VX7310K-42无线动态数据监测软件" << "VX7310K-42 Wireless Dynamic Data Monitor";
    QTest::newRow("port frame") << "Frame5" << "串口设置" << "Serial port";
    QTest::newRow("save port") << "cmdCom" << "保存设置" << "Save settings";
    QTest::newRow("cycle") << "cmdCicleAll" << "多模块循环" << "Cycle all devices";
    QTest::newRow("upload") << "Command1" << "主动上传模式" << "Active upload mode";
    QTest::newRow("footer") << "Label4" << "设备地址范围 1-245；串口格式：无校验，8 位数据位，1 位停止位。"
                            << "Device addresses 1-245; serial format: no parity, 8 data bits, 1 stop bit.";
    QTest::newRow("tab cables") << "tab:0" << "1-10#电缆" << "Cables 1-10";
    QTest::newRow("tab 31-40") << "tab:3" << "31-40#电缆" << "Cables 31-40";
    QTest::newRow("tab parameters") << "tab:4" << "单机参数设置" << "Device parameters";
    QTest::newRow("change address") << "cmdChangeID" << "执行" << "Apply";
    QTest::newRow("read parameter") << "cmdReadSet_1" << "读取" << "Read";
    QTest::newRow("tab sensors") << "tab:5" << "单机传感器设置" << "Device sensors";
    QTest::newRow("read serials") << "cmdReadSensorID" << "读序列号" << "Read serials";
    QTest::newRow("write all") << "cmdWriteAllSn" << "自动导入" << "Write all";
    QTest::newRow("tab about") << "tab:6" << "关于软件" << "About";
    QTest::newRow("tab overview") << "tab:7" << "粮情总览" << "Grain overview";
    QTest::newRow("tab alarms") << "tab:8" << "报警" << "Alarms";
    QTest::newRow("acknowledge all") << "acknowledgeAllAlarmsButton" << "全部确认" << "Acknowledge all";
    QTest::newRow("alarm settings") << "alarmSettingsButton" << "报警设置…" << "Alarm settings…";
    QTest::newRow("tab trends") << "tab:9" << "历史曲线" << "Trends";
    QTest::newRow("draw") << "trendDrawButton" << "绘制" << "Draw";
    QTest::newRow("tab report") << "tab:10" << "日报" << "Daily report";
    QTest::newRow("make report") << "reportMakeButton" << "生成" << "Make";
    QTest::newRow("tab store") << "tab:11" << "数据存储" << "Data store";
    QTest::newRow("export") << "exportCsvButton" << "导出CSV…" << "Export CSV…";
    QTest::newRow("export addresses") << "exportAddresses" << "全部，或如 1-36,40" << "All, or e.g. 1-36,40";
}

void tst_language::samples()
{
    QFETCH(QString, name);
    QFETCH(QString, chinese);
    QFETCH(QString, english);
    QVERIFY(installLanguage(Language::English));
    {
        TestWindow t;
        QCOMPARE(shown(t, name), english);
    }
    QVERIFY(installLanguage(Language::Chinese));
    TestWindow t;
    QCOMPARE(shown(t, name), chinese);
}

// No Chinese glyph on any control of any tab: a text left out of the
// translation shows up here by its name.
void tst_language::noChineseLeftInEnglish()
{
    QVERIFY(installLanguage(Language::English));
    TestWindow t;
    auto han = [](const QString &text) {
        for (const QChar c : text)
            if (c.script() == QChar::Script_Han)
                return true;
        return false;
    };
    QStringList found;
    const auto check = [&](QObject *o, const QString &what, const QString &text) {
        if (han(text))
            found << QStringLiteral("%1 (%2) %3: %4").arg(o->objectName(), QString::fromLatin1(o->metaObject()->className()), what, text);
    };
    for (QWidget *w : t.w().findChildren<QWidget *>()) {
        check(w, QStringLiteral("tool tip"), w->toolTip());
        check(w, QStringLiteral("title"), w->windowTitle());
        if (auto *b = qobject_cast<QAbstractButton *>(w))
            check(w, QStringLiteral("text"), b->text());
        if (auto *l = qobject_cast<QLabel *>(w))
            check(w, QStringLiteral("text"), l->text());
        if (auto *g = qobject_cast<QGroupBox *>(w))
            check(w, QStringLiteral("title"), g->title());
        if (auto *e = qobject_cast<QLineEdit *>(w)) {
            check(w, QStringLiteral("text"), e->text());
            check(w, QStringLiteral("placeholder"), e->placeholderText());
        }
        if (auto *c = qobject_cast<QComboBox *>(w))
            for (int i = 0; i < c->count(); ++i)
                check(w, QStringLiteral("item"), c->itemText(i));
        if (auto *tabs = qobject_cast<QTabWidget *>(w))
            for (int i = 0; i < tabs->count(); ++i)
                check(w, QStringLiteral("tab"), tabs->tabText(i));
    }
    check(&t.w(), QStringLiteral("window title"), t.w().windowTitle());
    QVERIFY2(found.isEmpty(), qPrintable(found.join(QLatin1Char('\n'))));
    installLanguage(Language::Chinese);
}

void tst_language::messageBoxes_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("field");   // a box given a bad value first; empty: none
    QTest::addColumn<QString>("chinese");
    QTest::addColumn<QString>("english");
    QTest::newRow("port saved") << "cmdCom" << "" << "串口设置保存成功" << "Port settings saved";
    QTest::newRow("bad period") << "cmdOneM" << "txtTimerSet" << "你输入的定时时长格式有误，应该为数字，值范围为10-60000!"
                                << "The cycle period you entered is malformed: it should be a number from 10 to 60000!";
    QTest::newRow("bad address") << "comDoOnce" << "txtStationID" << "你输入的设备地址格式有误!"
                                 << "The device address you entered is malformed!";
}

void tst_language::messageBoxes()
{
    QFETCH(QString, button);
    QFETCH(QString, field);
    QFETCH(QString, chinese);
    QFETCH(QString, english);
    for (const Language language : {Language::English, Language::Chinese}) {
        QVERIFY(installLanguage(language));
        TestWindow t;
        if (!field.isEmpty())
            t.box(field)->setText(QStringLiteral("x"));
        t.click(button);
        QVERIFY2(t.dialogs().texts().contains(language == Language::English ? english : chinese),
                 qPrintable(t.dialogs().texts().join(QLatin1Char('|'))));
    }
}

// Qt's own standard buttons speak the window's language.
void tst_language::qtButtonsFollow()
{
    QVERIFY(installLanguage(Language::English));
    {
        QDialogButtonBox box(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
        QCOMPARE(box.button(QDialogButtonBox::Cancel)->text().remove(QLatin1Char('&')), QStringLiteral("Cancel"));
    }
    QVERIFY(installLanguage(Language::Chinese));
    QDialogButtonBox box(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    if (!QFile::exists(QStringLiteral("/usr/share/qt6/translations/qtbase_zh_CN.qm")))
        QSKIP("qt6-translations-l10n is not installed");
    QCOMPARE(box.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("取消"));
}

// comm.set and the data log are the same bytes whatever the language.
void tst_language::filesDoNotChange()
{
    QMap<int, QByteArray> commSet;
    for (const Language language : {Language::English, Language::Chinese}) {
        QVERIFY(installLanguage(language));
        TestWindow t;
        t.click(QStringLiteral("cmdCom"));
        QFile f(t.path(QStringLiteral("comm.set")));
        QVERIFY(f.open(QIODevice::ReadOnly));
        commSet[int(language)] = f.readAll();
    }
    QVERIFY(!commSet[0].isEmpty());
    QCOMPARE(commSet[int(Language::English)], commSet[int(Language::Chinese)]);
}

QTEST_MAIN(tst_language)
#include "tst_language.moc"
