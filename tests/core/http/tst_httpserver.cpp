// The HTTP server's parsing and its limits, against real sockets.
#include "core/http/HttpServer.h"

#include <QSignalSpy>
#include <QTcpSocket>
#include <QtTest>

using namespace vx;

class tst_httpserver : public QObject {
    Q_OBJECT
private slots:
    void head_data();
    void head();
    void limits_data();
    void limits();
};

void tst_httpserver::head_data()
{
    QTest::addColumn<QByteArray>("received");
    QTest::addColumn<int>("refusal");       // 0: taken; -1: incomplete
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<bool>("keepAlive");
    QTest::newRow("1.1") << QByteArray("GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n") << 0 << QByteArray("/metrics") << true;
    QTest::newRow("1.1 close") << QByteArray("GET /a%20b?x=1 HTTP/1.1\r\nHost: x\r\nConnection: Close\r\n\r\n") << 0
                               << QByteArray("/a b") << false;
    QTest::newRow("1.0") << QByteArray("GET / HTTP/1.0\r\n\r\n") << 0 << QByteArray("/") << false;
    QTest::newRow("1.0 keep-alive") << QByteArray("GET / HTTP/1.0\nConnection: keep-alive\n\n") << 0 << QByteArray("/") << true;
    QTest::newRow("not yet whole") << QByteArray("GET / HTTP/1.1\r\nHost: x\r\n") << -1 << QByteArray() << false;
    QTest::newRow("no Host in 1.1") << QByteArray("GET / HTTP/1.1\r\n\r\n") << 400 << QByteArray() << false;
    QTest::newRow("bad request line") << QByteArray("GET /\r\n\r\n") << 400 << QByteArray() << false;
    QTest::newRow("not a path") << QByteArray("GET http://x/ HTTP/1.1\r\nHost: x\r\n\r\n") << 400 << QByteArray() << false;
    QTest::newRow("HTTP/2") << QByteArray("GET / HTTP/2.0\r\n\r\n") << 505 << QByteArray() << false;
    QTest::newRow("header without colon") << QByteArray("GET / HTTP/1.1\r\nHost x\r\n\r\n") << 400 << QByteArray() << false;
    QTest::newRow("chunked body") << QByteArray("POST / HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n") << 411
                                  << QByteArray() << false;
    QTest::newRow("body over the limit") << QByteArray("POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 70000\r\n\r\n") << 413
                                         << QByteArray() << false;
    QTest::newRow("negative length") << QByteArray("POST / HTTP/1.1\r\nHost: x\r\nContent-Length: -1\r\n\r\n") << 400
                                     << QByteArray() << false;
    QTest::newRow("head over the limit, unfinished") << "GET / HTTP/1.1\r\nX: " + QByteArray(17000, 'a') << 431
                                                     << QByteArray() << false;
}

void tst_httpserver::head()
{
    QFETCH(QByteArray, received);
    QFETCH(int, refusal);
    QFETCH(QByteArray, path);
    QFETCH(bool, keepAlive);
    const HttpHead head = parseHttpHead(received, HttpLimits{});
    if (refusal < 0) {
        QCOMPARE(head.state, HttpHead::State::Incomplete);
        return;
    }
    QCOMPARE(head.refusal, refusal);
    if (refusal == 0) {
        QCOMPARE(head.state, HttpHead::State::Complete);
        QCOMPARE(head.request.path, path);
        QCOMPARE(head.request.keepAlive(), keepAlive);
        QCOMPARE(head.headBytes, received.size());
    }
}

namespace {
// Everything a socket receives until it is closed or `ms` pass.
QByteArray readUntilClosed(QTcpSocket &s, int ms)
{
    QByteArray all;
    QElapsedTimer clock;
    clock.start();
    while (s.state() == QAbstractSocket::ConnectedState && clock.elapsed() < ms) {
        s.waitForReadyRead(50);
        all += s.readAll();
    }
    return all + s.readAll();
}
} // namespace

// What a client is answered, and whether its connection stays, for each limit.
void tst_httpserver::limits_data()
{
    QTest::addColumn<int>("idleClients");   // connections opened before, holding nothing
    QTest::addColumn<QList<QByteArray>>("writes"); // sent in order, 100 ms apart
    QTest::addColumn<QByteArray>("statuses"); // the status lines expected, space-separated
    QTest::addColumn<bool>("closed");
    const QByteArray get = "GET /x HTTP/1.1\r\nHost: t\r\n\r\n";
    QTest::newRow("kept alive") << 0 << QList<QByteArray>{get, get} << QByteArray("200 200") << false;
    QTest::newRow("pipelined") << 0 << QList<QByteArray>{get + get} << QByteArray("200 200") << false;
    QTest::newRow("close honoured") << 0 << QList<QByteArray>{"GET /x HTTP/1.1\r\nHost: t\r\nConnection: close\r\n\r\n"}
                                    << QByteArray("200") << true;
    QTest::newRow("head too large") << 0 << QList<QByteArray>{"GET /x HTTP/1.1\r\nCookie: " + QByteArray(100000, 'c')}
                                    << QByteArray("431") << true;
    QTest::newRow("slowloris") << 0 << QList<QByteArray>{"GET /x HTTP/1.1\r\n", "Host: t\r\n"} << QByteArray("408") << true;
    QTest::newRow("idle") << 0 << QList<QByteArray>{} << QByteArray() << true;
    QTest::newRow("too many") << 4 << QList<QByteArray>{} << QByteArray("503") << true;
}

void tst_httpserver::limits()
{
    QFETCH(int, idleClients);
    QFETCH(QList<QByteArray>, writes);
    QFETCH(QByteArray, statuses);
    QFETCH(bool, closed);
    HttpLimits limits;
    limits.maxConnections = 4;
    limits.idleTimeoutMs = 1500;
    limits.requestTimeoutMs = 1000;
    HttpServer server(limits);
    server.setHandler([](const HttpRequest &r) { return HttpResponse::text(200, r.path); });
    QString why;
    QVERIFY2(server.listen(QHostAddress::LocalHost, 0, &why), qPrintable(why));
    std::vector<std::unique_ptr<QTcpSocket>> idle;
    for (int i = 0; i < idleClients; ++i) {
        idle.push_back(std::make_unique<QTcpSocket>());
        idle.back()->connectToHost(QHostAddress::LocalHost, server.port());
        QVERIFY(idle.back()->waitForConnected(2000));
    }
    QTRY_COMPARE(server.connections(), idleClients);
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, server.port());
    QVERIFY(client.waitForConnected(2000));
    for (const QByteArray &w : writes) {
        client.write(w);
        client.waitForBytesWritten(1000);
        QTest::qWait(100);
    }
    // Closed answers end with the connection; open ones are read until the last expected status.
    const QByteArray received = closed ? readUntilClosed(client, 6000) : [&] {
        QByteArray all;
        QElapsedTimer clock;
        clock.start();
        while (all.count("HTTP/1.1 ") < statuses.count(' ') + 1 && clock.elapsed() < 3000) {
            client.waitForReadyRead(50);
            all += client.readAll();
        }
        return all;
    }();
    QList<QByteArray> got;
    for (qsizetype at = received.indexOf("HTTP/1.1 "); at >= 0; at = received.indexOf("HTTP/1.1 ", at + 1))
        got << received.mid(at + 9, 3);
    QCOMPARE(got.join(' '), statuses);
    QCOMPARE(client.state() != QAbstractSocket::ConnectedState, closed);
    if (idleClients > 0) {
        QCOMPARE(server.refusedConnections(), 1);
        // The idle ones go at their timeout, and the next client is served.
        QTRY_COMPARE_WITH_TIMEOUT(server.connections(), 0, 6000);
        QTcpSocket next;
        next.connectToHost(QHostAddress::LocalHost, server.port());
        QVERIFY(next.waitForConnected(2000));
        next.write("GET /again HTTP/1.0\r\n\r\n");
        QVERIFY(readUntilClosed(next, 3000).startsWith("HTTP/1.1 200"));
    }
}

QTEST_GUILESS_MAIN(tst_httpserver)
#include "tst_httpserver.moc"
