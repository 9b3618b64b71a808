#include "Soak.h"

using namespace vx;
using namespace vx::test;

// A shortened soak (the million-frame run is bench/soak_upload): every frame
// is decoded however the bytes are cut, and memory does not grow with them.
class tst_soak : public QObject {
    Q_OBJECT
private slots:
    void noFrameLostMemoryFlat();
};

void tst_soak::noFrameLostMemoryFlat()
{
    TestWindow t;
    t.click(QStringLiteral("Command1"));
    soakUpload(t, 3600); // warm up: every device's log, the caches, the allocator
    const SoakResult r = soakUpload(t, 36000, 7);
    QCOMPARE(r.decoded, r.sent);
    for (int k = 0; k < 36; ++k)
        QCOMPARE(t.text(QStringLiteral("lblRCounter_%1").arg(k)).toInt(), (3600 + 36000) / 36);
#ifndef __SANITIZE_ADDRESS__ // AddressSanitizer holds freed memory back: resident size says nothing there
    QVERIFY2(r.rssEndKb - r.rssStartKb < 4096,
             qPrintable(QStringLiteral("resident memory grew from %1 kB to %2 kB").arg(r.rssStartKb).arg(r.rssEndKb)));
#endif
}

QTEST_MAIN(tst_soak)
#include "tst_soak.moc"
