#include "core/share/BusServiceLink.h"

#include "core/share/BusLease.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLocalSocket>

namespace vx {

BusServiceLink::BusServiceLink(QString path) : m_path(std::move(path))
{
}

BusServiceLink::~BusServiceLink() = default;

QString BusServiceLink::find(const QString &programDir)
{
    const QString named = qEnvironmentVariable("VXMON_COLLECT_SOCKET");
    if (!named.isEmpty())
        return QFileInfo::exists(named) ? QFileInfo(named).absoluteFilePath() : QString();
    for (const QString &candidate : {QDir(programDir).filePath(QStringLiteral("vxcollect.sock")),
                                     QStringLiteral("/var/lib/vxcollect/vxcollect.sock")})
        if (QFileInfo::exists(candidate))
            return QFileInfo(candidate).absoluteFilePath();
    return {};
}

bool BusServiceLink::connectNow(Answer *answer, int withinMs)
{
    if (m_socket && m_socket->state() == QLocalSocket::ConnectedState)
        return true;
    m_socket = std::make_unique<QLocalSocket>();
    m_socket->connectToServer(m_path);
    if (m_socket->waitForConnected(withinMs))
        return true;
    switch (m_socket->error()) {
    case QLocalSocket::SocketAccessError:
        answer->failure = Failure::NotPermitted;
        break;
    case QLocalSocket::SocketTimeoutError:
        answer->failure = Failure::NoAnswer;
        break;
    default: // no file, or a file a killed service left: nobody there
        answer->failure = Failure::NoService;
    }
    answer->detail = m_socket->errorString();
    m_socket.reset();
    return false;
}

BusServiceLink::Answer BusServiceLink::ask(const QJsonObject &request, int withinMs)
{
    Answer answer;
    const QDeadlineTimer deadline(withinMs);
    if (!connectNow(&answer, withinMs))
        return answer;
    m_socket->write(busshare::line(request));
    m_socket->flush();
    while (!m_socket->canReadLine()) {
        if (deadline.hasExpired() || !m_socket->waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())))) {
            const bool gone = m_socket->state() != QLocalSocket::ConnectedState;
            answer.failure = gone ? Failure::NoService : Failure::NoAnswer;
            answer.detail = gone ? m_socket->errorString() : QStringLiteral("no answer within %1 ms").arg(withinMs);
            m_socket.reset(); // a late answer must not be read as the next one's
            return answer;
        }
    }
    answer.reply = QJsonDocument::fromJson(m_socket->readLine(busshare::kMaxLineBytes)).object();
    if (!answer.reply.value(QStringLiteral("ok")).toBool()) {
        answer.failure = Failure::Refused;
        answer.detail = answer.reply.value(QStringLiteral("text")).toString();
    }
    return answer;
}

bool BusServiceLink::send(const QJsonObject &request)
{
    Answer unused;
    if (!connectNow(&unused, busshare::kAnswerWithinMs))
        return false;
    const bool written = m_socket->write(busshare::line(request)) > 0;
    m_socket->flush();
    return written;
}

void BusServiceLink::close()
{
    if (m_socket) {
        m_socket->flush();
        m_socket->disconnectFromServer();
        if (m_socket->state() != QLocalSocket::UnconnectedState)
            m_socket->waitForDisconnected(1000);
    }
    m_socket.reset();
}

} // namespace vx
