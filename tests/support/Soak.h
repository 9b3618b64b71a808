#pragma once

#include "TestWindow.h"

namespace vx::test {

struct SoakResult {
    qint64 sent = 0;
    qint64 decoded = 0;
    long rssStartKb = 0;
    long rssEndKb = 0;
    double seconds = 0;
};

// Resident memory of this process in kB (VmRSS).
long residentKb();

// Streams active-upload frames from 36 devices through the window's real
// receive handler, cut into pieces of random size (1 to 64 bytes) as a
// serial adapter delivers them. The window must be in active-upload mode.
SoakResult soakUpload(TestWindow &t, qint64 frames, quint32 seed = 1);

} // namespace vx::test
