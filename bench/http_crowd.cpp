// A crowd at an HTTP endpoint: IDLE connections that send nothing and
// SCRAPERS that ask GET /metrics again as soon as each answer is whole, for
// SECONDS. Prints what the crowd got; asserts nothing.
// Usage: http_crowd PORT IDLE SCRAPERS SECONDS
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
    std::vector<std::unique_ptr<QTcpSocket>> sockets;
    for (int i = 0; i < idle; ++i) {
        sockets.push_back(std::make_unique<QTcpSocket>());
        sockets.back()->connectToHost(QStringLiteral("127.0.0.1"), port);
    }
    qint64 answered = 0, refused = 0, reconnects = 0;
    for (int i = 0; i < scrapers; ++i) {
        auto *s = new QTcpSocket(&app);
        auto *received = new QByteArray;
        auto ask = [s] { s->write("GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"); };
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
    return 0;
}
