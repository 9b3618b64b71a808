#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>

class QSocketNotifier;

namespace vx::test {

// The far end of a pseudo-terminal pair: the program opens slavePath() as
// its serial port, the test reads and answers on the master side. A
// responder turns each complete request into a reply.
class PtyPeer : public QObject {
    Q_OBJECT
public:
    // Given the bytes received so far, returns how many form the next
    // complete request (0: wait for more).
    using Framer = std::function<int(const QByteArray &pending)>;
    using Responder = std::function<QByteArray(const QByteArray &request)>;

    PtyPeer();
    ~PtyPeer() override;

    bool isValid() const { return m_master >= 0; }
    QString slavePath() const { return m_slavePath; }

    void setFramer(Framer framer) { m_framer = std::move(framer); }
    void setResponder(Responder responder) { m_responder = std::move(responder); }
    void send(const QByteArray &bytes);

    QList<QByteArray> requests;

    // Requests of 8 bytes, the 15-byte serial write, and the search's trailing byte.
    static int modbusRequestLength(const QByteArray &pending);

signals:
    void requestReceived(const QByteArray &request);

private:
    void onReadable();

    int m_master = -1;
    int m_slave = -1; // kept open so the pair survives the program closing its end
    QString m_slavePath;
    QSocketNotifier *m_notifier = nullptr;
    QByteArray m_pending;
    Framer m_framer;
    Responder m_responder;
};

} // namespace vx::test
