#include "core/link/QtSerialPort.h"

#include "core/link/TcpTarget.h"

#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>

#include <sys/ioctl.h>
#include <termios.h>

namespace vx {

QtSerialPort::QtSerialPort(Resolver resolver, QObject *parent)
    : SerialPort(parent), m_resolver(std::move(resolver))
{
    connect(&m_port, &QSerialPort::readyRead, this, &QtSerialPort::onReadyRead);
    connect(&m_port, &QSerialPort::errorOccurred, this, &QtSerialPort::onError);
    m_lookAgain.setSingleShot(true);
    m_lookAgain.setTimerType(Qt::PreciseTimer);
    connect(&m_lookAgain, &QTimer::timeout, this, &QtSerialPort::lookedAgain);
}

bool QtSerialPort::open()
{
    if (isOpen())
        return true;
    const QString device = deviceName();
    if (isTcpDevice(device))
        return openTcp(device);
    m_port.setPortName(device);
    if (!m_port.open(QIODevice::ReadWrite)) {
        m_openError = m_port.errorString();
        return false;
    }
    // A rate the driver refuses leaves the port at its previous rate, as a
    // settings string with an odd number does on the original control.
    m_port.setBaudRate(baudRate());
    m_port.setDataBits(QSerialPort::Data8);
    m_port.setParity(QSerialPort::NoParity);
    m_port.setStopBits(QSerialPort::OneStop);
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    m_wakeAfter = -1;
    m_lookAwayBaud = 0; // what was learnt about the line starts again
    m_linePaced = false;
    m_firstPieceAwaited = false;
    m_sentSinceLook = 0;
    neededChanged();
    return true;
}

bool QtSerialPort::openTcp(const QString &device)
{
    const auto target = parseTcpTarget(device);
    if (!target) {
        m_openError = QStringLiteral("\"%1\" is not tcp://HOST:PORT").arg(device);
        return false;
    }
    delete m_socket;
    m_socket = new QTcpSocket(this);
    QEventLoop wait;
    QTimer timeout;
    timeout.setSingleShot(true);
    connect(&timeout, &QTimer::timeout, &wait, &QEventLoop::quit);
    connect(m_socket, &QTcpSocket::connected, &wait, &QEventLoop::quit);
    connect(m_socket, &QTcpSocket::errorOccurred, &wait, &QEventLoop::quit);
    m_socket->connectToHost(target->host, target->port);
    timeout.start(m_connectTimeoutMs);
    if (m_socket->state() != QAbstractSocket::ConnectedState && m_socket->state() != QAbstractSocket::UnconnectedState)
        wait.exec(QEventLoop::ExcludeUserInputEvents);
    if (m_socket->state() != QAbstractSocket::ConnectedState) {
        m_openError = m_socket->error() == QAbstractSocket::UnknownSocketError
                          ? QStringLiteral("no connection to %1 within %2 ms").arg(target->display()).arg(m_connectTimeoutMs)
                          : QStringLiteral("cannot connect to %1: %2").arg(target->display(), m_socket->errorString());
        m_socket->abort();
        m_socket->deleteLater();
        m_socket = nullptr;
        return false;
    }
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    m_socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    connect(m_socket, &QTcpSocket::readyRead, this, &QtSerialPort::onReadyRead);
    connect(m_socket, &QTcpSocket::disconnected, this, &QtSerialPort::onSocketLost);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &QtSerialPort::onSocketLost);
    return true;
}

void QtSerialPort::onSocketLost()
{
    if (!m_socket)
        return;
    // Like a serial adapter pulled out: said once, closed, chosen again.
    m_socket->disconnect(this);
    m_socket->abort();
    m_socket->deleteLater();
    m_socket = nullptr;
    discardWaiting();
    emit commEvent(CommEvent::Error);
}

void QtSerialPort::close()
{
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
        m_socket->deleteLater();
        m_socket = nullptr;
    }
    if (m_port.isOpen())
        m_port.close();
    m_lookAgain.stop();
    discardWaiting();
}

bool QtSerialPort::isOpen() const
{
    if (m_socket)
        return m_socket->state() == QAbstractSocket::ConnectedState;
    return m_port.isOpen();
}

QString QtSerialPort::deviceName() const
{
    return m_resolver ? m_resolver(portNumber()) : QString();
}

bool QtSerialPort::writeToDevice(const QByteArray &bytes)
{
    if (m_socket) {
        if (m_socket->write(bytes) != bytes.size())
            return false;
        m_socket->flush();
        return true;
    }
    if (m_port.write(bytes) != bytes.size())
        return false;
    // Out now rather than on the next pass of the event loop: the request
    // leaves sooner and the loop wakes once less per exchange.
    m_port.flush();
    m_sentSinceLook += int(bytes.size()); // a reply comes after these
    neededChanged();
    return true;
}

void QtSerialPort::discardDeviceInput()
{
    if (m_socket) {
        m_socket->readAll(); // what the socket's buffer holds; nothing can reach back further
        return;
    }
    if (m_port.isOpen()) {
        watchAgain(); // a new request before the look: judged on what came meanwhile
        m_port.clear(QSerialPort::Input);
        m_port.readAll(); // anything Qt had buffered but not yet signalled
    }
}

void QtSerialPort::discardDeviceOutput()
{
    if (m_port.isOpen())
        m_port.clear(QSerialPort::Output);
}

void QtSerialPort::neededChanged()
{
    // Applied once control is back in the event loop: a request and its reply
    // change the need several times, and only the last value is waited on.
    if (m_wakeAfterQueued || !m_port.isOpen())
        return;
    m_wakeAfterQueued = true;
    QMetaObject::invokeMethod(this, &QtSerialPort::applyWakeAfter, Qt::QueuedConnection);
}

void QtSerialPort::applyWakeAfter()
{
    // At 19200 baud a USB adapter hands over a piece of a reply every
    // millisecond, about twenty per 41-byte reply, and a terminal wakes its
    // poller for every piece whatever VMIN says. But the rest of a frame
    // cannot all be there before its wire time, nor a reply before the wire
    // time of its request and its own: until then the terminal is not watched,
    // and after that VMIN (with VTIME 0) holds the read back until the rest is
    // there. A pseudo-terminal may hand over a whole reply at once, long
    // before its wire time: so a reply is awaited from its request only once a
    // reply has been seen to come in pieces; until then its first byte is
    // watched for (and always with nothing asked, as in active upload).
    m_wakeAfterQueued = false;
    if (!m_port.isOpen())
        return;
    const int fd = int(m_port.handle());
    if (fd < 0)
        return;
    if (baudRate() != m_lookAwayBaud) { // learnt for another rate
        m_lookAwayBaud = baudRate();
        m_lookAwayShare = 1.0;
        m_linePaced = false;
    }
    const int sent = m_sentSinceLook;
    m_sentSinceLook = 0;
    const int begun = bytesWaiting();
    bool awaiting = true; // the rest of something: VMIN is what it still needs
    if (begun > 0) {
        if (m_firstPieceAwaited && begun < threshold())
            m_linePaced = true; // a reply's first piece came alone
        m_firstPieceAwaited = false;
        lookAway(fd, 0);
    } else if (sent > 0 && m_linePaced) {
        lookAway(fd, sent);
    } else {
        m_firstPieceAwaited = sent > 0 || (m_firstPieceAwaited && !m_lookAgain.isActive());
        watchAgain();
        awaiting = false;
    }
    const int wakeAfter = awaiting ? qBound(1, bytesNeeded(), 255) : 1;
    if (wakeAfter == m_wakeAfter)
        return;
    termios tio {};
    if (::tcgetattr(fd, &tio) != 0)
        return;
    tio.c_cc[VMIN] = cc_t(wakeAfter);
    tio.c_cc[VTIME] = 0;
    if (::tcsetattr(fd, TCSANOW, &tio) == 0)
        m_wakeAfter = wakeAfter;
}

void QtSerialPort::lookAway(int fd, int sentBefore)
{
    const int needed = bytesNeeded();
    const qint32 baud = baudRate();
    int there = 0;
    if (needed < kLookAwayFrom || baud <= 0 || ::ioctl(fd, FIONREAD, &there) != 0 || there >= needed) {
        watchAgain();
        return;
    }
    // Whole milliseconds, rounded down: on a line at the rate set, the look
    // comes no later than the last byte. A pseudo-terminal or a line set to
    // another rate may deliver sooner: see judgeLookAway().
    const double byteMs = 10.0 * 1000.0 / double(baud);
    const int ms = int(double(sentBefore + needed - there) * byteMs * m_lookAwayShare);
    if (ms < 2) { // not worth a timer
        watchAgain();
        return;
    }
    watchTerminal(false);
    m_lookAwayFor = needed;
    m_lookAwaySaw = there;
    m_lookAwayFromRequest = sentBefore > 0;
    m_lookAgain.start(ms);
}

void QtSerialPort::lookedAgain()
{
    int there = 0;
    const int fd = int(m_port.handle());
    if (fd < 0 || ::ioctl(fd, FIONREAD, &there) != 0) {
        watchTerminal(true);
        return;
    }
    const bool moving = there > m_lookAwaySaw;
    judgeLookAway(there);
    // Still coming: its rest cannot be there before its own wire time either.
    if (moving && there < bytesNeeded())
        lookAway(fd, 0);
    else
        watchTerminal(true);
}

void QtSerialPort::judgeLookAway(int there)
{
    if (m_lookAwayFor <= 0)
        return;
    m_lookAwayShare = nextLookAwayShare(m_lookAwayShare, m_lookAwayFromRequest, there >= m_lookAwayFor);
    m_lookAwayFor = 0;
}

double QtSerialPort::nextLookAwayShare(double share, bool afterRequest, bool allThere)
{
    // Not all there: the look was in time, and the share creeps back towards
    // the whole wire time. Halving on a look for the rest as well kept the
    // share near a half on a line at its rate: three looks per reply.
    if (!allThere)
        return qMin(1.0, share * 1.1);
    return afterRequest ? share / 2 : share;
}

void QtSerialPort::watchAgain()
{
    if (m_lookAgain.isActive()) {
        m_lookAgain.stop();
        int there = 0;
        const int fd = int(m_port.handle());
        if (fd >= 0 && ::ioctl(fd, FIONREAD, &there) == 0)
            judgeLookAway(there);
    }
    watchTerminal(true);
}

void QtSerialPort::watchTerminal(bool watch)
{
    // QSerialPort's own read notifier: it has no interface to pause reading.
    // Whatever else pauses it (a full read buffer) is resumed by the next read.
    for (QSocketNotifier *notifier : m_port.findChildren<QSocketNotifier *>(Qt::FindDirectChildrenOnly))
        if (notifier->type() == QSocketNotifier::Read && notifier->isEnabled() != watch)
            notifier->setEnabled(watch);
}

void QtSerialPort::onReadyRead()
{
    deliver(m_socket ? m_socket->readAll() : m_port.readAll());
}

void QtSerialPort::onError(QSerialPort::SerialPortError error)
{
    const bool deviceLost = error == QSerialPort::ResourceError || error == QSerialPort::ReadError
        || error == QSerialPort::WriteError;
    if (!deviceLost || !m_port.isOpen())
        return;
    // The device went away (adapter pulled, peer closed its end). Left open, a
    // hung-up terminal reports a read error on every poll; closed, it is
    // reported once and the operator chooses the port again.
    m_port.close();
    discardWaiting();
    emit commEvent(CommEvent::Error);
}

} // namespace vx
