#include "Wire.h"

#include <QFile>
#include <QHostAddress>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace vxsim {

namespace {
void makeRaw(int fd)
{
    termios tio {};
    if (tcgetattr(fd, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(fd, TCSANOW, &tio);
    }
}
} // namespace

PtyWire::PtyWire(const QString &link, QObject *parent) : Wire(parent), m_link(link)
{
    char name[256] = {};
    if (openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0) {
        m_error = QString::fromLocal8Bit(std::strerror(errno));
        m_master = m_slave = -1;
        return;
    }
    makeRaw(m_master);
    makeRaw(m_slave);
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    m_slavePath = QString::fromLocal8Bit(name);
    if (!m_link.isEmpty()) {
        QFile::remove(m_link);
        if (!QFile::link(m_slavePath, m_link))
            m_error = QStringLiteral("cannot create link %1").arg(m_link);
    }
    m_notifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &PtyWire::onReadable);
}

PtyWire::~PtyWire()
{
    delete m_notifier;
    if (!m_link.isEmpty())
        QFile::remove(m_link);
    if (m_master >= 0)
        ::close(m_master);
    if (m_slave >= 0)
        ::close(m_slave);
}

void PtyWire::write(const QByteArray &bytes)
{
    qsizetype done = 0;
    int waits = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
        } else if (n < 0 && errno == EAGAIN && ++waits <= 50) {
            usleep(1000); // the reader is slow: give it a moment
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            return; // nobody reads: the bytes are lost, as on an open line
        }
    }
}

void PtyWire::onReadable()
{
    char buffer[1024];
    QByteArray bytes;
    for (;;) {
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n <= 0)
            break;
        bytes.append(buffer, n);
    }
    if (!bytes.isEmpty())
        emit received(bytes);
}

SerialWire::SerialWire(const QString &path, int baud, QObject *parent) : Wire(parent)
{
    m_port.setPortName(path);
    if (m_port.open(QIODevice::ReadWrite)) {
        m_port.setBaudRate(baud);
        m_port.setDataBits(QSerialPort::Data8);
        m_port.setParity(QSerialPort::NoParity);
        m_port.setStopBits(QSerialPort::OneStop);
        m_port.setFlowControl(QSerialPort::NoFlowControl);
    }
    connect(&m_port, &QSerialPort::readyRead, this, [this] { emit received(m_port.readAll()); });
}

TcpWire::TcpWire(const QString &host, int port, QObject *parent) : Wire(parent), m_server(new QTcpServer(this))
{
    QHostAddress address;
    if (!address.setAddress(host))
        address = host == QLatin1String("localhost") ? QHostAddress(QHostAddress::LocalHost) : QHostAddress();
    if (address.isNull()) {
        m_error = QStringLiteral("--tcp: \"%1\" is not an address of this machine").arg(host);
        return;
    }
    if (!m_server->listen(address, quint16(port))) {
        m_error = QStringLiteral("cannot listen on %1:%2: %3").arg(host).arg(port).arg(m_server->errorString());
        return;
    }
    connect(m_server, &QTcpServer::newConnection, this, &TcpWire::onNewConnection);
}

bool TcpWire::isOpen() const
{
    return m_server->isListening();
}

QString TcpWire::description() const
{
    const QHostAddress a = m_server->serverAddress();
    const QString host = a.protocol() == QAbstractSocket::IPv6Protocol ? QStringLiteral("[%1]").arg(a.toString())
                                                                       : a.toString();
    return QStringLiteral("tcp://%1:%2").arg(host).arg(m_server->serverPort());
}

void TcpWire::onNewConnection()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        if (m_client) {
            ++m_refused;
            std::fprintf(stderr, "vxsim: a second client refused (one at a time)\n");
            socket->abort();
            socket->deleteLater();
            continue;
        }
        m_client = socket;
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { emit received(socket->readAll()); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            if (m_client == socket)
                m_client = nullptr;
            socket->deleteLater();
        });
    }
}

void TcpWire::write(const QByteArray &bytes)
{
    if (m_client && m_client->state() == QAbstractSocket::ConnectedState) {
        m_client->write(bytes);
        m_client->flush();
    }
    // No client: the bytes are lost, as on a line nobody listens to.
}

} // namespace vxsim
