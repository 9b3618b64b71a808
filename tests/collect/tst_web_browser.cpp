// The web view in a real browser: headless chromium, driven through its
// DevTools protocol, on the page of a vxcollect on vxsim. The DOM is read
// as the page drew it, and it must follow a heated cable without a reload.
#include "FreePort.h"
#include "HttpGet.h"
#include "ProcessSignal.h"
#include "RequireServer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QWebSocket>
#include <QtTest>

namespace {
// Headless chromium with the DevTools protocol on a free port, showing one URL.
class Browser {
public:
    Browser(QString url, QString size) : m_url(std::move(url)), m_size(std::move(size)) {}
    ~Browser()
    {
        m_socket.close();
        signalProcess(m_process, SIGKILL);
        m_process.waitForFinished(5000);
    }
    bool running() const { return m_socket.state() == QAbstractSocket::ConnectedState; }
    QString why() const { return m_why; }
    bool start()
    {
        const QString program = QStandardPaths::findExecutable(QStringLiteral("chromium"));
        if (program.isEmpty()) {
            m_why = QStringLiteral("no chromium on PATH (package chromium)");
            return false;
        }
        m_process.setReadChannel(QProcess::StandardError);
        m_process.start(program, {"--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                                  "--no-first-run", "--user-data-dir=" + m_profile.path(), "--remote-debugging-port=0", "--remote-allow-origins=*",
                                  "--window-size=" + m_size, m_url});
        // "DevTools listening on ws://127.0.0.1:PORT/devtools/browser/...": the port of the page list.
        static const QRegularExpression listening(QStringLiteral("DevTools listening on ws://127\\.0\\.0\\.1:(\\d+)/"));
        QByteArray said;
        QElapsedTimer clock;
        clock.start();
        int port = 0;
        while (!port && clock.elapsed() < 30000 && m_process.state() != QProcess::NotRunning) {
            m_process.waitForReadyRead(500); // the read channel is its standard error
            said += m_process.readAllStandardError();
            port = listening.match(QString::fromUtf8(said)).captured(1).toInt();
        }
        if (!port) {
            m_why = QStringLiteral("it did not start: ") + QString::fromUtf8(said.right(500));
            return false;
        }
        QString page;
        while (page.isEmpty() && clock.elapsed() < 30000) {
            // Its HTTP answers 1.1 requests only.
            const QByteArray list = httpRequest(port, "GET /json/list", "Connection: close\r\n", "HTTP/1.1").second;
            for (const QJsonValue &t : QJsonDocument::fromJson(list).array())
                if (t.toObject().value("type").toString() == QLatin1String("page")
                    && t.toObject().value("url").toString().startsWith(m_url.left(m_url.indexOf(QLatin1Char('?')))))
                    page = t.toObject().value("webSocketDebuggerUrl").toString();
            if (page.isEmpty())
                QTest::qWait(100);
        }
        QUrl target(page);
        target.setPort(port); // it names the host as asked, and we asked without the port
        m_socket.open(target);
        while (m_socket.state() != QAbstractSocket::ConnectedState && clock.elapsed() < 40000)
            QTest::qWait(20);
        QObject::connect(&m_socket, &QWebSocket::textMessageReceived, [this](const QString &text) {
            const QJsonObject o = QJsonDocument::fromJson(text.toUtf8()).object();
            if (o.contains("id"))
                m_answers.insert(o.value("id").toInt(), o.value("result").toObject().value("result").toObject().value("value"));
        });
        if (!running())
            m_why = QStringLiteral("its DevTools connection did not open (%1): %2").arg(page, m_socket.errorString());
        return running();
    }
    // A script's value in the page (undefined: null).
    QJsonValue evaluate(const QString &expression)
    {
        const int id = ++m_lastId;
        m_socket.sendTextMessage(QString::fromUtf8(QJsonDocument(QJsonObject{
            {"id", id}, {"method", "Runtime.evaluate"},
            {"params", QJsonObject{{"expression", expression}, {"returnByValue", true}, {"awaitPromise", true}}}}).toJson()));
        QElapsedTimer clock;
        clock.start();
        while (!m_answers.contains(id) && clock.elapsed() < 10000)
            QTest::qWait(10);
        return m_answers.take(id);
    }

private:
    QString m_url, m_size, m_why;
    QTemporaryDir m_profile;
    QProcess m_process;
    QWebSocket m_socket;
    QHash<int, QJsonValue> m_answers;
    int m_lastId = 0;
};
} // namespace

class tst_web_browser : public QObject {
    Q_OBJECT
private slots:
    void pageFollowsTheBin_data();
    void pageFollowsTheBin();
    void airAndAdvice();
};

void tst_web_browser::pageFollowsTheBin_data()
{
    QTest::addColumn<QString>("size");
    QTest::newRow("phone") << "360,740";
    QTest::newRow("desktop") << "1280,800";
}

void tst_web_browser::pageFollowsTheBin()
{
    QFETCH(QString, size);
    QTemporaryDir dir;
    QProcess sim, collect;
    sim.start(QStringLiteral(VXSIM_PATH), {"--link", dir.filePath("bus"), "--addresses", "1-6", "--control", dir.filePath("control")});
    QVERIFY(sim.waitForReadyRead(5000));
    const int port = freeTcpPort();
    collect.start(QStringLiteral(VXCOLLECT_PATH), {"--port", dir.filePath("bus"), "--addresses", "1-6", "--dir", dir.path(), "--quiet",
                                                   "--metrics", QStringLiteral("127.0.0.1:%1").arg(port)});
    QVERIFY(collect.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(
        QJsonDocument::fromJson(httpGet(port, "/api/readings").second).object().value("cables").toArray().size() == 6, 20000);

    Browser browser(QStringLiteral("http://127.0.0.1:%1/?lang=zh").arg(port), size);
    VX_REQUIRE_SERVER(browser, "chromium");
    // The map as drawn: six cables by eighteen layers, and the page no wider than the screen (the map scrolls).
    QTRY_COMPARE_WITH_TIMEOUT(browser.evaluate("document.querySelectorAll('#map td').length").toInt(), 6 * 18, 15000);
    QVERIFY(browser.evaluate("document.body.scrollWidth <= window.innerWidth").toBool());
    QCOMPARE(browser.evaluate("document.querySelector('nav a[href=\"#alarms\"]').textContent").toString(), QStringLiteral("报警"));
    const QString cell = QStringLiteral("document.querySelector('#map td[data-cable=\"3\"][data-layer=\"5\"]')");
    const double before = browser.evaluate(cell + ".textContent").toString().toDouble();
    QVERIFY(before > 10 && before < 30);
    const QJsonValue paint = browser.evaluate("(performance.getEntriesByName('first-contentful-paint')[0] || {}).startTime");

    // The simulator heats cable 3: the page, never reloaded, shows it hot and marked, and lists the group.
    QFile control(dir.filePath("control"));
    QVERIFY(control.open(QIODevice::WriteOnly));
    control.write("heat 3 20\n");
    control.close();
    QTRY_VERIFY_WITH_TIMEOUT(browser.evaluate(cell + ".className").toString().contains("alarm-high"), 20000);
    QVERIFY(browser.evaluate(cell + ".textContent").toString().toDouble() > before + 10);
    QVERIFY(browser.evaluate("[...document.querySelectorAll('#alarmList li')].some(li => li.dataset.rule === "
                             "'high_temperature' && li.dataset.cable === '3' && li.classList.contains('high'))")
                .toBool());
    QVERIFY(!browser.evaluate("document.querySelector('#map td[data-cable=\"2\"][data-layer=\"5\"]').className").toString().contains("alarm"));
    // Once more in a browser already running: the page's own time to paint.
    browser.evaluate("location.reload()");
    QTRY_COMPARE_WITH_TIMEOUT(browser.evaluate("document.querySelectorAll('#map td').length").toInt(), 6 * 18, 15000);
    const QJsonValue again = browser.evaluate("(performance.getEntriesByName('first-contentful-paint')[0] || {}).startTime");
    qInfo("first contentful paint %.0f ms after navigation (a cold browser), %.0f ms on a reload", paint.toDouble(),
          again.toDouble());
    signalProcess(collect, SIGTERM);
    collect.waitForFinished(10000);
    sim.terminate();
    sim.waitForFinished(3000);
}

// A transmitter given on vxcollect's command line: the outside air and the
// bin's advice listed under the figures (no depot file: no grain moisture, so no).
void tst_web_browser::airAndAdvice()
{
    QTemporaryDir dir;
    QProcess sim, collect;
    sim.start(QStringLiteral(VXSIM_PATH), {"--link", dir.filePath("bus"), "--addresses", "1-2", "--air", "50:th", "--weather", "7,0,55,0"});
    QVERIFY(sim.waitForReadyRead(5000));
    QFile ini(dir.filePath("alarms.ini"));
    QVERIFY(ini.open(QIODevice::WriteOnly) && ini.write("[ventilation]\nevery_seconds = 1\n") > 0);
    ini.close();
    const int port = freeTcpPort();
    collect.start(QStringLiteral(VXCOLLECT_PATH), {"--port", dir.filePath("bus"), "--addresses", "1-2", "--air", "50:th:outside", "--dir",
                                                   dir.path(), "--quiet", "--metrics", QStringLiteral("127.0.0.1:%1").arg(port)});
    QVERIFY(collect.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(QJsonDocument::fromJson(httpGet(port, "/api/depot").second).object().value("bins").toArray().at(0)
                                 .toObject().contains("ventilation"), 20000);
    Browser browser(QStringLiteral("http://127.0.0.1:%1/?lang=zh").arg(port), QStringLiteral("1280,800"));
    VX_REQUIRE_SERVER(browser, "chromium");
    const QString items = QStringLiteral("[...document.querySelectorAll('#airList li')].map(li => li.textContent).join('|')");
    QTRY_VERIFY_WITH_TIMEOUT(browser.evaluate(items).toString().contains("外界 7.0 °C 55%RH 露点 -1.4 °C"), 15000);
    QVERIFY2(browser.evaluate(items).toString().contains("不宜通风：缺少粮温、外温、外湿或粮食水分"), qPrintable(browser.evaluate(items).toString()));
    signalProcess(collect, SIGTERM);
    collect.waitForFinished(10000);
    sim.terminate();
    sim.waitForFinished(3000);
}

QTEST_GUILESS_MAIN(tst_web_browser)
#include "tst_web_browser.moc"
