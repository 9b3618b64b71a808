#include "core/frames/HexText.h"

#include <QCoreApplication>

namespace vx {

namespace {
constexpr char kDigits[] = "0123456789ABCDEF";

// Writes bytes as two digits each, with sep placed before or after every
// pair. Filled in place: this runs for every reply, twice.
QString hexPairs(const QByteArray &bytes, bool sepBefore)
{
    QString text(bytes.size() * 3, Qt::Uninitialized);
    char16_t *out = reinterpret_cast<char16_t *>(text.data());
    for (char c : bytes) {
        const auto b = quint8(c);
        if (sepBefore)
            *out++ = u' ';
        *out++ = char16_t(kDigits[b >> 4]);
        *out++ = char16_t(kDigits[b & 0x0F]);
        if (!sepBefore)
            *out++ = u' ';
    }
    return text;
}
} // namespace

QString FormatHex(quint8 bb)
{
    const char pair[2] = {kDigits[bb >> 4], kDigits[bb & 0x0F]};
    return QString::fromLatin1(pair, 2);
}

QString HexText(const QByteArray &frame)
{
    return hexPairs(frame, false);
}

QString RecHex(const QByteArray &bytes)
{
    return hexPairs(bytes, true);
}

QString RecHexTail(const QByteArray &bytes, qsizetype maxBytes)
{
    if (bytes.size() <= maxBytes)
        return RecHex(bytes);
    const qsizetype cut = bytes.size() - maxBytes;
    return QCoreApplication::translate("vx", " [前 %1 字节略去]").arg(cut) + RecHex(bytes.right(maxBytes));
}

QString serialText(const QByteArray &bytes)
{
    return hexPairs(bytes, true).mid(1);
}

} // namespace vx
