// The web view's API and page from a vxcollect on vxsim: status codes,
// shapes, refusals with a reason, and the live stream following a heated cable.
#include "FreePort.h"
#include "HttpGet.h"
#include "ProcessSignal.h"
#include "core/web/WebAccess.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

class tst_vxcollect_web : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void requests_data();
    void requests();
    void streamFollowsAHeatedCable();
    void acknowledging_data();
    void acknowledging();

private:
    QTemporaryDir m_dir;
    QProcess m_sim, m_collect;
    int m_port = freeTcpPort();
};

void tst_vxcollect_web::initTestCase()
{
    m_sim.start(QStringLiteral(VXSIM_PATH), {"--link", m_dir.filePath("bus"), "--addresses", "1-4", "--control", m_dir.filePath("control")});
    QVERIFY(m_sim.waitForReadyRead(5000));
    QFile config(m_dir.filePath("vxcollect.conf"));
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write("[web-users]\nkeeper = " + vx::web::makePasswordHash("granary-night") + " ack\nguest = "
                 + vx::web::makePasswordHash("look-only-1") + "\n");
    config.close();
    m_collect.start(QStringLiteral(VXCOLLECT_PATH), {"--port", m_dir.filePath("bus"), "--addresses", "1-4", "--dir", m_dir.path(),
                                                     "--quiet", "--metrics", QStringLiteral("127.0.0.1:%1").arg(m_port),
                                                     "--config", config.fileName(), "--web-base", "/vxmon"});
    QVERIFY(m_collect.waitForStarted());
    // Every device read once (and so stored) before the table asks.
    QTRY_VERIFY_WITH_TIMEOUT(
        QJsonDocument::fromJson(httpGet(m_port, "/vxmon/api/readings").second).object().value("cables").toArray().size() == 4, 20000);
}

void tst_vxcollect_web::cleanupTestCase()
{
    signalProcess(m_collect, SIGTERM);
    m_collect.waitForFinished(10000);
    m_sim.terminate();
    m_sim.waitForFinished(3000);
}

void tst_vxcollect_web::requests_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("key"); // a member the JSON must have; for text, a part of the body
    // Served under --web-base /vxmon, as behind a proxy that keeps its prefix.
    QTest::newRow("page") << QByteArray("/") << 200 << "<section id=\"overview\">";
    QTest::newRow("the base without its slash") << QByteArray("") << 301 << "moved";
    QTest::newRow("readings") << QByteArray("/api/readings") << 200 << "cables";
    QTest::newRow("alarms") << QByteArray("/api/alarms") << 200 << "alarms";
    QTest::newRow("devices") << QByteArray("/api/devices") << 200 << "devices";
    QTest::newRow("events of a day") << QByteArray("/api/events") << 200 << "events";
    QTest::newRow("a cable's day") << QByteArray("/api/curve?cable=2") << 200 << "lines";
    QTest::newRow("a point's hour") << QByteArray("/api/curve?cable=2&layer=5&span=1h") << 200 << "lines";
    QTest::newRow("unknown cable") << QByteArray("/api/curve?cable=77") << 400 << "cable: a whole number from 1 to 40";
    QTest::newRow("no cable") << QByteArray("/api/curve") << 400 << "cable:";
    QTest::newRow("a year at once") << QByteArray("/api/curve?cable=2&span=365d") << 400 << "span: 1h, 24h, 7d or 30d";
    QTest::newRow("events of a year") << QByteArray("/api/events?hours=9000") << 400 << "hours:";
    QTest::newRow("nothing there") << QByteArray("/api/nothing") << 404 << "not found";
    QTest::newRow("a wrong password") << QByteArray("/api/alarms") << 401 << "a user and password";
}

void tst_vxcollect_web::requests()
{
    QFETCH(QByteArray, path);
    QFETCH(int, status);
    QFETCH(QString, key);
    // Anyone on this machine may look; a password given must be right.
    const bool wrong = QByteArray(QTest::currentDataTag()) == "a wrong password";
    const auto [code, body] = httpRequest(m_port, "GET /vxmon" + path,
                                          wrong ? "Authorization: Basic " + QByteArray("guest:nope").toBase64() + "\r\n" : QByteArray());
    QCOMPARE(code, status);
    const QJsonObject o = QJsonDocument::fromJson(body).object();
    QVERIFY2(o.isEmpty() ? body.contains(key.toUtf8()) : o.contains(key), body.left(300).constData());
    if (path == "/api/readings") { // the shape a page draws from
        const QJsonObject cable = o.value("cables").toArray().first().toObject();
        QVERIFY(QDateTime::fromString(cable.value("last_seen").toString(), Qt::ISODateWithMs).isValid());
        QCOMPARE(cable.value("last_seen").toString().right(1), QStringLiteral("Z"));
        QCOMPARE(cable.value("layers").toArray().first().toObject().value("status").toString(), QStringLiteral("ok"));
    }
    if (path == "/") { // every byte from here: no script or style from elsewhere; nothing at the root but metrics
        QCOMPARE(httpGet(m_port, "/").first, 404);
        QCOMPARE(httpGet(m_port, "/metrics").first, 200);
    }
    if (path == "/")
        QVERIFY(!body.contains("src=\"http") && !body.contains("href=\"http") && !body.contains("@import"));
}

// The page's stream: a cable heated on the simulator arrives as an alarm
// group and as readings, without asking again.
void tst_vxcollect_web::streamFollowsAHeatedCable()
{
    QTcpSocket stream;
    stream.connectToHost(QStringLiteral("127.0.0.1"), quint16(m_port));
    QVERIFY(stream.waitForConnected(3000));
    stream.write("GET /vxmon/api/stream HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    QByteArray got;
    QTRY_VERIFY_WITH_TIMEOUT((got += stream.readAll()).contains("event: alarms"), 5000); // the first picture
    QVERIFY(got.startsWith("HTTP/1.1 200") && got.contains("text/event-stream"));
    got.clear();
    QFile control(m_dir.filePath("control"));
    QVERIFY(control.open(QIODevice::WriteOnly));
    control.write("heat 3 20\n");
    control.close();
    QTRY_VERIFY_WITH_TIMEOUT((got += stream.readAll()).contains("\"rule\":\"high_temperature\""), 20000);
    const qsizetype at = got.lastIndexOf("data: ", got.indexOf("\"rule\":\"high_temperature\""));
    QVERIFY(at >= 0);
    const QByteArray data = got.mid(at + 6).split('\n').first();
    const QJsonArray alarms = QJsonDocument::fromJson(data).object().value("alarms").toArray();
    QVERIFY(std::any_of(alarms.begin(), alarms.end(), [](const QJsonValue &a) {
        return a.toObject().value("cable").toInt() == 3 && a.toObject().value("priority").toString() == QLatin1String("high");
    }));
    QTRY_VERIFY_WITH_TIMEOUT((got += stream.readAll()).count("event: readings") >= 2, 15000);
}

void tst_vxcollect_web::acknowledging_data()
{
    QTest::addColumn<QByteArray>("credentials");
    QTest::addColumn<int>("status");
    QTest::newRow("nobody") << QByteArray() << 401;
    QTest::newRow("a user who may only look") << QByteArray("guest:look-only-1") << 403;
    QTest::newRow("the keeper") << QByteArray("keeper:granary-night") << 202; // last: it acknowledges
}

// The hot cable's high-temperature group (raised by the stream test) is
// acknowledged only by a user with the right, and the store says who.
void tst_vxcollect_web::acknowledging()
{
    QFETCH(QByteArray, credentials);
    QFETCH(int, status);
    const QByteArray authorization = credentials.isEmpty() ? QByteArray() : "Authorization: Basic " + credentials.toBase64() + "\r\n";
    QCOMPARE(httpRequest(m_port, "GET /vxmon/api/ack?cable=3&rule=high_temperature", authorization).first, 405);
    QCOMPARE(httpRequest(m_port, "POST /vxmon/api/ack?cable=3&rule=high_temperature", authorization).first, status);
    auto stateOfHigh = [this] {
        for (const QJsonValue &a : QJsonDocument::fromJson(httpGet(m_port, "/vxmon/api/alarms").second).object().value("alarms").toArray())
            if (a.toObject().value("cable").toInt() == 3 && a.toObject().value("rule").toString() == QLatin1String("high_temperature"))
                return a.toObject().value("state").toString();
        return QString();
    };
    if (status != 202) { // refused, so still active (the API's picture is taken once a second: it may be on its way)
        QTRY_COMPARE_WITH_TIMEOUT(stateOfHigh(), QStringLiteral("active"), 5000);
        return;
    }
    QCOMPARE(httpRequest(m_port, "POST /vxmon/api/ack?cable=99&rule=high_temperature", authorization).first, 400);
    QTRY_COMPARE_WITH_TIMEOUT(stateOfHigh(), QStringLiteral("acknowledged"), 15000);
    QTRY_VERIFY_WITH_TIMEOUT(httpGet(m_port, "/vxmon/api/events?hours=1").second.contains("\"kind\":\"web_ack\""), 15000);
    QVERIFY(httpGet(m_port, "/vxmon/api/events?hours=1").second.contains("keeper: "));
}

QTEST_GUILESS_MAIN(tst_vxcollect_web)
#include "tst_vxcollect_web.moc"
