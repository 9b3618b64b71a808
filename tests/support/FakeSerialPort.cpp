#include "FakeSerialPort.h"

#include <QCoreApplication>

namespace vx::test {

bool FakeSerialPort::open()
{
    if (!openable)
        return false;
    m_open = true;
    opens.append({portNumber(), settings()});
    return true;
}

void FakeSerialPort::close()
{
    if (stuckOpen)
        return;
    m_open = false;
    discardWaiting();
}

void FakeSerialPort::feedInPieces(const QByteArray &bytes, int pieceSize)
{
    for (qsizetype i = 0; i < bytes.size(); i += pieceSize) {
        deliver(bytes.mid(i, pieceSize));
        QCoreApplication::processEvents();
    }
}

bool FakeSerialPort::writeToDevice(const QByteArray &bytes)
{
    if (!m_clock.isValid())
        m_clock.start();
    written.append(bytes);
    writtenAtNs.append(m_clock.nsecsElapsed());
    return true;
}

} // namespace vx::test
