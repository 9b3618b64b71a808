#include "core/frames/FrameScan.h"

#include "core/frames/Crc16.h"

namespace vx {

namespace {

bool validAddress(quint8 address, const FrameRule &rule)
{
    return address >= 1 && address <= rule.maxAddress;
}

// Whether bytes[at..] could be the first bytes of a frame.
bool mayBeginFrame(const QByteArray &bytes, qsizetype at, const FrameRule &rule)
{
    if (!validAddress(quint8(bytes[at]), rule))
        return false;
    if (at + 1 < bytes.size() && quint8(bytes[at + 1]) != rule.function)
        return false;
    return rule.length > 0 || readReplyLength(bytes, at) != 0;
}

// The length a frame starting at bytes[at] would have: 0 for none, -1 not known yet.
int frameLengthAt(const QByteArray &bytes, qsizetype at, const FrameRule &rule)
{
    return rule.length > 0 ? rule.length : readReplyLength(bytes, at);
}

// The length of the acceptable frame starting at bytes[at], or 0.
int acceptedLengthAt(const QByteArray &bytes, qsizetype at, const FrameRule &rule)
{
    if (bytes.size() - at < 5 || !validAddress(quint8(bytes[at]), rule) || quint8(bytes[at + 1]) != rule.function)
        return 0;
    const int length = frameLengthAt(bytes, at, rule);
    if (length < 5 || bytes.size() - at < length)
        return 0;
    const quint16 crc = crc16Modbus(bytes.constData() + at, length - 2);
    const qsizetype end = at + length;
    const bool match = quint8(bytes[end - 2]) == (crc & 0xFF) && quint8(bytes[end - 1]) == (crc >> 8);
    return match ? length : 0;
}

// Whether a complete acceptable frame starts anywhere in bytes[from..].
bool frameStartsFrom(const QByteArray &bytes, qsizetype from, const FrameRule &rule)
{
    for (qsizetype at = from; at < bytes.size(); ++at)
        if (acceptedLengthAt(bytes, at, rule) > 0)
            return true;
    return false;
}

} // namespace

int readReplyLength(const QByteArray &bytes, qsizetype at)
{
    if (bytes.size() - at < 3)
        return -1;
    const int count = quint8(bytes[at + 2]);
    if (count == 0 || count % 2 != 0 || count > kMaxReadByteCount)
        return 0;
    return 5 + count;
}

bool acceptsFrame(const QByteArray &frame, const FrameRule &rule)
{
    if (rule.length > 0 && rule.length < 5)
        return false;
    return acceptedLengthAt(frame, 0, rule) == frame.size();
}

FrameScan scanFrames(const QByteArray &bytes, const FrameRule &rule)
{
    FrameScan scan;
    if (rule.length > 0 && rule.length < 5) { // address, function, CRC and at least one byte between
        scan.skipped = int(bytes.size());
        return scan;
    }
    qsizetype at = 0;
    while (at < bytes.size()) {
        if (const int length = acceptedLengthAt(bytes, at, rule)) {
            scan.frames.append(bytes.mid(at, length));
            scan.starts.append(at);
            at += length;
            continue;
        }
        const int length = frameLengthAt(bytes, at, rule);
        const bool incomplete = length < 0 || bytes.size() - at < length;
        // A start whose rest may still come waits, unless a whole frame follows inside it.
        if (incomplete && mayBeginFrame(bytes, at, rule) && !frameStartsFrom(bytes, at + 1, rule))
            break;
        ++at;
        ++scan.skipped;
    }
    scan.tail = bytes.mid(at);
    return scan;
}

} // namespace vx
