#include "core/link/TcpTarget.h"

#include <QUrl>

namespace vx {

QString TcpTarget::display() const
{
    return host.contains(QLatin1Char(':')) ? QStringLiteral("[%1]:%2").arg(host).arg(port)
                                           : QStringLiteral("%1:%2").arg(host).arg(port);
}

std::optional<TcpTarget> parseTcpTarget(const QString &device)
{
    if (!isTcpDevice(device))
        return std::nullopt;
    const QUrl url(device.trimmed(), QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty() || url.port() < 1 || url.port() > 65535
        || !(url.path().isEmpty() || url.path() == QLatin1String("/")) || url.hasQuery() || !url.userInfo().isEmpty())
        return std::nullopt;
    return TcpTarget{url.host(), quint16(url.port())};
}

} // namespace vx
