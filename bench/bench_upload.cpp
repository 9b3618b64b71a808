// Active-upload throughput: 31-byte frames from 36 devices through the real
// receive handler and the real window (offscreen), data logs on disk.
// Usage: bench_upload [frames]   (prints frames/s and microseconds per frame)
// Two streams: frames that repeat every 36 (values as a quiet store shows
// them, and the figure this benchmark has always printed), and frames whose
// values change every round (every box is rewritten: the worst case).

#include "Frames.h"
#include "TestWindow.h"

#include <QApplication>
#include <QElapsedTimer>

#include <cstdio>

#include "Callgrind.h"
#include "core/platform/LocalTime.h"

using namespace vx;
using namespace vx::test;

namespace {

// Feeds frames one receive event each (the worst case) and prints the figures.
bool run(const char *what, const QList<QByteArray> &stream, int frames, bool instrumented)
{
    TestWindow t;
    t.click(QStringLiteral("Command1"));
    QElapsedTimer clock;
    clock.start();
    if (instrumented)
        CALLGRIND_START_INSTRUMENTATION;
    for (int i = 0; i < frames; ++i) {
        t.port().feed(stream[i % stream.size()]);
        QCoreApplication::processEvents();
    }
    if (instrumented)
        CALLGRIND_STOP_INSTRUMENTATION;
    const double seconds = clock.nsecsElapsed() / 1e9;
    const int decoded = t.text(QStringLiteral("lblErrCounter")).toInt();
    std::printf("== %s\n", what);
    std::printf("frames sent       %d\n", frames);
    std::printf("frames decoded    %d\n", decoded);
    std::printf("frames per second %.0f\n", frames / seconds);
    std::printf("us per frame      %.1f\n", seconds * 1e6 / frames);
    return decoded == frames;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    vx::readLocalTimeZoneOnce(); // before any thread: see there
    QApplication app(argc, argv);
    const int frames = argc > 1 ? QByteArray(argv[1]).toInt() : 36000;
    // Under callgrind only one stream is counted: BENCH_CHANGING=1 picks the changing one.
    const bool changingCounted = qEnvironmentVariableIsSet("BENCH_CHANGING");

    QList<QByteArray> repeating, changing;
    for (int a = 1; a <= 36; ++a)
        repeating.append(replyFrame(quint8(a), ramp(13, quint16(2000 + a))));
    for (int round = 0; round < 100; ++round)
        for (int a = 1; a <= 36; ++a)
            changing.append(replyFrame(quint8(a), ramp(13, quint16(2000 + a + round))));

    bool ok = run("repeating values", repeating, frames, !changingCounted);
    ok = run("changing values", changing, frames, changingCounted) && ok;
    return ok ? 0 : 1;
}
