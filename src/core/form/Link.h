#pragma once

#include "core/form/FormState.h"
#include "core/records/Records.h"
#include "core/link/SerialPort.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QString>

#include <functional>

namespace vx {

class Dialogs;

// The three stacked pictures of the link indicator; the one in front is shown.
enum class Indicator { NotConnected, Pending, Connected };

// What the send and receive sequences show in the window.
class LinkView {
public:
    virtual ~LinkView() = default;
    virtual void setCommandText(const QString &text) = 0; // txtCommand
    virtual void setStateText(const QString &text) = 0;   // txtState
    virtual void showIndicator(Indicator indicator) = 0;
    // A reply of any kind was taken (a measurement, a parameter, an address, a serial number).
    virtual void replyAccepted() {}
};

// One request ready for the wire.
struct Outgoing {
    QByteArray wire;        // every byte written: the frame, plus any trailer
    int shownBytes = -1;    // leading bytes shown in the command monitor; -1: all
    qint16 recLen = 0;      // RecLen: reply length expected
    int threshold = 0;      // receive threshold while the reply is awaited
    Kind kind = Kind::None; // CmdKind (the guarded send sets it; plain-send callers set their own)
    int inputLength = 0;    // read limit while awaiting; 0 = everything waiting
    bool setsCmdLenth = false;
    bool showsWaiting = false; // "等待响应中..." after writing
    // The serial-number write prepares the port its own way (output cleared,
    // threshold 1) and shows the pending indicator before the frame.
    bool serialWrite = false;
};

enum class Outcome { Completed, Rejected };

constexpr quint8 kMeasurementFunction = 0x03;

QString kPortClosedMessage(); // in the window's language
QString kWaitingText();

// The two send sequences every request uses, and the receive handler that
// takes each reply, logs and shows it, and hands it to the interpretation
// that CmdKind selects.
class Link {
public:
    using Interpretation = std::function<Outcome(const QByteArray &RecBytes)>;
    using Clock = std::function<QDateTime()>;

    Link(FormState &form, SerialPort &port, Dialogs &dialogs, LinkView &view, RecordFiles &records,
         QString programDir, Clock clock);

    // Port checked first: a closed port gets the message box, the red
    // indicator and StatFlag 0, and nothing changes or is written.
    bool guardedSend(const Outgoing &request);

    // Always shows the frame; writes it only when the port is open, silently
    // showing the red indicator otherwise.
    void plainSend(const Outgoing &request);

    void setInterpretation(Kind kind, Interpretation interpretation);

    // txtState emptied, as requests do before they are sent.
    void clearStateText() { m_view.setStateText(QString()); }
    void clearCommandText() { m_view.setCommandText(QString()); }

    // Measurement replies (CmdKind 1) come as a stream of frames, each as
    // long as its byte count says: every complete frame that passes the address, function-code and
    // CRC checks is handed over in turn; a frame still arriving waits in the
    // port for the rest of its bytes.
    // The frame, and when its last byte arrived.
    using FrameHandler = std::function<void(const QByteArray &frame, const QDateTime &arrived)>;
    void setMeasurementHandler(FrameHandler handler) { m_measurement = std::move(handler); }

    // The receive event (MSComm1_OnComm).
    void MSComm1_OnComm(CommEvent event);

    QString dataGetPath() const;
    const SerialPort &port() const { return m_port; }
    QDateTime now() const { return m_clock(); }

private:
    void writeAndShow(const Outgoing &request, Indicator whenOpen);
    void receiveMeasurements(const QByteArray &RecBytes);
    // Keeps whole measurement frames of a backlog over its bound (see SerialPort).
    QList<SerialPort::Range> framesWorthKeeping(const QByteArray &waiting) const;
    void commonEnd();
    void prepareForRequest();

    FormState &m_form;
    SerialPort &m_port;
    Dialogs &m_dialogs;
    LinkView &m_view;
    RecordFiles &m_records;
    QString m_programDir;
    Clock m_clock;
    QString m_dataGetPath;
    QHash<qint16, Interpretation> m_interpretations;
    FrameHandler m_measurement;
};

} // namespace vx
