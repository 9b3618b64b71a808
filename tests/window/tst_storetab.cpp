// The window's side of the readings store: frames it takes are stored as
// vxcollect stores them, its tab exports CSV, and a configured central store
// shows its backlog in the status area.
#include "Frames.h"
#include "MqttBroker.h"
#include "PgServer.h"
#include "TestWindow.h"
#include "core/store/ReadingStore.h"
#include "core/store/StoreService.h"
#include "window/tabs/StoreTab.h"

#include <QDateTimeEdit>
#include <QLineEdit>
#include <QComboBox>
#include <QSignalSpy>
#include <QtTest>

#include <ctime>

using namespace vx;
using namespace vx::test;

class tst_storetab : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void framesTheWindowTakesAreStored();
    void exportFromTheTab_data();
    void exportFromTheTab();
    void centralBacklogInTheStatusArea();
    void unusableStoreIsSaidAndCollectionGoesOn();
    void windowForwardsAsTheCollectorDoes_data();
    void windowForwardsAsTheCollectorDoes();
    void windowNotifiesAsTheCollectorDoes();
};

namespace {
void query(TestWindow &t, int address, int n)
{
    t.setText(QStringLiteral("txtStationID"), QString::number(address));
    t.setText(QStringLiteral("txtDataLength"), QString::number(n));
    t.click(QStringLiteral("comDoOnce"));
}

std::unique_ptr<ReadingStore> openLocal(TestWindow &t)
{
    t.w().store()->flush();
    QString why;
    return ReadingStore::open(*parseStoreLocation(t.path(QStringLiteral("vxmon.db")), &why), QString(), &why);
}
} // namespace

void tst_storetab::initTestCase()
{
    qputenv("TZ", "Asia/Shanghai");
    ::tzset();
}

void tst_storetab::framesTheWindowTakesAreStored()
{
    TestWindow t;
    QVERIFY(t.w().store());
    query(t, 1, 2);
    t.receive(replyFrame(1, {2500, 0xFFFF}));
    t.now = t.now.addSecs(2);
    query(t, 1, 2);
    t.receive(replyFrame(1, {8500, 65000}));
    const auto store = openLocal(t);
    QVERIFY(store);
    QCOMPARE(store->readingCount(), 4);
    const qint64 first = QDateTime(QDate(2026, 12, 7), QTime(8, 30, 5)).toMSecsSinceEpoch();
    const QList<StoredReading> p1 = store->readings(1, 1, first, first + 10000);
    QCOMPARE(p1.size(), 2);
    QCOMPARE(p1[0].timeMs, first); // the time the log shows, from the same clock
    QCOMPARE(p1[1].status, ReadingStatus::PowerOn);
    QCOMPARE(store->readings(1, 2, first, first + 1)[0].status, ReadingStatus::NoReading);
    // The text log is written as ever.
    QCOMPARE(t.fileText(QStringLiteral("data/1.txt")).count(QStringLiteral("\r\n")), 2);
}

void tst_storetab::exportFromTheTab_data()
{
    QTest::addColumn<int>("rows");
    QTest::addColumn<QString>("addresses");
    QTest::addColumn<QString>("expected");
    QTest::newRow("per reading, all") << 0 << QString()
                                      << QStringLiteral("time,address,point,raw,celsius,status\n"
                                                        "2026-12-07T08:30:05.000+08:00,1,1,2500,25.00,ok\n"
                                                        "2026-12-07T08:30:05.000+08:00,1,2,65535,,no_reading\n"
                                                        "2026-12-07T08:30:06.000+08:00,2,1,1999,19.99,ok\n");
    QTest::newRow("per frame, address 2") << 1 << QStringLiteral("2")
                                          << QStringLiteral("time,address,p1\n2026-12-07T08:30:06.000+08:00,2,19.99\n");
}

void tst_storetab::exportFromTheTab()
{
    QFETCH(int, rows);
    QFETCH(QString, addresses);
    QFETCH(QString, expected);
    TestWindow t;
    query(t, 1, 2);
    t.receive(replyFrame(1, {2500, 0xFFFF}));
    t.now = t.now.addSecs(1);
    query(t, 2, 1);
    t.receive(replyFrame(2, {1999}));
    t.w().store()->flush();

    auto *tab = t.w().storeTab();
    t.find<QDateTimeEdit>(QStringLiteral("exportFrom"))->setDateTime(QDateTime(QDate(2026, 12, 7), QTime(0, 0)));
    t.find<QDateTimeEdit>(QStringLiteral("exportTo"))->setDateTime(QDateTime(QDate(2026, 12, 8), QTime(0, 0)));
    t.find<QLineEdit>(QStringLiteral("exportAddresses"))->setText(addresses);
    t.find<QComboBox>(QStringLiteral("exportRows"))->setCurrentIndex(rows);
    const QString file = t.path(QStringLiteral("out.csv"));
    t.dialogs().saveAnswers << file;
    QSignalSpy finished(tab, &StoreTab::exportFinished);
    t.click(QStringLiteral("exportCsvButton"));
    QVERIFY(finished.wait(10000));
    QVERIFY(finished[0][0].toBool());
    QFile out(file);
    QVERIFY(out.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(out.readAll()), expected);
    QVERIFY(t.text(QStringLiteral("exportResult")).startsWith(QStringLiteral("已导出")));
}

void tst_storetab::centralBacklogInTheStatusArea()
{
    // A central store nobody answers at: readings wait, and the count says so.
    TestWindow::Options options;
    options.prepare = [](const QString &dir) {
        QFile conf(QDir(dir).filePath(QStringLiteral("store.conf")));
        QVERIFY(conf.open(QIODevice::WriteOnly));
        conf.write("[store]\ncentral=postgresql://vx@127.0.0.1:1/nowhere\nsite=test\n");
    };
    TestWindow t(options);
    QVERIFY(t.w().store() && t.w().store()->forwarding());
    query(t, 1, 3);
    t.receive(replyFrame(1, {2500, 2501, 2502}));
    t.w().store()->flush();
    QCOMPARE(t.w().store()->centralBacklog(), 3);
    QTRY_COMPARE_WITH_TIMEOUT(t.text(QStringLiteral("centralBacklog")),
                              QStringLiteral("待上传读数：3（中心数据库无法连接）"), 5000);
}

void tst_storetab::unusableStoreIsSaidAndCollectionGoesOn()
{
    TestWindow::Options options;
    options.prepare = [](const QString &dir) { QDir(dir).mkdir(QStringLiteral("vxmon.db")); }; // a directory in its way
    TestWindow t(options);
    QVERIFY(!t.w().store());
    QVERIFY(t.w().statusBar()->currentMessage().startsWith(QStringLiteral("无法打开数据库")));
    QVERIFY(t.text(QStringLiteral("storeState")).startsWith(QStringLiteral("数据库不可用")));
    query(t, 1, 1);
    t.receive(replyFrame(1, {2500}));
    QCOMPARE(t.text(QStringLiteral("txtValue_0")), QStringLiteral("25.00"));
}

// A depot that runs only the window forwards as vxcollect does: to a central
// PostgreSQL store and to an MQTT broker named in store.conf.
void tst_storetab::windowForwardsAsTheCollectorDoes_data()
{
    QTest::addColumn<bool>("central"); // else MQTT
    QTest::newRow("central PostgreSQL") << true;
    QTest::newRow("MQTT broker") << false;
}

void tst_storetab::windowForwardsAsTheCollectorDoes()
{
    QFETCH(bool, central);
    PgServer pg;
    MqttBroker broker;
    std::unique_ptr<MqttSubscriber> watch;
    QString url;
    if (central) {
        VX_REQUIRE_PG(pg);
        url = pg.createDatabase();
        QVERIFY2(!url.isEmpty(), qPrintable(pg.why()));
    } else {
        VX_REQUIRE_BROKER(broker);
        watch = std::make_unique<MqttSubscriber>(QStringLiteral("watch"), "vxmon/depot/1", false);
        QVERIFY(watch->connectTo(broker.port()));
        QTRY_VERIFY(watch->subscribed());
    }
    TestWindow::Options options;
    options.prepare = [&](const QString &dir) {
        QFile conf(QDir(dir).filePath(QStringLiteral("store.conf")));
        QVERIFY(conf.open(QIODevice::WriteOnly));
        conf.write("[store]\nsite=depot\n");
        conf.write(central ? "[central]\ncentral=" + url.toUtf8() + "\n" : "[mqtt]\nmqtt=" + broker.address().toUtf8() + "\n");
    };
    TestWindow t(options);
    QVERIFY(t.w().store());
    query(t, 1, 3);
    for (int i = 0; i < 3; ++i) {
        t.receive(replyFrame(1, {quint16(2500 + i), 2501, 2502}));
        t.now = t.now.addSecs(1);
    }
    t.w().store()->flush();
    if (central) {
        QString why;
        QTRY_VERIFY_WITH_TIMEOUT([&] {
            const auto store = ReadingStore::open(*parseStoreLocation(url, &why), QStringLiteral("depot"), &why);
            return store && store->readingCount() == 9;
        }(), 15000);
    } else {
        QTRY_COMPARE_WITH_TIMEOUT(watch->on("vxmon/depot/1").size(), 3, 15000);
        QVERIFY(watch->on("vxmon/depot/1").first().payload.contains("\"raw\":[2500,2501,2502]"));
    }
    QTRY_VERIFY(t.text(QStringLiteral("storeState")).contains(central ? QStringLiteral("中心数据库：已连接")
                                                                       : QStringLiteral("MQTT 服务器：已连接")));
}

// A [notify.NAME] channel in store.conf: the window's alarms reach it as vxcollect's would.
void tst_storetab::windowNotifiesAsTheCollectorDoes()
{
    TestWindow::Options options;
    QString got;
    options.prepare = [&](const QString &dir) {
        got = QDir(dir).filePath(QStringLiteral("sms.txt"));
        QFile conf(QDir(dir).filePath(QStringLiteral("store.conf")));
        QVERIFY(conf.open(QIODevice::WriteOnly));
        conf.write("[store]\nsite=depot\n[notify.sms]\ntype=command\nprogram=/bin/sh\nargs=-c, cat >> " + got.toUtf8() + "\n");
    };
    TestWindow t(options);
    query(t, 1, 3);
    t.receive(replyFrame(1, {4500, 4510, 4520}));
    t.w().tick();
    t.w().store()->flush();
    QTRY_VERIFY_WITH_TIMEOUT(t.fileText(QStringLiteral("sms.txt")).contains(QStringLiteral("[depot] 报警（高）：高温 电缆01")), 15000);
    QTRY_VERIFY(t.text(QStringLiteral("storeState")).contains(QStringLiteral("通知 sms：待发送 0，已发送 ")));
}

QTEST_MAIN(tst_storetab)
#include "tst_storetab.moc"
