#include "platform/QtSerialPort.h"

#include "platform/TcpTarget.h"

#include <QEventLoop>
#include <QTimer>

#include <termios.h>

namespace vx {

QtSerialPort::QtSerialPort(Resolver resolver, QObject *parent)
    : SerialPort(parent), m_resolver(std::move(resolver))
{
    connect(&m_port, &QSerialPort::readyRead, this, &QtSerialPort::onReadyRead);
    connect(&m_port, &QSerialPort::errorOccurred, this, &QtSerialPort::onError);
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
    return true;
}

void QtSerialPort::discardDeviceInput()
{
    if (m_socket) {
        m_socket->readAll(); // what the socket's buffer holds; nothing can reach back further
        return;
    }
    if (m_port.isOpen()) {
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
    // A terminal with VMIN n (and VTIME 0) reports itself readable only once
    // n bytes have come. At 19200 baud an adapter may hand over every byte on
    // its own: without this, a 41-byte reply wakes the program 41 times.
    // Applied once control is back in the event loop: a request and its reply
    // change the need several times, and only the last value is waited on.
    if (m_wakeAfterQueued || !m_port.isOpen())
        return;
    m_wakeAfterQueued = true;
    QMetaObject::invokeMethod(this, &QtSerialPort::applyWakeAfter, Qt::QueuedConnection);
}

void QtSerialPort::applyWakeAfter()
{
    m_wakeAfterQueued = false;
    const int wakeAfter = qBound(1, bytesNeeded(), 255);
    if (wakeAfter == m_wakeAfter || !m_port.isOpen())
        return;
    termios tio {};
    const int fd = int(m_port.handle());
    if (fd < 0 || ::tcgetattr(fd, &tio) != 0)
        return;
    tio.c_cc[VMIN] = cc_t(wakeAfter);
    tio.c_cc[VTIME] = 0;
    if (::tcsetattr(fd, TCSANOW, &tio) == 0)
        m_wakeAfter = wakeAfter;
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
