// Tab "粮情总览" offscreen: cells coloured by temperature and never for a
// value that is none, cables falling silent on the window's clock, and what
// the status area says runs.
#include "Frames.h"
#include "TestWindow.h"
#include "window/tabs/GrainOverview.h"

#include <QDoubleSpinBox>
#include <QFrame>
#include <QSettings>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

using namespace vx;
using namespace vx::test;

class tst_grainoverview : public QObject {
    Q_OBJECT
private slots:
    void cellsShowTemperaturesOnly();
    void figuresAndToolTips();
    void cableFallsSilentOnTheClock();
    void runStateAndNoReply();
    void answeredRequestsSayNothing_data();
    void answeredRequestsSayNothing();
};

namespace {
void reply(TestWindow &t, int address, const QList<quint16> &registers)
{
    t.queryAnswered(address, registers);
}

quint16 raw(double c)
{
    const int h = int(qRound(c * 100));
    return quint16(h < 0 ? h + 65536 : h);
}

// A pixel of a cell away from its text and border.
QColor cellColour(const QImage &image, GrainMap *map, int cable, int layer)
{
    const QRect r = map->cellRect(cable, layer);
    return image.pixelColor(r.left() + 2, r.top() + 2);
}

bool isGrey(const QColor &c)
{
    return c.red() == c.green() && c.green() == c.blue();
}
} // namespace

void tst_grainoverview::cellsShowTemperaturesOnly()
{
    TestWindow t;
    QList<quint16> one(18, raw(0.0)), two(18, raw(20.0)), three(18, raw(40.0));
    two[1] = 65535;      // no reading
    three[2] = raw(85);  // the power-on value
    three[3] = raw(-60); // out of range
    reply(t, 1, one);
    reply(t, 2, two);
    reply(t, 3, three);
    // Collecting: otherwise nobody is expected to answer and nobody is silent either way.
    t.click(QStringLiteral("Command1"));
    GrainMap *map = t.w().overview()->map();
    map->resize(1200, 560);
    const QImage image = map->grab().toImage();
    QCOMPARE(cellColour(image, map, 1, 1).rgb(), map->colourOf(0.0).rgb());
    QCOMPARE(cellColour(image, map, 2, 1).rgb(), map->colourOf(20.0).rgb());
    QCOMPARE(cellColour(image, map, 3, 1).rgb(), map->colourOf(40.0).rgb());
    QVERIFY(map->colourOf(0.0) != map->colourOf(40.0));
    QVERIFY(map->colourOf(0.0).blue() > map->colourOf(0.0).red());  // cold is blue
    QVERIFY(map->colourOf(40.0).red() > map->colourOf(40.0).blue()); // hot is red
    for (const QPoint &none : {QPoint(2, 2), QPoint(3, 3), QPoint(3, 4), QPoint(4, 1), QPoint(40, 18)})
        QVERIFY2(isGrey(cellColour(image, map, none.x(), none.y())), qPrintable(QStringLiteral("%1,%2").arg(none.x()).arg(none.y())));
    // Limits are the operator's: the same value, another colour; kept for the next start.
    t.find<QDoubleSpinBox>(QStringLiteral("overviewLow"))->setValue(10);
    t.find<QDoubleSpinBox>(QStringLiteral("overviewHigh"))->setValue(30);
    QCOMPARE(map->scaleLow(), 10.0);
    QCOMPARE(map->scaleHigh(), 30.0);
    QCOMPARE(QSettings(t.path(QStringLiteral("view.ini")), QSettings::IniFormat).value(QStringLiteral("overview/high")).toDouble(), 30.0);
    t.find<QDoubleSpinBox>(QStringLiteral("overviewHigh"))->setValue(5); // below the low limit: not taken
    QCOMPARE(map->scaleHigh(), 30.0);
    t.find<QDoubleSpinBox>(QStringLiteral("overviewHigh"))->setValue(30);
    QCOMPARE(map->grab().toImage().pixelColor(map->cellRect(2, 1).topLeft() + QPoint(2, 2)).rgb(), map->colourOf(20.0).rgb());
    QCOMPARE(map->colourOf(20.0).rgb(), QColor::fromHsvF(0.5f * 240.0f / 360.0f, 0.75f, 0.95f).rgb());
}

void tst_grainoverview::figuresAndToolTips()
{
    TestWindow t;
    QList<quint16> a(18, raw(20.0)), b(18, raw(22.0));
    b[4] = raw(30.5);
    reply(t, 1, a);
    reply(t, 2, b);
    t.click(QStringLiteral("Command1"));
    t.w().tick();
    QCOMPARE(t.text(QStringLiteral("grainFigures")),
             QStringLiteral("全仓：平均 21.24 °C，最高 30.50 °C（电缆02 层05），最低 20.00 °C；电缆：应答 2，无响应 0，未见 38"));
    GrainMap *map = t.w().overview()->map();
    // The hot cell names its alarms; the others say only what they read.
    QVERIFY(map->toolTipAt(2, 5).startsWith(QStringLiteral("电缆02 层05\n30.50 °C\n读数时间 2026-12-07 08:30:05\n原始值 3050\n报警：")));
    QVERIFY(map->toolTipAt(2, 5).contains(QStringLiteral("报警：热点")));
    QCOMPARE(map->toolTipAt(2, 4), QStringLiteral("电缆02 层04\n22.00 °C\n读数时间 2026-12-07 08:30:05\n原始值 2200"));
    QCOMPARE(map->toolTipAt(7, 1), QStringLiteral("电缆07 层01\n尚无读数"));
    QSignalSpy activated(map, &GrainMap::pointActivated);
    map->resize(1200, 560);
    QTest::mouseDClick(map, Qt::LeftButton, {}, map->cellRect(2, 5).center());
    QCOMPARE(activated.size(), 1);
    QCOMPARE(activated[0][0].toInt(), 2);
    QCOMPARE(activated[0][1].toInt(), 5);
}

// Cycling two devices every second: after three cycles without a reply, a
// cable is silent (the window's own clock is moved, nobody waits).
void tst_grainoverview::cableFallsSilentOnTheClock()
{
    TestWindow t;
    reply(t, 1, QList<quint16>(18, raw(20)));
    reply(t, 2, QList<quint16>(18, raw(21)));
    t.setText(QStringLiteral("txtMaxID"), QStringLiteral("2"));
    t.setText(QStringLiteral("txtTimerSet"), QStringLiteral("1000"));
    t.click(QStringLiteral("cmdCicleAll"));
    GrainMap *map = t.w().overview()->map();
    QCOMPARE(t.w().silentAfterMs(), 6000);
    t.now = t.now.addMSecs(5000);
    reply(t, 2, QList<quint16>(18, raw(21))); // cable 2 still answers
    t.w().tick();
    QCOMPARE(map->stateOf(1), CableState::Answering);
    t.now = t.now.addMSecs(1500);
    t.w().tick();
    QCOMPARE(map->stateOf(1), CableState::Silent);
    QCOMPARE(map->stateOf(2), CableState::Answering);
    QCOMPARE(map->stateOf(3), CableState::NeverSeen);
    QVERIFY(t.w().findChild<QFrame *>(QStringLiteral("Frame3_0"))->property("silent").toBool());
    QVERIFY(!t.w().findChild<QFrame *>(QStringLiteral("Frame3_1"))->property("silent").toBool());
    map->resize(1200, 560);
    const QImage image = map->grab().toImage();
    QVERIFY(isGrey(cellColour(image, map, 1, 1))); // its last values are no longer shown as temperatures
    QCOMPARE(cellColour(image, map, 2, 1).rgb(), map->colourOf(21).rgb());
    QVERIFY(map->toolTipAt(1, 1).contains(QStringLiteral("\n电缆无响应")));
    QVERIFY(t.text(QStringLiteral("grainFigures")).endsWith(QStringLiteral("应答 1，无响应 1，未见 38")));
    t.click(QStringLiteral("cmdStopOnce"));
}

void tst_grainoverview::runStateAndNoReply()
{
    TestWindow t;
    auto state = [&] {
        t.w().tick();
        return t.text(QStringLiteral("runState"));
    };
    QCOMPARE(state(), QString());
    t.setText(QStringLiteral("txtTimerSet"), QStringLiteral("1000"));
    t.click(QStringLiteral("cmdCicleAll"));
    QCOMPARE(state(), QStringLiteral("循环运行中 (周期 1000 ms)"));
    t.click(QStringLiteral("cmdStopOnce"));
    t.click(QStringLiteral("cmdOneM"));
    QCOMPARE(state(), QStringLiteral("定时查询中"));
    t.click(QStringLiteral("cmdStopOnce"));
    t.click(QStringLiteral("Command1"));
    QCOMPARE(state(), QStringLiteral("主动上传模式"));
    t.click(QStringLiteral("comDoOnce")); // a request: upload mode is over
    QCOMPARE(state(), QString());
    // That request gets no reply: after three seconds a line says so, no box.
    QTRY_VERIFY_WITH_TIMEOUT(t.w().statusBar()->currentMessage().startsWith(QStringLiteral("无响应")), 4500);
    QVERIFY(t.dialogs().boxes.isEmpty());
}

// Any request that was answered ends the look for a reply, and a "no reply"
// line already shown goes at the next good reply.
void tst_grainoverview::answeredRequestsSayNothing_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QByteArray>("reply");
    const QByteArray code = QByteArray::fromHex("28FF4A3B0500009C");
    QTest::newRow("measurement") << "comDoOnce" << replyFrame(2, ramp(18));
    QTest::newRow("parameter") << "cmdReadSet_2" << withCrc(QByteArray::fromHex("02040200C8"));
    QTest::newRow("address") << "cmdReadAdd" << withCrc(QByteArray::fromHex("0225020200"));
    QTest::newRow("serial numbers") << "cmdReadSensorID" << withCrc(QByteArray::fromHex("022202") + code + code + code);
}

void tst_grainoverview::answeredRequestsSayNothing()
{
    QFETCH(QString, button);
    QFETCH(QByteArray, reply);
    TestWindow t;
    t.setText(QStringLiteral("txtStationID"), QStringLiteral("2"));
    t.setText(QStringLiteral("txtChnId"), QStringLiteral("01"));
    t.setText(QStringLiteral("TXTsensorID"), QStringLiteral("3"));
    auto *look = t.w().findChild<QTimer *>(QStringLiteral("noReplyCheck"));
    QVERIFY(look);
    // A query that gets no answer: the look comes at once instead of in three seconds.
    t.click(QStringLiteral("comDoOnce"));
    QVERIFY(look->isActive());
    look->start(0);
    QTRY_VERIFY(t.w().statusBar()->currentMessage().startsWith(QStringLiteral("无响应")));
    look->setInterval(3000);
    // Another query waits for its look; then this request is answered.
    t.click(QStringLiteral("comDoOnce"));
    QVERIFY(look->isActive());
    t.click(button);
    t.port().setThreshold(int(reply.size()));
    t.receive(reply);
    QVERIFY(!look->isActive());
    QCOMPARE(t.w().statusBar()->currentMessage(), QString());
}

QTEST_MAIN(tst_grainoverview)
#include "tst_grainoverview.moc"
