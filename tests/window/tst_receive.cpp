#include "TestWindow.h"
#include "core/frames/Crc16.h"
#include "core/frames/HexText.h"

using namespace vx;
using namespace vx::test;

class tst_receive : public QObject {
    Q_OBJECT
private slots:
    void firstFrameAfterStartUpIsOnlyShown();
    void foreignAddressIsOnlyLogged();
    void replyArrivingInPiecesIsOneEvent_data();
    void replyArrivingInPiecesIsOneEvent();
    void replyWaitsForAnOpenBox();
};

void tst_receive::firstFrameAfterStartUpIsOnlyShown()
{
    TestWindow t;
    const QByteArray frame = withCrc(QByteArray::fromHex("05031A") + QByteArray(26, '\x01'));
    QCOMPARE(frame.size(), 31);
    t.receive(frame);
    QCOMPARE(t.text(QStringLiteral("txtState")), RecHex(frame));
    QCOMPARE(t.form().CmdKind, Kind::Measurement); // the next one is decoded
    QCOMPARE(t.w().indicator(), Indicator::Connected);
    QCOMPARE(t.fileText(QStringLiteral("dataGet.txt")),
             QStringLiteral("\"2026/12/7 08:30:05   ") + RecHex(frame) + QStringLiteral("   \"\r\n"));
}

void tst_receive::foreignAddressIsOnlyLogged()
{
    TestWindow t;
    t.setText(QStringLiteral("txtDataLength"), QStringLiteral("1"));
    t.click(QStringLiteral("comDoOnce"));
    const QString command = t.text(QStringLiteral("txtCommand"));
    t.receive(QByteArray::fromHex("25030200011234"));
    QCOMPARE(t.text(QStringLiteral("txtState")), QString());
    QCOMPARE(t.text(QStringLiteral("txtCommand")), command);
    QCOMPARE(t.w().indicator(), Indicator::Pending);
    QVERIFY(t.fileText(QStringLiteral("dataGet.txt")).contains(QStringLiteral("    25 03 02 00 01 12 34   \"")));
}

void tst_receive::replyArrivingInPiecesIsOneEvent_data()
{
    QTest::addColumn<int>("pieceSize");
    QTest::newRow("whole") << 9;
    QTest::newRow("4 + 4 + 1") << 4;
    QTest::newRow("byte by byte") << 1;
}

void tst_receive::replyArrivingInPiecesIsOneEvent()
{
    QFETCH(int, pieceSize);
    TestWindow t;
    t.setText(QStringLiteral("txtDataLength"), QStringLiteral("2"));
    t.click(QStringLiteral("comDoOnce"));
    const QByteArray reply = withCrc(QByteArray::fromHex("01030409C4FFFF"));
    t.port().feedInPieces(reply, pieceSize);
    QCoreApplication::processEvents();
    QCOMPARE(t.text(QStringLiteral("txtState")), RecHex(reply));
    QCOMPARE(t.fileText(QStringLiteral("dataGet.txt")).count(QLatin1Char('\n')), 1);
    QCOMPARE(t.w().indicator(), Indicator::Connected);
}

void tst_receive::replyWaitsForAnOpenBox()
{
    TestWindow t;
    t.setText(QStringLiteral("txtDataLength"), QStringLiteral("1"));
    t.click(QStringLiteral("comDoOnce"));
    const QByteArray reply = withCrc(QByteArray::fromHex("0103020001"));
    QString shownWhileOpen = QStringLiteral("unset");
    t.dialogs().whileOpen = [&](const Box &) {
        t.port().feed(reply);
        QCoreApplication::processEvents(); // the box's own event loop
        shownWhileOpen = t.text(QStringLiteral("txtState"));
    };
    t.dialogs().message(QStringLiteral("any box"));
    QCOMPARE(shownWhileOpen, QString());
    QCoreApplication::processEvents();
    QCOMPARE(t.text(QStringLiteral("txtState")), RecHex(reply));
}

QTEST_MAIN(tst_receive)
#include "tst_receive.moc"
