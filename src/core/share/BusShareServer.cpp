#include "core/share/BusShareServer.h"

#include "core/share/BusLease.h"

#include <QFile>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>

#include <sys/stat.h>

namespace vx {

void BusShareServer::Reply::operator()(const QJsonObject &answer)
{
    if (m_socket) {
        m_socket->write(busshare::line(answer));
        m_socket->flush();
    }
    m_socket.clear(); // once
}

BusShareServer::BusShareServer(QObject *parent) : QObject(parent)
{
}

BusShareServer::~BusShareServer()
{
    if (m_server)
        m_server->close(); // removes the socket file
}

bool BusShareServer::listen(const QString &path, QString *why)
{
    {
        QLocalSocket probe;
        probe.connectToServer(path);
        if (probe.waitForConnected(500)) {
            *why = QStringLiteral("%1 belongs to a running service (another vxcollect?)").arg(path);
            return false;
        }
    }
    QLocalServer::removeServer(path); // a file a killed service left
    m_server = new QLocalServer(this);
    // Made with 0770 (no moment open to others), then the execute bits go.
    m_server->setSocketOptions(QLocalServer::UserAccessOption | QLocalServer::GroupAccessOption);
    if (!m_server->listen(path)) {
        *why = QStringLiteral("cannot listen at %1: %2").arg(path, m_server->errorString());
        delete m_server;
        m_server = nullptr;
        return false;
    }
    ::chmod(QFile::encodeName(path).constData(), 0660);
    m_path = path;
    connect(m_server, &QLocalServer::newConnection, this, &BusShareServer::accept);
    return true;
}

void BusShareServer::accept()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readFrom(socket); });
        connect(socket, &QLocalSocket::disconnected, this, [this, socket] {
            if (m_closed)
                m_closed(quintptr(socket));
            socket->deleteLater();
        });
    }
}

void BusShareServer::readFrom(QLocalSocket *socket)
{
    while (socket->canReadLine()) {
        const QByteArray text = socket->readLine(busshare::kMaxLineBytes + 1);
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(text, &error);
        if (!document.isObject()) {
            Reply{socket}(busshare::refused(QStringLiteral("bad_request"), QStringLiteral("one JSON object per line")));
            continue;
        }
        if (m_handler)
            m_handler(document.object(), quintptr(socket), Reply(socket));
    }
    if (socket->bytesAvailable() > busshare::kMaxLineBytes) { // no line is that long: whoever it is, goodbye
        Reply{socket}(busshare::refused(QStringLiteral("bad_request"), QStringLiteral("line too long")));
        socket->disconnectFromServer();
    }
}

} // namespace vx
