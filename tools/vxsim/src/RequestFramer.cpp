#include "RequestFramer.h"

#include "core/frames/Crc16.h"

namespace vxsim {

QList<QByteArray> RequestFramer::push(const QByteArray &bytes)
{
    m_pending += bytes;
    QList<QByteArray> requests;
    while (m_pending.size() >= 3) {
        const bool serialWrite = quint8(m_pending[1]) == 0x22 && quint8(m_pending[2]) == 0x0C;
        const int length = serialWrite ? 15 : 8;
        if (m_pending.size() < length)
            break;
        if (vx::hasValidCrc(m_pending.left(length))) {
            requests << m_pending.left(length);
            m_pending.remove(0, length);
        } else {
            m_pending.remove(0, 1);
            ++m_skipped;
        }
    }
    return requests;
}

} // namespace vxsim
