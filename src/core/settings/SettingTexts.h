#pragma once

#include <QList>
#include <QString>

#include <optional>

namespace vx {

// The texts settings are written in, as options and INI files hold them; each
// parser gives nothing for a text that is not exactly such a value.

// "2026-12-07", "2026-12-07 08:30[:15]" (local time) or RFC 3339 with an offset,
// as UTC milliseconds; nothing for anything else.
std::optional<qint64> parseTimeArgument(const QString &text);

// "100M", "512k", "2G" (binary units), "1000" (bytes); nothing for anything else.
std::optional<qint64> parseByteSize(const QString &text);

// "1-36,40": addresses 1..247, in order, without repeats; nothing when the text is not such a list.
std::optional<QList<int>> parseAddressRanges(const QString &text);

// "host", "host:port", "[v6 address]:port"; nothing for anything else, or
// for a port outside 1..65535 (0 too when allowZero).
struct HostPort {
    QString host;
    int port = 0;
};
std::optional<HostPort> parseHostPort(const QString &text, int defaultPort, bool allowZero = false);

} // namespace vx
