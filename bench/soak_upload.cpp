// Accelerated soak: active-upload frames from 36 devices, cut into random
// pieces, through the real receive handler and window (offscreen), data logs
// on disk. Prints frames sent and decoded and resident memory before and after.
// Usage: soak_upload [frames]   (default 1000000)

#include "Soak.h"

#include <QApplication>

#include <cstdio>

using namespace vx::test;

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const qint64 frames = argc > 1 ? QByteArray(argv[1]).toLongLong() : 1000000;
    TestWindow t;
    const long afterStart = residentKb();
    t.click(QStringLiteral("Command1"));
    soakUpload(t, 3600); // warm up
    const SoakResult r = soakUpload(t, frames, 7);
    std::printf("resident after start-up %ld kB\n", afterStart);
    std::printf("resident soak start     %ld kB\n", r.rssStartKb);
    std::printf("resident soak end       %ld kB\n", r.rssEndKb);
    std::printf("frames sent             %lld\n", static_cast<long long>(r.sent));
    std::printf("frames decoded          %lld\n", static_cast<long long>(r.decoded));
    std::printf("seconds                 %.1f (%.0f frames/s)\n", r.seconds, r.sent / r.seconds);
    return r.decoded == r.sent ? 0 : 1;
}
