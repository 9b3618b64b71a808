// False frames in noise: random bytes in 0..36 (addresses the window accepts,
// and function code 3 among them) scanned the way the receive handler does,
// in pieces as a port delivers them, the unfinished start of a frame carried
// over to the next piece. Prints false frames per MB for the old rule (every
// offset tried with the fixed length the last request implied) and for
// framing by the byte count.
// Usage: noise_flood [MB]   (default 44, what a 60 s flood at 64 KB/s came to)

#include "core/frames/FrameScan.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QRandomGenerator>

#include <cstdio>

using namespace vx;

namespace {

struct Count {
    qint64 frames = 0;
    double seconds = 0;
};

Count scanFlood(const FrameRule &rule, int megabytes, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray carried;
    Count count;
    QElapsedTimer clock;
    clock.start();
    constexpr int kPiece = 64;
    const qint64 total = qint64(megabytes) * 1024 * 1024;
    QByteArray piece(kPiece, Qt::Uninitialized);
    for (qint64 sent = 0; sent < total; sent += kPiece) {
        for (char &c : piece)
            c = char(random.bounded(37));
        const FrameScan scan = scanFrames(carried + piece, rule);
        count.frames += scan.frames.size();
        // A start that never completes is cut, as a later request would clear it.
        carried = scan.tail.size() > 512 ? QByteArray() : scan.tail;
    }
    count.seconds = clock.nsecsElapsed() / 1e9;
    return count;
}

} // namespace

int main(int argc, char *argv[])
{
    const int megabytes = argc > 1 ? std::max(1, atoi(argv[1])) : 44;
    std::printf("%d MB of random bytes in 0..36, in 64-byte pieces\n", megabytes);
    const struct {
        const char *name;
        FrameRule rule;
    } rules[] = {
        {"fixed 31 bytes (before, upload)", {31, 0x03, 36}},
        {"fixed 41 bytes (before, 18 registers)", {41, 0x03, 36}},
        {"by byte count (now)", {0, 0x03, 36}},
    };
    for (const auto &r : rules) {
        const Count c = scanFlood(r.rule, megabytes, 2026);
        std::printf("%-40s %6lld false frames, %.3f per MB (%.1f MB/s scanned)\n", r.name,
                    static_cast<long long>(c.frames), double(c.frames) / megabytes, megabytes / c.seconds);
    }
    return 0;
}
