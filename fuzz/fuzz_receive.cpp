// The receive handler of the real window (offscreen, fake port) on any bytes,
// under every CmdKind, with random RecLen, threshold, input length, field
// texts and delivery in pieces.
#include "FakeDialogs.h"
#include "FakeSerialPort.h"
#include "FuzzInput.h"
#include "core/form/Link.h"
#include "window/frmMain.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>

namespace {

struct Harness {
    QTemporaryDir dir;
    vx::test::FakeSerialPort *port = nullptr;
    std::unique_ptr<vx::frmMain> window;
    QList<QLineEdit *> fields;
    QList<QLineEdit *> values;
    QLabel *replies = nullptr;
    QAbstractButton *clearPane = nullptr;
    int runs = 0;

    Harness()
    {
        vx::Platform p;
        auto fake = std::make_unique<vx::test::FakeSerialPort>();
        port = fake.get();
        p.port = std::move(fake);
        p.dialogs = std::make_unique<vx::test::FakeDialogs>();
        p.clock = [] { return QDateTime(QDate(2026, 12, 7), QTime(8, 0)); };
        p.programDir = dir.path();
        window = std::make_unique<vx::frmMain>(std::move(p));
        for (const char *name : {"txtStationID", "txtChnId", "TXTsensorID", "txtSearchChannel", "txtSearchNum",
                                 "txtObjChannelID", "txtObjSensorid"})
            fields << window->findChild<QLineEdit *>(QString::fromLatin1(name));
        for (int i = 0; i < 6; ++i)
            values << window->findChild<QLineEdit *>(QStringLiteral("txtSetValues_%1").arg(i));
        replies = window->findChild<QLabel *>(QStringLiteral("lblErrCounter"));
        clearPane = window->findChild<QAbstractButton *>(QStringLiteral("cmdClearSn"));
    }
};

Harness &harness()
{
    static int argc = 1;
    static char name[] = "fuzz_receive";
    static char *argv[] = {name, nullptr};
    static QApplication *app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return new QApplication(argc, argv);
    }();
    Q_UNUSED(app);
    static Harness *h = new Harness;
    return *h;
}

const qint16 kKinds[] = {0, 1, 2, 3, 5, 6, 10, 13, 15, 4, 7, -1};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Harness &h = harness();
    vx::FormState &form = h.window->form();
    FuzzInput in(data, size);
    // Each input starts from an empty observation pane, as after "清空观察窗":
    // write replies append to it, and it would otherwise grow across inputs.
    h.clearPane->click();

    const quint8 pick = in.u8() % 13;
    const qint16 kind = pick < 12 ? kKinds[pick] : qint16(in.u16());
    form.CmdKind = vx::Kind(kind);
    form.RecLen = qint16(in.u16());
    form.SetIndex = in.u8() % 6;
    h.port->clearInput();
    h.port->setInputLength(in.u8() % 64);
    const int threshold = in.u8() % 64;
    for (QLineEdit *field : h.fields)
        field->setText(in.text());
    const int piece = 1 + in.u8() % 40;
    const QByteArray bytes = in.rest();
    const int repliesBefore = h.replies->text().toInt();

    h.port->setThreshold(threshold);
    for (qsizetype i = 0; i < bytes.size(); i += piece) {
        h.port->feed(bytes.mid(i, piece));
        // Only the port's queued receive event matters here; a full event loop pass is slow.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
    }
    h.window->link().MSComm1_OnComm(vx::CommEvent::Receive); // also what threshold 0 never raises
    QCoreApplication::processEvents(); // what else the handlers posted, as the program's loop would

    // The kind is the one awaited, or back to measurements after a reply.
    FUZZ_ASSERT(qint16(form.CmdKind) == kind || form.CmdKind == vx::Kind::Measurement);
    // Accepted replies only ever count up, at most one per frame that fits in the bytes.
    const int accepted = h.replies->text().toInt() - repliesBefore;
    FUZZ_ASSERT(accepted >= 0 && accepted <= qMax(0, int(bytes.size()) / 7));
    for (QLineEdit *v : h.values) {
        bool ok = false;
        const int n = v->text().toInt(&ok);
        FUZZ_ASSERT(ok && n >= 0 && n <= 65535);
    }

    // Keep the logs from growing without end over millions of runs.
    if (++h.runs % 4096 == 0) {
        QFile::remove(QDir(h.dir.path()).filePath(QStringLiteral("dataGet.txt")));
        QDir(QDir(h.dir.path()).filePath(QStringLiteral("data"))).removeRecursively();
    }
    return 0;
}
