#include "Wire.h"

#include <QFile>
#include <QSocketNotifier>

#include <cerrno>
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

} // namespace vxsim
