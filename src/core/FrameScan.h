#pragma once

#include <QByteArray>
#include <QList>
#include <QtGlobal>

namespace vx {

// What a complete frame of a reply stream must look like.
struct FrameRule {
    int length = 0;        // bytes per frame, CRC included
    quint8 function = 0;   // function code in byte 1
    int maxAddress = 36;   // byte 0 must lie in 1..maxAddress
};

struct FrameScan {
    QList<QByteArray> frames; // complete frames that passed every check, in order
    QByteArray tail;          // the start of a frame whose rest has not arrived yet
    int skipped = 0;          // bytes that belonged to no acceptable frame
};

// True when frame has the rule's length, a valid address, the function code
// and a matching CRC.
bool acceptsFrame(const QByteArray &frame, const FrameRule &rule);

// Splits received bytes into frames of rule.length. A position where no
// acceptable frame starts is skipped one byte at a time, so noise, a
// truncated frame or a corrupted one costs only itself and the frames after
// it are still found. Fewer than rule.length bytes at the end become the
// tail when they may begin a frame (a valid address, then the function code).
FrameScan scanFrames(const QByteArray &bytes, const FrameRule &rule);

} // namespace vx
