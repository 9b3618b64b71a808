// A crowd at an HTTP endpoint: IDLE connections that send nothing and
// SCRAPERS that ask GET PATH (default /metrics) again as soon as each answer
// is whole, for SECONDS. With "hostile": as many again that send a request a
// byte a second (slowloris), that send a 10 MB header, and that open the
// event stream /api/stream and never read it. Prints what the crowd got;
// asserts nothing.
// Usage: http_crowd PORT IDLE SCRAPERS SECONDS [PATH] [hostile]
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <vector>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 5) {
        std::fprintf(stderr, "usage: http_crowd PORT IDLE SCRAPERS SECONDS\n");
        return 2;
    }
    const quint16 port = quint16(QByteArray(argv[1]).toInt());
    const int idle = QByteArray(argv[2]).toInt(), scrapers = QByteArray(argv[3]).toInt();
    const int seconds = QByteArray(argv[4]).toInt();
    const QByteArray path = argc > 5 ? QByteArray(argv[5]) : QByteArray("/metrics");
    const bool hostile = argc > 6 && QByteArray(argv[6]) == "hostile";
    qint64 bigRefused = 0, bigClosed = 0;
    if (hostile) {
        for (int i = 0; i < idle; ++i) {
            auto *slow = new QTcpSocket(&app);
            auto *timer = new QTimer(slow);
            auto *left = new QByteArray("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: " + QByteArray(4000, 'a') + "\r\n\r\n");
            QObject::connect(timer, &QTimer::timeout, slow, [slow, left] {
                if (!left->isEmpty() && slow->state() == QAbstractSocket::ConnectedState) {
                    slow->write(left->left(1));
                    left->remove(0, 1);
                }
            });
            timer->start(1000);
            slow->connectToHost(QStringLiteral("127.0.0.1"), port);
            auto *stream = new QTcpSocket(&app);
            stream->setReadBufferSize(1); // never reads: the server's unsent bytes pile up until it drops us
            QObject::connect(stream, &QTcpSocket::connected, stream,
                             [stream] { stream->write("GET /api/stream HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"); });
            stream->connectToHost(QStringLiteral("127.0.0.1"), port);
        }
        for (int i = 0; i < 10; ++i) {
            auto *big = new QTcpSocket(&app);
            QObject::connect(big, &QTcpSocket::connected, big, [big] {
                big->write("GET /api/readings HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Big: " + QByteArray(10 << 20, 'b') + "\r\n\r\n");
            });
            QObject::connect(big, &QTcpSocket::readyRead, big, [big, &bigRefused] {
                if (big->readAll().startsWith("HTTP/1.1 431"))
                    ++bigRefused;
            });
            // Closed while it still writes: the 431 is then lost in the reset, the connection gone all the same.
            QObject::connect(big, &QTcpSocket::disconnected, big, [&bigClosed] { ++bigClosed; });
            big->connectToHost(QStringLiteral("127.0.0.1"), port);
        }
    }
    std::vector<std::unique_ptr<QTcpSocket>> sockets;
    for (int i = 0; i < idle; ++i) {
        sockets.push_back(std::make_unique<QTcpSocket>());
        sockets.back()->connectToHost(QStringLiteral("127.0.0.1"), port);
    }
    qint64 answered = 0, refused = 0, reconnects = 0;
    for (int i = 0; i < scrapers; ++i) {
        auto *s = new QTcpSocket(&app);
        auto *received = new QByteArray;
        auto ask = [s, path] { s->write("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"); };
        QObject::connect(s, &QTcpSocket::connected, s, ask);
        QObject::connect(s, &QTcpSocket::readyRead, s, [=, &answered, &refused] {
            *received += s->readAll();
            const qsizetype head = received->indexOf("\r\n\r\n");
            const qsizetype at = received->toLower().indexOf("content-length:");
            if (head < 0 || at < 0)
                return;
            const qint64 length = received->mid(at + 15, received->indexOf('\r', at) - at - 15).trimmed().toLongLong();
            if (received->size() < head + 4 + length)
                return;
            (received->startsWith("HTTP/1.1 200") ? answered : refused) += 1;
            received->remove(0, head + 4 + length);
            ask();
        });
        QObject::connect(s, &QTcpSocket::disconnected, s, [=, &reconnects] {
            ++reconnects;
            received->clear();
            QTimer::singleShot(50, s, [s, port] { s->connectToHost(QStringLiteral("127.0.0.1"), port); });
        });
        s->connectToHost(QStringLiteral("127.0.0.1"), port);
    }
    QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
    app.exec();
    std::printf("scrapes answered   %lld (%.0f/s), refused %lld, reconnections %lld\n", answered,
                double(answered) / seconds, refused, reconnects);
    if (hostile)
        std::printf("10 MB headers      10 sent: %lld read a 431, %lld were closed by the server\n", bigRefused, bigClosed);
    // Closed while the event loop's machinery is still there, not by the application's destructor.
    qDeleteAll(app.findChildren<QTcpSocket *>(QString(), Qt::FindDirectChildrenOnly));
    sockets.clear();
    return 0;
}
