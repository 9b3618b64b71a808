#include "Frames.h"
#include "TestWindow.h"
#include "window/handlers/CycleController.h"
#include "core/sensors/ListFile.h"

#include <QFile>
#include <QTextEdit>

#include <functional>

using namespace vx;
using namespace vx::test;

// Garbage before a reply, a reply byte by byte, two back to back, and a
// truncated reply followed by a whole one, in every mode of reception.
class tst_receive_faults : public QObject {
    Q_OBJECT
private slots:
    void everyMode_data();
    void everyMode();
};

namespace {

struct Mode {
    std::function<void(TestWindow &)> request;
    QByteArray reply;
    std::function<bool(TestWindow &)> took; // the reply had its effect
    bool measurement = false;               // frames are checked and found again after noise
};

const QByteArray kCode = QByteArray::fromHex("28FF4A3B050000F5"); // a real ROM code: its CRC-8 is right

QByteArray withHead(const char *head, const QByteArray &body)
{
    return withCrc(QByteArray::fromHex(head) + body);
}

QMap<QString, Mode> modes()
{
    QMap<QString, Mode> m;
    m["single query"] = {[](TestWindow &t) {
                             t.setText("txtDataLength", "2");
                             t.click("comDoOnce");
                         },
                         replyFrame(1, {2534, 100}),
                         [](TestWindow &t) { return t.text("txtValue_0") == "25.34"; }, true};
    m["cycle"] = {[](TestWindow &t) {
                      t.setText("txtDataLength", "18");
                      t.click("cmdCicleAll");
                      t.w().cycle().Timer1_Timer(); // polls address 2
                  },
                  replyFrame(2, ramp(18, 3000)),
                  [](TestWindow &t) { return t.text("txtValue_35") == "30.17"; }, true};
    m["active upload"] = {[](TestWindow &t) { t.click("Command1"); }, replyFrame(5, ramp(13, 4000)),
                          [](TestWindow &t) { return t.text("txtValue_84") == "40.12"; }, true};
    m["serial read"] = {[](TestWindow &t) {
                            t.setText("TXTsensorID", "2");
                            t.click("cmdReadSensorID");
                        },
                        withHead("012202", kCode + kCode),
                        [](TestWindow &t) { return t.form().FoundSn[1] == serialText(kCode); }};
    m["search"] = {[](TestWindow &t) {
                       t.setText("txtSearchNum", "2");
                       t.click("cmdAutoSearch");
                   },
                   withHead("01060C0305", {}),
                   [](TestWindow &t) {
                       return t.find<QTextEdit>("txtSn")->toPlainText().contains(QStringLiteral("通道2 发现传感器个数为：05"));
                   }};
    m["serial write"] = {[](TestWindow &t) {
                             t.form().SnList[1] = serialText(kCode);
                             t.form().ChennelNum = 1;
                             t.click("cmdFirst");
                         },
                         withHead("01220C", kCode),
                         [](TestWindow &t) {
                             return t.find<QTextEdit>("txtSn")->toPlainText().contains(QStringLiteral("[成功]"));
                         }};
    m["read-in"] = {[](TestWindow &t) { t.click("cmdAutoInput"); }, withHead("012201", kCode),
                    [](TestWindow &t) { return t.text("txtState").startsWith(QStringLiteral(" 01 22 01 28")); }};
    m["parameter read"] = {[](TestWindow &t) { t.click("cmdReadSet_2"); }, withHead("01040200C8", {}),
                           [](TestWindow &t) { return t.text("txtSetValues_2") == "200"; }};
    m["address read"] = {[](TestWindow &t) { t.click("cmdReadAdd"); }, withHead("0725020700", {}),
                         [](TestWindow &t) { return t.text("txtSetID_0") == "7"; }};
    m["parameter set"] = {[](TestWindow &t) {
                              t.setText("txtSetValues_1", "30");
                              t.click("cmdSetV_1");
                          },
                          withCrc(QByteArray::fromHex("01060200001E")),
                          [](TestWindow &t) { return t.text("txtState").startsWith(QStringLiteral(" 01 06 02 00 00 1E")); }};
    return m;
}

} // namespace

void tst_receive_faults::everyMode_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("pattern");
    const QStringList patterns = {"garbage first", "byte by byte", "back to back", "truncated, then whole"};
    for (const QString &mode : modes().keys())
        for (const QString &pattern : patterns)
            QTest::newRow(qPrintable(mode + ": " + pattern)) << mode << pattern;
}

void tst_receive_faults::everyMode()
{
    QFETCH(QString, mode);
    QFETCH(QString, pattern);
    const Mode m = modes().value(mode);
    TestWindow t;
    m.request(t);
    const Kind awaited = t.form().CmdKind;
    const QByteArray garbage = QByteArray::fromHex("FF00FE2503BB");

    if (pattern == "garbage first") {
        t.port().feed(garbage);
        t.port().feedInPieces(m.reply, 4);
    } else if (pattern == "byte by byte") {
        t.port().feedInPieces(m.reply, 1);
    } else if (pattern == "back to back") {
        t.receive(m.reply + m.reply);
    } else {
        t.port().feedInPieces(m.reply.left(m.reply.size() / 2), 3);
        QCoreApplication::processEvents();
        m.request(t); // the operator asks again; the half reply is dropped
        t.port().feedInPieces(m.reply, 5);
    }
    QCoreApplication::processEvents();

    // Whatever came, the system waits for the same reply or is back to measurements.
    QVERIFY(t.form().CmdKind == awaited || t.form().CmdKind == Kind::Measurement);
    if (pattern != "garbage first" || m.measurement)
        QVERIFY2(m.took(t), qPrintable(t.text("txtState")));
    if (m.measurement) {
        // Each frame counts once; the garbage counts nothing.
        const int frames = pattern == "back to back" ? 2 : 1;
        QCOMPARE(t.text("lblErrCounter").toInt(), frames);
    }
    QVERIFY(t.dialogs().boxes.isEmpty());
}

QTEST_MAIN(tst_receive_faults)
#include "tst_receive_faults.moc"
