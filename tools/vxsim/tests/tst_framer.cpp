#include "RequestFramer.h"
#include "core/frames/Crc16.h"

#include <QTest>

using namespace vxsim;
using vx::withCrc;

class tst_framer : public QObject {
    Q_OBJECT
private slots:
    void splitsAndResynchronises();
};

void tst_framer::splitsAndResynchronises()
{
    const QByteArray read = withCrc(QByteArray::fromHex("010300000012"));
    const QByteArray write = withCrc(QByteArray::fromHex("02220C0101") + QByteArray(8, '\x28'));
    const QByteArray search = withCrc(QByteArray::fromHex("02060C010104")) + QByteArray(1, '\0');
    RequestFramer framer;
    QList<QByteArray> got;
    const QByteArray stream = QByteArray::fromHex("FF33") + read + write + search + read;
    for (char c : stream) // one byte at a time, as a slow adapter delivers
        got += framer.push(QByteArray(1, c));
    QCOMPARE(got, QList<QByteArray>({read, write, search.left(8), read}));
    QCOMPARE(framer.skipped(), 3); // two noise bytes and the search's trailing 0x00
    QCOMPARE(framer.pending(), 0);
}

QTEST_APPLESS_MAIN(tst_framer)
#include "tst_framer.moc"
