#include "TestWindow.h"
#include "core/sensors/ListFile.h"

#include <QAbstractTextDocumentLayout>
#include <QFile>
#include <QFontDatabase>
#include <QScrollBar>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextEdit>

using namespace vx;
using namespace vx::test;

// The position numbers stay level with their serial-number lines, also when
// the Chinese glyphs of "[无效]" lines come from a fallback font with a
// larger line height.
class tst_sensorpanes : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void numbersStayBesideTheirLines_data();
    void numbersStayBesideTheirLines();
};

void tst_sensorpanes::initTestCase()
{
    bool cjk = false;
    for (const QString &family : QFontDatabase::families(QFontDatabase::SimplifiedChinese))
        cjk = cjk || !QFontDatabase::isPrivateFamily(family);
    if (!cjk && qgetenv("CI") == "true")
        QFAIL("no font with Chinese glyphs (scripts/deps test installs fonts-wqy-microhei)");
    if (!cjk)
        QSKIP("no font with Chinese glyphs: the drift cannot show");
}

void tst_sensorpanes::numbersStayBesideTheirLines_data()
{
    QTest::addColumn<int>("entries");
    QTest::newRow("18") << 18;
    QTest::newRow("40") << 40;
    QTest::newRow("65") << 65;
}

void tst_sensorpanes::numbersStayBesideTheirLines()
{
    QFETCH(int, entries);
    TestWindow t;
    t.w().resize(1200, 800);
    auto *tabs = t.find<QTabWidget>(QStringLiteral("SSTab2"));
    tabs->setCurrentIndex(5);
    QCOMPARE(tabs->tabText(5), QStringLiteral("单机传感器设置"));
    t.w().show();
    QStringList list;
    for (int k = 1; k <= entries; ++k) // every third entry fails the validity rule
        list << QStringLiteral("28 %1 4A 3B 05 %2 00 9C").arg(k, 2, 16, QLatin1Char('0')).arg(k % 3 == 0 ? "01" : "00").toUpper();
    const QString path = t.path(QStringLiteral("txt/mixed.txt"));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(formatListFile(list));
    f.close();
    t.dialogs().openAnswers << path;
    t.click(QStringLiteral("cmdOpenFile"));

    auto *sn = t.find<QTextEdit>(QStringLiteral("txtSn"));
    auto *numbers = t.find<QTextEdit>(QStringLiteral("txtShowID"));
    QVERIFY(sn->toPlainText().contains(QStringLiteral("[无效]")));
    QCOMPARE(numbers->document()->blockCount(), sn->document()->blockCount());
    auto top = [](QTextEdit *edit, int line) {
        const QTextBlock block = edit->document()->findBlockByNumber(line);
        return edit->document()->documentLayout()->blockBoundingRect(block).top() - edit->verticalScrollBar()->value();
    };
    for (bool atEnd : {false, true}) {
        if (atEnd)
            sn->verticalScrollBar()->setValue(sn->verticalScrollBar()->maximum());
        QCOMPARE(numbers->verticalScrollBar()->value(), sn->verticalScrollBar()->value());
        for (int line = 0; line <= entries; ++line)
            QVERIFY2(qAbs(top(numbers, line) - top(sn, line)) < 0.5,
                     qPrintable(QStringLiteral("line %1%2: numbers at %3, codes at %4")
                                    .arg(line).arg(atEnd ? " (scrolled)" : "").arg(top(numbers, line)).arg(top(sn, line))));
    }
}

QTEST_MAIN(tst_sensorpanes)
#include "tst_sensorpanes.moc"
