// Active-upload throughput: 31-byte frames from 36 devices through the real
// receive handler and the real window (offscreen), data logs on disk.
// Usage: bench_upload [frames]   (prints frames/s and microseconds per frame)

#include "Frames.h"
#include "TestWindow.h"

#include <QApplication>
#include <QElapsedTimer>

#include <cstdio>
// Callgrind's client requests only when valgrind's headers are installed;
// the benchmark builds and runs without them.
#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#else
#define CALLGRIND_START_INSTRUMENTATION
#define CALLGRIND_STOP_INSTRUMENTATION
#endif

using namespace vx;
using namespace vx::test;

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int frames = argc > 1 ? QByteArray(argv[1]).toInt() : 36000;

    TestWindow t;
    t.click(QStringLiteral("Command1"));
    QList<QByteArray> stream;
    for (int a = 1; a <= 36; ++a)
        stream.append(replyFrame(quint8(a), ramp(13, quint16(2000 + a))));

    QElapsedTimer clock;
    clock.start();
    CALLGRIND_START_INSTRUMENTATION;
    for (int i = 0; i < frames; ++i) {
        t.port().feed(stream[i % 36]); // one receive event per frame: the worst case
        QCoreApplication::processEvents();
    }
    CALLGRIND_STOP_INSTRUMENTATION;
    const double seconds = clock.nsecsElapsed() / 1e9;

    const int decoded = t.text(QStringLiteral("lblErrCounter")).toInt();
    std::printf("frames sent       %d\n", frames);
    std::printf("frames decoded    %d\n", decoded);
    std::printf("frames per second %.0f\n", frames / seconds);
    std::printf("us per frame      %.1f\n", seconds * 1e6 / frames);
    return decoded == frames ? 0 : 1;
}
