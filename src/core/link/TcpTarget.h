#pragma once

#include <QString>

#include <optional>

namespace vx {

// A serial device server in transparent mode: "tcp://HOST:PORT" where a
// device path would stand. The bytes on the connection are the RTU frames
// themselves, no MBAP header.
struct TcpTarget {
    QString host;
    quint16 port = 0;
    QString display() const;
};

// "tcp://10.1.2.3:4001", "tcp://gateway.local:4001", "tcp://[::1]:4001"; nothing
// for any other text (a device path) and for a port outside 1..65535.
std::optional<TcpTarget> parseTcpTarget(const QString &device);
inline bool isTcpDevice(const QString &device)
{
    return device.startsWith(QLatin1String("tcp://"), Qt::CaseInsensitive);
}

} // namespace vx
