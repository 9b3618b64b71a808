// vxcollect's notifications against real receivers on 127.0.0.1: a webhook
// receiver (an HTTP server of the test's) that fails at first, is away while
// alarms happen and the collector is killed, and an SMTP server (aiosmtpd).
#include "ProcessSignal.h"
#include "FreePort.h"
#include "RequireServer.h"
#include "core/http/HttpServer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTcpSocket>
#include <QThread>
#include <QTest>

#include <csignal>

using namespace vx;

namespace {
// Takes POSTs; answers 500 to the first `failFirst` (or, with `hang`, holds
// the first past the sender's timeout), then 200; keeps what it accepted.
class Receiver {
public:
    explicit Receiver(int failFirst = 0, bool hang = false) : m_failFirst(failFirst), m_hang(hang)
    {
        m_server.setHandler([this](const HttpRequest &r) {
            QMutexLocker lock(&m_lock);
            if (m_seen++ < m_failFirst) {
                if (m_hang)
                    QThread::msleep(4000); // the sender gave up after 3 s: not taken
                return HttpResponse::text(500, "not now\n");
            }
            m_accepted << QJsonDocument::fromJson(r.body).object();
            return HttpResponse::text(200, "ok\n");
        });
    }
    bool listen(int port)
    {
        QString why;
        return m_server.listen(QHostAddress::LocalHost, quint16(port), &why);
    }
    QList<QJsonObject> accepted() const
    {
        QMutexLocker lock(&m_lock);
        return m_accepted;
    }
    QStringList subjects(const QString &kind = QString()) const
    {
        QStringList s;
        for (const QJsonObject &o : accepted())
            if (kind.isEmpty() || o.value(QStringLiteral("kind")).toString() == kind)
                s << o.value(QStringLiteral("subject")).toString();
        return s;
    }

private:
    HttpServer m_server;
    mutable QMutex m_lock;
    int m_failFirst;
    bool m_hang;
    int m_seen = 0;
    QList<QJsonObject> m_accepted;
};

// The simulator with its control channel and vxcollect on it, notifying `ini`'s channels.
struct Run {
    QTemporaryDir dir;
    QProcess sim, collect;
    QByteArray output;

    bool startSimulator()
    {
        sim.start(QStringLiteral(VXSIM_PATH), {"--link", dir.filePath(QStringLiteral("bus")), "--addresses", "1-3",
                                               "--control", dir.filePath(QStringLiteral("control"))});
        return sim.waitForReadyRead(5000);
    }
    bool startCollector(const QByteArray &ini)
    {
        QFile f(dir.filePath(QStringLiteral("vxcollect.conf")));
        if (!f.open(QIODevice::WriteOnly) || f.write(ini) != ini.size())
            return false;
        f.close();
        collect.setProcessChannelMode(QProcess::MergedChannels);
        collect.start(QStringLiteral(VXCOLLECT_PATH),
                      {"--port", dir.filePath(QStringLiteral("bus")), "--baud", "115200", "--addresses", "1-3", "--dir",
                       dir.path(), "--metrics", "off", "--site", "north", "--config", f.fileName()});
        return collect.waitForStarted();
    }
    void control(const QByteArray &command)
    {
        QFile fifo(dir.filePath(QStringLiteral("control")));
        if (fifo.open(QIODevice::WriteOnly))
            fifo.write(command + '\n');
    }
    // The latest status line's "notify: N waiting".
    int waiting()
    {
        output += collect.readAll();
        static const QRegularExpression said(QStringLiteral("notify: (\\d+) waiting"));
        int n = -1;
        for (auto it = said.globalMatch(QString::fromUtf8(output)); it.hasNext();)
            n = it.next().captured(1).toInt();
        return n;
    }
    void stop()
    {
        signalProcess(collect, SIGTERM);
        collect.waitForFinished(10000);
        sim.terminate();
        sim.waitForFinished(3000);
    }
};

QByteArray webhookChannel(int port)
{
    return "[notify.hook]\ntype=webhook\nurl=http://127.0.0.1:" + QByteArray::number(port) + "/hook\ntimeout=3\n";
}
} // namespace

class tst_vxcollect_notify : public QObject {
    Q_OBJECT
private slots:
    void everyMessageOnceInOrder_data();
    void everyMessageOnceInOrder();
    void receiverAwayAndCollectorKilled();
    void emailThroughSmtp_data();
    void emailThroughSmtp();
    void webhookOverTls_data();
    void webhookOverTls();
};

void tst_vxcollect_notify::everyMessageOnceInOrder_data()
{
    QTest::addColumn<bool>("hang");
    QTest::newRow("refuses twice") << false;
    QTest::newRow("hangs once") << true;
}

// The receiver refuses the first two posts (or hangs on the first): each
// message still arrives once, in the order it was made; a hot cable is one
// message per rule, not per point.
void tst_vxcollect_notify::everyMessageOnceInOrder()
{
    QFETCH(bool, hang);
    Run run;
    Receiver receiver(hang ? 1 : 2, hang);
    const int port = freeTcpPort();
    QVERIFY(receiver.listen(port));
    QVERIFY(run.startSimulator());
    QVERIFY(run.startCollector(webhookChannel(port)));
    QTRY_COMPARE_WITH_TIMEOUT(receiver.subjects(QStringLiteral("collector")).size(), 1, 20000); // after two refusals
    run.control("heat 2 15");
    QTRY_VERIFY_WITH_TIMEOUT(receiver.subjects(QStringLiteral("raised")).contains(QStringLiteral("[north] 报警（高）：高温 电缆02")), 20000);
    run.control("heat 2 0");
    QTRY_VERIFY_WITH_TIMEOUT(receiver.subjects(QStringLiteral("cleared")).contains(QStringLiteral("[north] 报警解除（高）：高温 电缆02")), 20000);
    run.stop();
    const QStringList all = receiver.subjects();
    QVERIFY2(all.last() == QStringLiteral("[north] 采集服务已停止"), qPrintable(all.join(QLatin1Char('\n'))));
    QCOMPARE(all.first(), QStringLiteral("[north] 采集服务已启动"));
    for (const QString &s : all)
        QVERIFY2(all.count(s) == 1, qPrintable(s));
    const QStringList raised = receiver.subjects(QStringLiteral("raised"));
    QVERIFY2(raised.size() <= 2, qPrintable(raised.join(QLatin1Char('\n')))); // high temperature and hot point at most
    QVERIFY(all.indexOf(QStringLiteral("[north] 报警（高）：高温 电缆02")) < all.indexOf(QStringLiteral("[north] 报警解除（高）：高温 电缆02")));
    const QJsonObject high = receiver.accepted().at(all.indexOf(QStringLiteral("[north] 报警（高）：高温 电缆02")));
    QCOMPARE(high.value(QStringLiteral("priority")).toString(), QStringLiteral("high"));
    QCOMPARE(high.value(QStringLiteral("cable")).toInt(), 2);
}

// Nobody listens while a cable heats and cools; the collector is killed
// (-9) with the messages unsent. Restarted with the receiver back, every
// message arrives, once.
void tst_vxcollect_notify::receiverAwayAndCollectorKilled()
{
    Run run;
    const int port = freeTcpPort();
    QVERIFY(run.startSimulator());
    QVERIFY(run.startCollector(webhookChannel(port)));
    QTRY_VERIFY_WITH_TIMEOUT(run.waiting() >= 1, 20000);
    run.control("heat 2 15");
    QTRY_VERIFY_WITH_TIMEOUT(run.waiting() >= 2, 20000);
    run.control("heat 2 0");
    QTRY_VERIFY_WITH_TIMEOUT(run.output.contains("cleared") || run.waiting() >= 3, 20000);
    const int before = run.waiting();
    QTRY_VERIFY_WITH_TIMEOUT(run.waiting() > before, 20000); // the cleared ones are stored too
    signalProcess(run.collect, SIGKILL);
    QVERIFY(run.collect.waitForFinished(5000));

    Receiver receiver;
    QVERIFY(receiver.listen(port));
    QVERIFY(run.startCollector(webhookChannel(port)));
    // The second start's message comes after everything the first run left.
    QTRY_COMPARE_WITH_TIMEOUT(receiver.subjects(QStringLiteral("collector")).size(), 2, 30000);
    run.stop();
    const QStringList all = receiver.subjects();
    qInfo("after the restart: %s", qPrintable(all.join(QStringLiteral(" | "))));
    for (const QString &s : receiver.subjects(QStringLiteral("raised")) + receiver.subjects(QStringLiteral("cleared")))
        QVERIFY2(all.count(s) == 1, qPrintable(s));
    QVERIFY(all.contains(QStringLiteral("[north] 报警（高）：高温 电缆02")));
    QVERIFY(all.contains(QStringLiteral("[north] 报警解除（高）：高温 电缆02")));
    QVERIFY(!all.contains(QStringLiteral("[north] 采集服务已停止")) || all.indexOf(QStringLiteral("[north] 采集服务已停止")) == all.size() - 1);
}

void tst_vxcollect_notify::emailThroughSmtp_data()
{
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<QByteArray>("answer");
    QTest::newRow("right password") << QByteArray("right-one") << QByteArray("mail: accepted: SMTP 250");
    QTest::newRow("wrong password") << QByteArray("wrong-one") << QByteArray("mail: NOT accepted: SMTP 535");
}

// An SMTP server (aiosmtpd) that wants a login and keeps mail in a mailbox:
// the test message arrives with its subject in UTF-8; a wrong password is
// refused with the server's reason, and no password is ever printed.
void tst_vxcollect_notify::emailThroughSmtp()
{
    QFETCH(QByteArray, password);
    QFETCH(QByteArray, answer);
    QTemporaryDir dir;
    QFile script(dir.filePath(QStringLiteral("smtp.py")));
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write("import sys, time\n"
                 "from aiosmtpd.controller import Controller\n"
                 "from aiosmtpd.handlers import Mailbox\n"
                 "from aiosmtpd.smtp import AuthResult, LoginPassword\n"
                 "def check(server, session, envelope, mechanism, data):\n"
                 "    return AuthResult(success=isinstance(data, LoginPassword) and data.login == b'keeper' and data.password == b'right-one', handled=False)\n"
                 "c = Controller(Mailbox(sys.argv[2]), hostname='127.0.0.1', port=int(sys.argv[1]), authenticator=check,\n"
                 "               auth_require_tls=False, auth_required=True)\n"
                 "c.start()\n"
                 "print('ready', flush=True)\n"
                 "time.sleep(600)\n");
    script.close();
    const int port = freeTcpPort();
    QProcess smtp;
    smtp.start(QStringLiteral("/usr/bin/python3"), {script.fileName(), QString::number(port), dir.filePath(QStringLiteral("mail"))});
    if (!smtp.waitForReadyRead(10000) || !smtp.readAllStandardOutput().contains("ready")) {
        if (qEnvironmentVariable("CI") == QLatin1String("true"))
            QFAIL("aiosmtpd (python3-aiosmtpd) cannot start");
        QSKIP("aiosmtpd (python3-aiosmtpd) cannot start");
    }
    QFile ini(dir.filePath(QStringLiteral("c.conf")));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write("[notify.mail]\ntype=email\nsmtp_url=smtp://127.0.0.1:" + QByteArray::number(port)
              + "\nfrom=vx@depot.example\nto=keeper@depot.example\nlanguage=en\nuser=keeper\npassword=" + password + "\n");
    ini.close();
    QProcess test;
    test.setProcessChannelMode(QProcess::MergedChannels);
    test.start(QStringLiteral(VXCOLLECT_PATH), {"--dir", dir.path(), "--site", "north", "--config", ini.fileName(), "notify-test"});
    QVERIFY(test.waitForFinished(20000));
    const QByteArray said = test.readAll();
    QVERIFY2(said.startsWith(answer) && !said.contains(password), said.constData());
    QCOMPARE(test.exitCode(), answer.contains("NOT") ? 1 : 0);
    const QStringList mails = QDir(dir.filePath(QStringLiteral("mail/new"))).entryList(QDir::Files);
    QCOMPARE(mails.size(), answer.contains("NOT") ? 0 : 1);
    if (!mails.isEmpty()) {
        QFile mail(dir.filePath(QStringLiteral("mail/new/")) + mails.first());
        QVERIFY(mail.open(QIODevice::ReadOnly));
        const QByteArray text = mail.readAll();
        QVERIFY(text.contains("To: keeper@depot.example"));
        QVERIFY(text.contains("Subject: =?UTF-8?B?" + QByteArray("vxcollect test message (north)").toBase64() + "?="));
    }
    smtp.kill();
    smtp.waitForFinished(3000);
}

void tst_vxcollect_notify::webhookOverTls_data()
{
    QTest::addColumn<QByteArray>("tls");
    QTest::addColumn<QByteArray>("answer");
    QTest::newRow("the test's CA") << QByteArray("ca_file=CA\n") << QByteArray("hook: accepted: HTTP 200");
    QTest::newRow("system CAs only") << QByteArray() << QByteArray("hook: NOT accepted: ");
    QTest::newRow("not verified") << QByteArray("verify_tls=false\n") << QByteArray("hook: accepted: HTTP 200");
}

// HTTPS with a certificate from a CA the test makes: verified against that CA,
// refused without it, taken unverified only when told so.
void tst_vxcollect_notify::webhookOverTls()
{
    QFETCH(QByteArray, tls);
    QFETCH(QByteArray, answer);
    QTemporaryDir dir;
    const auto sh = [&](const QString &script) {
        QProcess p;
        p.setWorkingDirectory(dir.path());
        p.start(QStringLiteral("/bin/sh"), {"-c", script});
        return p.waitForFinished(30000) && p.exitCode() == 0;
    };
    QVERIFY(sh(QStringLiteral(
        "openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 -subj /CN=test-ca 2>/dev/null && "
        "openssl req -newkey rsa:2048 -nodes -keyout srv.key -out srv.csr -subj /CN=127.0.0.1 2>/dev/null && "
        "printf 'subjectAltName=IP:127.0.0.1' > ext && "
        "openssl x509 -req -in srv.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out srv.pem -days 2 -extfile ext 2>/dev/null")));
    QFile script(dir.filePath(QStringLiteral("https.py")));
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write("import http.server, ssl, sys\n"
                 "class H(http.server.BaseHTTPRequestHandler):\n"
                 "    def do_POST(self):\n"
                 "        self.rfile.read(int(self.headers['Content-Length']))\n"
                 "        self.send_response(200); self.send_header('Content-Length', '3'); self.end_headers(); self.wfile.write(b'ok\\n')\n"
                 "s = http.server.HTTPServer(('127.0.0.1', 0), H)\n"
                 "c = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER); c.load_cert_chain('srv.pem', 'srv.key')\n"
                 "s.socket = c.wrap_socket(s.socket, server_side=True)\n"
                 "print(s.server_address[1], flush=True)\n"
                 "s.serve_forever()\n");
    script.close();
    QProcess server;
    server.setWorkingDirectory(dir.path());
    server.start(QStringLiteral("/usr/bin/python3"), {script.fileName()});
    QVERIFY(server.waitForReadyRead(10000));
    const int port = server.readLine().trimmed().toInt();
    QVERIFY(port > 0);
    QFile ini(dir.filePath(QStringLiteral("c.conf")));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write("[notify.hook]\ntype=webhook\nurl=https://127.0.0.1:" + QByteArray::number(port) + "/hook\ntimeout=5\n"
              + QByteArray(tls).replace("CA", dir.filePath(QStringLiteral("ca.pem")).toUtf8()));
    ini.close();
    QProcess test;
    test.start(QStringLiteral(VXCOLLECT_PATH), {"--dir", dir.path(), "--config", ini.fileName(), "notify-test"});
    QVERIFY(test.waitForFinished(20000));
    const QByteArray said = test.readAllStandardOutput();
    QVERIFY2(said.startsWith(answer), said.constData());
    QCOMPARE(test.exitCode(), answer.contains("NOT") ? 1 : 0);
    server.kill();
    server.waitForFinished(3000);
}

QTEST_MAIN(tst_vxcollect_notify)
#include "tst_vxcollect_notify.moc"
