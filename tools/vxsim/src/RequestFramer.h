#pragma once

#include <QByteArray>
#include <QList>

namespace vxsim {

// Splits received bytes into requests: 15 bytes for a serial-number write
// (0x22 0x0C), 8 for every other request. Bytes that start no request with a
// valid CRC (noise, the search's trailing 0x00) are skipped one at a time.
class RequestFramer {
public:
    QList<QByteArray> push(const QByteArray &bytes);
    void clear() { m_pending.clear(); }
    int pending() const { return int(m_pending.size()); }
    int skipped() const { return m_skipped; }

private:
    QByteArray m_pending;
    int m_skipped = 0;
};

} // namespace vxsim
