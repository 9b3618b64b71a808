#include "PtyPeer.h"

#include <QSocketNotifier>

#include <cerrno>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace vx::test {

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

PtyPeer::PtyPeer() : m_framer(&PtyPeer::modbusRequestLength)
{
    char name[256] = {};
    if (openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0) {
        m_master = m_slave = -1;
        return;
    }
    makeRaw(m_master);
    makeRaw(m_slave);
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    m_slavePath = QString::fromLocal8Bit(name);
    m_notifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &PtyPeer::onReadable);
}

PtyPeer::~PtyPeer()
{
    delete m_notifier;
    if (m_master >= 0)
        ::close(m_master);
    if (m_slave >= 0)
        ::close(m_slave);
}

void PtyPeer::send(const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno != EINTR && errno != EAGAIN)
            return;
        if (n > 0)
            done += n;
    }
}

int PtyPeer::modbusRequestLength(const QByteArray &pending)
{
    if (pending.size() < 3)
        return 0;
    const auto fun = quint8(pending[1]);
    const auto sub = quint8(pending[2]);
    int length = 8;
    if (fun == 0x22 && sub == 0x0C)
        length = 15;
    else if (fun == 0x06 && sub == 0x0C)
        length = 9; // the search request carries one byte after its CRC
    return pending.size() >= length ? length : 0;
}

void PtyPeer::onReadable()
{
    char buffer[512];
    for (;;) {
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n <= 0)
            break;
        m_pending.append(buffer, n);
    }
    while (int length = m_framer(m_pending)) {
        const QByteArray request = m_pending.left(length);
        m_pending.remove(0, length);
        requests.append(request);
        emit requestReceived(request);
        if (m_responder) {
            const QByteArray reply = m_responder(request);
            if (!reply.isEmpty())
                send(reply);
        }
    }
}

} // namespace vx::test
