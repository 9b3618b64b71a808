#pragma once

#include <QByteArray>
#include <QList>
#include <QtGlobal>

namespace vx {

// What a complete frame of a reply stream must look like.
struct FrameRule {
    // Bytes per frame, CRC included; 0: a read reply framed by its own byte
    // count (byte 2): 5 + count bytes, the count even and 2..250.
    int length = 0;
    quint8 function = 0;   // function code in byte 1
    int maxAddress = 36;   // byte 0 must lie in 1..maxAddress
};

struct FrameScan {
    QList<QByteArray> frames; // complete frames that passed every check, in order
    QList<qsizetype> starts;  // where each frame began in the bytes scanned
    QByteArray tail;          // the start of a frame whose rest has not arrived yet
    int skipped = 0;          // bytes that belonged to no acceptable frame
};

// Largest byte count of a read reply: 125 registers.
constexpr int kMaxReadByteCount = 250;

// The length of the read reply whose header starts at bytes[at]: 5 plus its
// byte count; 0 when the count cannot be a read reply's (odd, zero, over
// 250); -1 when the count byte has not arrived.
int readReplyLength(const QByteArray &bytes, qsizetype at);

// True when frame has the rule's length, a valid address, the function code
// and a matching CRC.
bool acceptsFrame(const QByteArray &frame, const FrameRule &rule);

// Splits received bytes into frames. A position where no acceptable frame
// starts is skipped one byte at a time, so noise, a truncated frame or a
// corrupted one costs only itself and the frames after it are still found.
// Bytes at the end that may begin a frame (a valid address, the function
// code, a plausible count) become the tail, unless a complete frame starts
// within them: then they were noise.
FrameScan scanFrames(const QByteArray &bytes, const FrameRule &rule);

} // namespace vx
