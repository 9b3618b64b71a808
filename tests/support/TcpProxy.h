#pragma once

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

// A TCP proxy in the test's own event loop: forwards each connection to a
// target until stalled, then holds the connections open and passes nothing
// either way (a hung server or network box, as a client sees it).
class TcpProxy : public QObject {
public:
    explicit TcpProxy(quint16 targetPort) : m_target(targetPort)
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *client = m_server.nextPendingConnection()) {
                auto *upstream = new QTcpSocket(client);
                upstream->connectToHost(QHostAddress::LocalHost, m_target);
                auto pump = [this](QTcpSocket *from, QTcpSocket *to) {
                    if (!m_stalled && to->state() == QAbstractSocket::ConnectedState)
                        to->write(from->readAll());
                };
                connect(client, &QTcpSocket::readyRead, this, [=] { pump(client, upstream); });
                connect(upstream, &QTcpSocket::connected, this, [=] { pump(client, upstream); });
                connect(upstream, &QTcpSocket::readyRead, this, [=] { pump(upstream, client); });
                connect(client, &QTcpSocket::disconnected, upstream, &QTcpSocket::disconnectFromHost);
                connect(upstream, &QTcpSocket::disconnected, client, &QTcpSocket::disconnectFromHost);
            }
        });
    }
    quint16 port() const { return m_server.serverPort(); }
    void setStalled(bool stalled) { m_stalled = stalled; }

private:
    QTcpServer m_server;
    quint16 m_target;
    bool m_stalled = false;
};
