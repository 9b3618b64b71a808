#include "core/FrameScan.h"

#include "core/Crc16.h"

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
    return at + 1 >= bytes.size() || quint8(bytes[at + 1]) == rule.function;
}

bool acceptsAt(const QByteArray &bytes, qsizetype at, const FrameRule &rule)
{
    if (!validAddress(quint8(bytes[at]), rule) || quint8(bytes[at + 1]) != rule.function)
        return false;
    const quint16 crc = crc16Modbus(bytes.constData() + at, rule.length - 2);
    const qsizetype end = at + rule.length;
    return quint8(bytes[end - 2]) == (crc & 0xFF) && quint8(bytes[end - 1]) == (crc >> 8);
}

} // namespace

bool acceptsFrame(const QByteArray &frame, const FrameRule &rule)
{
    return rule.length >= 5 && frame.size() == rule.length && acceptsAt(frame, 0, rule);
}

FrameScan scanFrames(const QByteArray &bytes, const FrameRule &rule)
{
    FrameScan scan;
    if (rule.length < 5) { // address, function, CRC and at least one byte between
        scan.skipped = int(bytes.size());
        return scan;
    }
    qsizetype at = 0;
    while (bytes.size() - at >= rule.length) {
        if (acceptsAt(bytes, at, rule)) {
            scan.frames.append(bytes.mid(at, rule.length));
            at += rule.length;
        } else {
            ++at;
            ++scan.skipped;
        }
    }
    while (at < bytes.size() && !mayBeginFrame(bytes, at, rule)) {
        ++at;
        ++scan.skipped;
    }
    scan.tail = bytes.mid(at);
    return scan;
}

} // namespace vx
