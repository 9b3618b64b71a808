#pragma once

#include <QJsonObject>
#include <QString>

#include <memory>

class QLocalSocket;

namespace vx {

// The window's side of the collecting service's control socket: one request,
// its answer within three seconds. Blocking, on purpose: the window has
// nothing better to do while it asks for the bus.
class BusServiceLink {
public:
    enum class Failure { None, NoService, NotPermitted, NoAnswer, Refused };
    struct Answer {
        Failure failure = Failure::None;
        QJsonObject reply; // the service's, when it answered (refusals too)
        QString detail;    // the socket's or the service's own words
        bool ok() const { return failure == Failure::None; }
    };

    explicit BusServiceLink(QString path);
    ~BusServiceLink();

    const QString &path() const { return m_path; }
    Answer ask(const QJsonObject &request, int withinMs);
    // No answer wanted (a frame); false when it could not be handed over.
    bool send(const QJsonObject &request);
    void close();

    // Where a service's socket is: $VXMON_COLLECT_SOCKET, else the program
    // directory's vxcollect.sock, else the package's. Empty: none exists.
    static QString find(const QString &programDir);

private:
    bool connectNow(Answer *answer, int withinMs);

    QString m_path;
    std::unique_ptr<QLocalSocket> m_socket;
};

} // namespace vx
