#include "FakeDialogs.h"
#include "FakeSerialPort.h"
#include "core/frames/HexText.h"
#include "core/form/Link.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace vx;
using namespace vx::test;

namespace {
struct FakeView : LinkView {
    QString command = QStringLiteral("old command");
    QString state = QStringLiteral("old state");
    Indicator indicator = Indicator::Connected;
    void setCommandText(const QString &t) override { command = t; }
    void setStateText(const QString &t) override { state = t; }
    void showIndicator(Indicator i) override { indicator = i; }
};

Outgoing queryRequest()
{
    Outgoing out;
    out.wire = QByteArray::fromHex("010300000012C5C7");
    out.recLen = 41;
    out.threshold = 41;
    out.kind = Kind::Measurement;
    return out;
}
} // namespace

class tst_link : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void guardedSendWritesAndRecords();
    void guardedSendOnClosedPort();
    void plainSendOnClosedPortStillShowsFrame();
    void plainSendShowsOnlyTheFrameOfALongerWrite();
    void receiveGate_data();
    void receiveGate();
    void rejectedReplyKeepsKind();
    void backToBackBytesFormOneReply();
    void inputLengthLimitsTheRead();
    void otherEventsAreIgnored();

private:
    QTemporaryDir *m_dir = nullptr;
    FakeSerialPort *m_port = nullptr;
    FakeDialogs *m_dialogs = nullptr;
    FakeView *m_view = nullptr;
    FormState *m_form = nullptr;
    RecordFiles *m_records = nullptr;
    Link *m_link = nullptr;
    QStringList m_interpreted;
};

void tst_link::init()
{
    m_dir = new QTemporaryDir;
    m_port = new FakeSerialPort;
    m_port->open();
    m_dialogs = new FakeDialogs;
    m_view = new FakeView;
    m_form = new FormState;
    m_form->StatFlag = -1;
    m_records = new RecordFiles;
    m_link = new Link(*m_form, *m_port, *m_dialogs, *m_view, *m_records, m_dir->path(),
                      [] { return QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5)); });
    connect(m_port, &SerialPort::commEvent, this, [this](CommEvent e) { m_link->MSComm1_OnComm(e); });
    m_interpreted.clear();
}

void tst_link::cleanup()
{
    delete m_link;
    delete m_records;
    delete m_form;
    delete m_view;
    delete m_dialogs;
    delete m_port;
    delete m_dir;
}

void tst_link::guardedSendWritesAndRecords()
{
    m_port->feed("stale");
    QVERIFY(m_link->guardedSend(queryRequest()));
    QCOMPARE(m_port->written, QList<QByteArray>{QByteArray::fromHex("010300000012C5C7")});
    QCOMPARE(m_port->bytesWaiting(), 0); // an unread earlier reply is dropped
    QCOMPARE(m_form->RecLen, qint16(41));
    QCOMPARE(m_port->threshold(), 41);
    QCOMPARE(m_form->CmdKind, Kind::Measurement);
    QCOMPARE(m_view->command, QStringLiteral("01 03 00 00 00 12 C5 C7 "));
    QCOMPARE(m_view->command.size(), 24);
    QCOMPARE(m_view->state, QString());
    QCOMPARE(m_view->indicator, Indicator::Pending);
    QVERIFY(m_dialogs->boxes.isEmpty());
}

void tst_link::guardedSendOnClosedPort()
{
    m_port->close();
    m_form->CmdKind = Kind::Search;
    m_form->RecLen = 9;
    QVERIFY(!m_link->guardedSend(queryRequest()));
    QVERIFY(m_port->written.isEmpty());
    QCOMPARE(m_dialogs->texts(), QStringList{kPortClosedMessage()});
    QCOMPARE(m_dialogs->boxes.first().title, m_dialogs->appTitle());
    QCOMPARE(m_view->indicator, Indicator::NotConnected);
    QCOMPARE(m_form->StatFlag, qint16(0));
    QCOMPARE(m_form->CmdKind, Kind::Search);
    QCOMPARE(m_form->RecLen, qint16(9));
    QCOMPARE(m_view->command, QStringLiteral("old command"));
}

void tst_link::plainSendOnClosedPortStillShowsFrame()
{
    m_port->close();
    Outgoing out = queryRequest();
    out.kind = Kind::WriteAck;
    out.showsWaiting = true;
    m_link->plainSend(out);
    QVERIFY(m_port->written.isEmpty());
    QVERIFY(m_dialogs->boxes.isEmpty());
    QCOMPARE(m_view->command, QStringLiteral("01 03 00 00 00 12 C5 C7 "));
    QCOMPARE(m_view->indicator, Indicator::NotConnected);
    QCOMPARE(m_view->state, QString()); // no waiting text without a write
    QCOMPARE(m_form->StatFlag, qint16(-1));
}

void tst_link::plainSendShowsOnlyTheFrameOfALongerWrite()
{
    Outgoing out;
    out.wire = QByteArray::fromHex("02060C010104AABB00");
    out.shownBytes = 8;
    out.recLen = 9;
    out.threshold = 9;
    out.setsCmdLenth = true;
    out.showsWaiting = true;
    out.inputLength = 0;
    m_link->plainSend(out);
    QCOMPARE(m_port->lastWritten().size(), 9);
    QCOMPARE(m_view->command, QStringLiteral("02 06 0C 01 01 04 AA BB "));
    QCOMPARE(m_form->CmdLenth, qint16(9));
    QCOMPARE(m_view->indicator, Indicator::Connected);
    QCOMPARE(m_view->state, kWaitingText());
}

void tst_link::receiveGate_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("passes");
    QTest::newRow("address 1") << QByteArray::fromHex("01030409C4FFFF0000") << true;
    QTest::newRow("address 0") << QByteArray::fromHex("00030409C4FFFF0000") << true;
    QTest::newRow("address 36") << QByteArray::fromHex("24030409C4FFFF0000") << true;
    QTest::newRow("address 37") << QByteArray::fromHex("25030409C4FFFF0000") << false;
    QTest::newRow("address 255") << QByteArray::fromHex("FF030409C4FFFF0000") << false;
}

void tst_link::receiveGate()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, passes);
    m_form->CmdKind = Kind::ReadParameter;
    m_link->setInterpretation(Kind::ReadParameter, [this](const QByteArray &b) {
        m_interpreted << QString::fromLatin1(b.toHex());
        return Outcome::Completed;
    });
    m_port->setThreshold(int(bytes.size()));
    m_port->feed(bytes);
    QCoreApplication::processEvents();

    // Every event is logged, whatever passes the gate.
    QFile log(m_dir->filePath(QStringLiteral("dataGet.txt")));
    QVERIFY(log.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(log.readAll()),
             QStringLiteral("\"2026/1/2 03:04:05   ") + RecHex(bytes) + QStringLiteral("   \"\r\n"));
    if (passes) {
        QCOMPARE(m_view->state, RecHex(bytes));
        QCOMPARE(m_interpreted, QStringList{QString::fromLatin1(bytes.toHex())});
        QCOMPARE(m_form->CmdKind, Kind::Measurement);
        QCOMPARE(m_view->indicator, Indicator::Connected);
    } else {
        QCOMPARE(m_view->state, QStringLiteral("old state"));
        QVERIFY(m_interpreted.isEmpty());
        QCOMPARE(m_form->CmdKind, Kind::ReadParameter);
    }
    QCOMPARE(m_port->bytesWaiting(), 0);
}

void tst_link::rejectedReplyKeepsKind()
{
    m_form->CmdKind = Kind::ReadSerials;
    m_view->indicator = Indicator::Pending;
    m_link->setInterpretation(Kind::ReadSerials, [](const QByteArray &) { return Outcome::Rejected; });
    m_port->setThreshold(3);
    m_port->feed(QByteArray::fromHex("022202"));
    QCoreApplication::processEvents();
    QCOMPARE(m_view->state, QStringLiteral(" 02 22 02"));
    QCOMPARE(m_form->CmdKind, Kind::ReadSerials);
    QCOMPARE(m_view->indicator, Indicator::Pending);
}

void tst_link::backToBackBytesFormOneReply()
{
    m_form->CmdKind = Kind::None; // no interpretation: shown and logged only
    m_port->setThreshold(4);
    m_port->feed(QByteArray::fromHex("01020304"));
    m_port->feed(QByteArray::fromHex("05060708"));
    QCoreApplication::processEvents();
    QCOMPARE(m_view->state, QStringLiteral(" 01 02 03 04 05 06 07 08"));
    QCOMPARE(m_form->CmdKind, Kind::Measurement);
}

void tst_link::inputLengthLimitsTheRead()
{
    m_form->CmdKind = Kind::None;
    m_port->setThreshold(2);
    m_port->setInputLength(2);
    m_port->feed(QByteArray::fromHex("0102030405"));
    QCoreApplication::processEvents();
    QCOMPARE(m_view->state, QStringLiteral(" 01 02"));
    QCOMPARE(m_port->bytesWaiting(), 0); // the rest is cleared with the buffer
}

void tst_link::otherEventsAreIgnored()
{
    m_port->feed(QByteArray::fromHex("0102"));
    m_link->MSComm1_OnComm(CommEvent::Error);
    QCOMPARE(m_port->bytesWaiting(), 2);
    QVERIFY(!QFile::exists(m_dir->filePath(QStringLiteral("dataGet.txt"))));
    QCOMPARE(m_view->state, QStringLiteral("old state"));
}

QTEST_GUILESS_MAIN(tst_link)
#include "tst_link.moc"
