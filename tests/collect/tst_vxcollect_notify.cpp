// vxcollect's notifications against real receivers on 127.0.0.1: a webhook
// receiver (an HTTP server of the test's) that fails at first, is away while
// alarms happen and the collector is killed, and an SMTP server (aiosmtpd).
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
#include <QTest>

#include <csignal>

using namespace vx;

namespace {
// Takes POSTs; answers 500 to the first `failFirst`, then 200; keeps what it accepted.
class Receiver {
public:
    explicit Receiver(int failFirst = 0) : m_failFirst(failFirst)
    {
        m_server.setHandler([this](const HttpRequest &r) {
            QMutexLocker lock(&m_lock);
            if (m_seen++ < m_failFirst)
                return HttpResponse::text(500, "not now\n");
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
        ::kill(pid_t(collect.processId()), SIGTERM);
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
    void everyMessageOnceInOrder();
    void receiverAwayAndCollectorKilled();
    void emailThroughSmtp();
};

// The receiver refuses the first two posts: each message still arrives once,
// in the order it was made; a hot cable is one message per rule, not per point.
void tst_vxcollect_notify::everyMessageOnceInOrder()
{
    Run run;
    Receiver receiver(2);
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
    ::kill(pid_t(run.collect.processId()), SIGKILL);
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

// An SMTP server collecting mail into a mailbox: the test message arrives with
// its subject in UTF-8 and its text.
void tst_vxcollect_notify::emailThroughSmtp()
{
    QTemporaryDir dir;
    const int port = freeTcpPort();
    QProcess smtp;
    smtp.start(QStringLiteral("/usr/bin/python3"), {"-m", "aiosmtpd", "-n", "-l", QStringLiteral("127.0.0.1:%1").arg(port),
                                                    "-c", "aiosmtpd.handlers.Mailbox", dir.filePath(QStringLiteral("mail"))});
    const bool up = smtp.waitForStarted(3000) && QTest::qWaitFor([&] {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, quint16(port));
        return probe.waitForConnected(200) || smtp.state() != QProcess::Running;
    }, 5000) && smtp.state() == QProcess::Running;
    if (!up) {
        if (qEnvironmentVariable("CI") == QLatin1String("true"))
            QFAIL("aiosmtpd (python3-aiosmtpd) cannot start");
        QSKIP("aiosmtpd (python3-aiosmtpd) cannot start");
    }
    QFile ini(dir.filePath(QStringLiteral("c.conf")));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write("[notify.mail]\ntype=email\nsmtp_url=smtp://127.0.0.1:" + QByteArray::number(port)
              + "\nfrom=vx@depot.example\nto=keeper@depot.example\nlanguage=en\n");
    ini.close();
    QProcess test;
    test.start(QStringLiteral(VXCOLLECT_PATH), {"--dir", dir.path(), "--site", "north", "--config", ini.fileName(), "notify-test"});
    QVERIFY(test.waitForFinished(20000));
    const QByteArray said = test.readAllStandardOutput();
    QVERIFY2(test.exitCode() == 0 && said.startsWith("mail: accepted: SMTP 250"), said.constData());
    QStringList mails;
    QTRY_VERIFY((mails = QDir(dir.filePath(QStringLiteral("mail/new"))).entryList(QDir::Files)).size() == 1);
    QFile mail(dir.filePath(QStringLiteral("mail/new/")) + mails.first());
    QVERIFY(mail.open(QIODevice::ReadOnly));
    const QByteArray text = mail.readAll();
    QVERIFY(text.contains("To: keeper@depot.example"));
    QVERIFY(text.contains("Subject: =?UTF-8?B?" + QByteArray("vxcollect test message (north)").toBase64() + "?="));
    smtp.terminate();
    smtp.waitForFinished(3000);
}

QTEST_MAIN(tst_vxcollect_notify)
#include "tst_vxcollect_notify.moc"
