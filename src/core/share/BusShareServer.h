#pragma once

#include <QJsonObject>
#include <QLocalSocket>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

class QLocalServer;

namespace vx {

// The collecting service's local control endpoint: a Unix-domain socket
// (mode 0660: its user and group) that takes one JSON request per line and
// answers each with one line, possibly later (a pause waits for the exchange
// in flight). Nothing of it is reachable from the network.
class BusShareServer : public QObject {
    Q_OBJECT
public:
    // Answers one request; may be kept and called later, once. Harmless when
    // the asker has gone.
    class Reply {
    public:
        Reply() = default;
        explicit Reply(QLocalSocket *socket) : m_socket(socket) {}
        void operator()(const QJsonObject &answer);
        bool pending() const { return !m_socket.isNull(); }

    private:
        QPointer<QLocalSocket> m_socket;
    };
    // connection: the same number for every request of one connection.
    using Handler = std::function<void(const QJsonObject &request, quintptr connection, Reply reply)>;

    explicit BusShareServer(QObject *parent = nullptr);
    ~BusShareServer() override;

    void setHandler(Handler handler) { m_handler = std::move(handler); }
    // Told when a connection closes (its holder died or went).
    void setClosedHandler(std::function<void(quintptr connection)> closed) { m_closed = std::move(closed); }
    // Listens at path. A socket file left by a service that is gone is
    // replaced; one that answers belongs to a live service and is left alone.
    bool listen(const QString &path, QString *why);
    QString path() const { return m_path; }

private:
    void accept();
    void readFrom(QLocalSocket *socket);

    QLocalServer *m_server = nullptr;
    QString m_path;
    Handler m_handler;
    std::function<void(quintptr)> m_closed;
};

} // namespace vx
