#include "Soak.h"

#include "Frames.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>

#include <random>

namespace vx::test {

long residentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return 0;
}

SoakResult soakUpload(TestWindow &t, qint64 frames, quint32 seed)
{
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> pieceSize(1, 64);
    SoakResult r;
    const qint64 decodedBefore = t.text(QStringLiteral("lblErrCounter")).toLongLong();
    r.rssStartKb = residentKb();
    QElapsedTimer clock;
    clock.start();
    QByteArray pending;
    qint64 pieces = 0;
    for (qint64 i = 0; i < frames; ++i) {
        const auto device = quint8(1 + i % 36);
        pending += replyFrame(device, ramp(13, quint16(1000 + (i / 36) % 9000)));
        ++r.sent;
        while (pending.size() >= 64 || (i == frames - 1 && !pending.isEmpty())) {
            const int n = qMin<int>(pieceSize(rng), int(pending.size()));
            t.port().feed(pending.left(n));
            pending.remove(0, n);
            // The receive event on every piece; now and then a whole event-loop
            // pass, as the program makes between bursts, or other posted events pile up.
            if (++pieces % 64 == 0)
                QCoreApplication::processEvents();
            else
                QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
        }
    }
    QCoreApplication::processEvents();
    r.seconds = clock.nsecsElapsed() / 1e9;
    r.rssEndKb = residentKb();
    r.decoded = t.text(QStringLiteral("lblErrCounter")).toLongLong() - decodedBefore;
    return r;
}

} // namespace vx::test
