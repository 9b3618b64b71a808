#include "core/form/Link.h"

#include <QCoreApplication>

#include "core/frames/FrameScan.h"
#include "core/frames/HexText.h"
#include "core/platform/Dialogs.h"

#include <QDir>

namespace vx {

QString kPortClosedMessage()
{
    return QCoreApplication::translate("vx", "打开串口出错，请确定串口是否已被占用");
}
QString kWaitingText()
{
    return QCoreApplication::translate("vx", "等待响应中...(如果3秒内未响应，请检查命令或硬件！)");
}

namespace {
// A backlog is handled this much at a time, the window getting its turn between.
constexpr qsizetype kBatchBytes = 4096;
} // namespace

Link::Link(FormState &form, SerialPort &port, Dialogs &dialogs, LinkView &view, RecordFiles &records,
           QString programDir, Clock clock)
    : m_form(form), m_port(port), m_dialogs(dialogs), m_view(view), m_records(records),
      m_programDir(std::move(programDir)), m_clock(std::move(clock)),
      m_dataGetPath(QDir(m_programDir).filePath(QStringLiteral("dataGet.txt")))
{
    m_port.setClock(m_clock);
    m_port.setTrimmer([this](const QByteArray &waiting) { return framesWorthKeeping(waiting); });
}

QList<SerialPort::Range> Link::framesWorthKeeping(const QByteArray &waiting) const
{
    if (m_form.CmdKind != Kind::Measurement)
        return {{0, waiting.size()}}; // no framing known: the newest bytes stay
    const FrameScan scan = scanFrames(waiting, {0, kMeasurementFunction, kMaxReplyAddress});
    QList<SerialPort::Range> keep;
    for (qsizetype i = 0; i < scan.frames.size(); ++i)
        keep.append({scan.starts[i], scan.frames[i].size()});
    if (!scan.tail.isEmpty())
        keep.append({waiting.size() - scan.tail.size(), scan.tail.size()});
    return keep;
}

void Link::prepareForRequest()
{
    // Bytes of an earlier reply not yet handled are dropped with the buffer.
    m_port.clearInput();
    m_port.setInputLength(0);
    m_port.setBinaryInput();
    m_port.setThreshold(0);
}

bool Link::guardedSend(const Outgoing &request)
{
    m_form.HexText.clear();
    m_view.setStateText(QString());
    if (!m_port.isOpen()) {
        // State first: timer ticks that run while the box is open then see a closed link.
        m_view.showIndicator(Indicator::NotConnected);
        m_form.StatFlag = 0;
        m_dialogs.message(kPortClosedMessage());
        return false;
    }
    m_view.showIndicator(Indicator::Pending);
    prepareForRequest();
    m_form.RecLen = request.recLen;
    m_port.setThreshold(request.threshold);
    m_form.CmdKind = request.kind;
    m_port.write(request.wire);
    const QByteArray shown = request.shownBytes < 0 ? request.wire : request.wire.left(request.shownBytes);
    m_form.HexText = HexText(shown);
    m_view.setCommandText(m_form.HexText);
    return true;
}

void Link::plainSend(const Outgoing &request)
{
    m_form.HexText.clear();
    m_view.setStateText(QString());
    if (request.serialWrite) {
        m_port.setBinaryInput();
        m_port.setInputLength(0);
        m_port.clearInput();
        m_port.clearOutput();
        m_port.setSendEvents(false);
        m_port.setThreshold(1);
        m_view.setCommandText(QString());
        m_view.showIndicator(Indicator::Pending);
    } else {
        prepareForRequest();
    }
    m_form.RecLen = request.recLen;
    if (request.setsCmdLenth)
        m_form.CmdLenth = request.recLen;
    const QByteArray shown = request.shownBytes < 0 ? request.wire : request.wire.left(request.shownBytes);
    m_form.HexText = HexText(shown);
    m_port.setThreshold(request.threshold);
    m_port.setInputLength(request.inputLength);
    m_view.setCommandText(m_form.HexText);
    writeAndShow(request, Indicator::Connected);
}

void Link::writeAndShow(const Outgoing &request, Indicator whenOpen)
{
    if (!m_port.isOpen()) {
        m_view.showIndicator(Indicator::NotConnected);
        return;
    }
    m_view.showIndicator(whenOpen);
    m_port.write(request.wire);
    if (request.showsWaiting)
        m_view.setStateText(kWaitingText());
}

void Link::setInterpretation(Kind kind, Interpretation interpretation)
{
    m_interpretations.insert(qint16(kind), std::move(interpretation));
}

QString Link::dataGetPath() const
{
    return m_dataGetPath;
}

void Link::MSComm1_OnComm(CommEvent event)
{
    if (event != CommEvent::Receive)
        return;
    // Measurement frames are a stream: a backlog is taken a batch at a time
    // and nothing is dropped. Any other reply is read whole (or to the input
    // length), and what was not taken is dropped; bytes still on their way
    // in are the next reply's.
    const bool stream = m_form.CmdKind == Kind::Measurement && m_measurement && m_port.inputLength() == 0;
    const QByteArray RecBytes = stream ? m_port.readBatch(kBatchBytes) : m_port.read();
    const int repeated = m_port.lastReadRepeated();
    if (!stream)
        m_port.clearWaiting();
    // Bytes put back as the start of an unfinished frame were logged when they came.
    if (RecBytes.size() > repeated)
        m_records.append(dataGetPath(), dataGetRecord(m_port.arrivalOf(RecBytes.size() - 1),
                                                      RecHexTail(RecBytes.mid(repeated))));
    if (RecBytes.isEmpty())
        return;

    if (m_form.CmdKind == Kind::Measurement && m_measurement) {
        receiveMeasurements(RecBytes);
        return;
    }
    // Replies are shown only from the addresses the grid can hold.
    if (quint8(RecBytes.at(0)) > kMaxReplyAddress)
        return;
    m_view.setStateText(RecHexTail(RecBytes));

    const auto it = m_interpretations.constFind(qint16(m_form.CmdKind));
    if (it != m_interpretations.constEnd() && (*it)(RecBytes) == Outcome::Rejected)
        return;
    commonEnd();
}

void Link::receiveMeasurements(const QByteArray &RecBytes)
{
    // Each reply framed by its own byte count, so an upload frame and a query
    // reply are both taken whatever was last asked for.
    const FrameScan scan = scanFrames(RecBytes, {0, kMeasurementFunction, kMaxReplyAddress});
    if (!scan.tail.isEmpty())
        m_port.unread(scan.tail);
    if (scan.frames.isEmpty() && quint8(RecBytes.at(0)) > kMaxReplyAddress)
        return;
    m_view.setStateText(RecHexTail(RecBytes));
    for (qsizetype i = 0; i < scan.frames.size(); ++i) // each stamped when its last byte came
        m_measurement(scan.frames[i], m_port.arrivalOf(scan.starts[i] + scan.frames[i].size() - 1));
    if (scan.frames.isEmpty())
        return; // nothing acceptable: rejected
    m_port.setInputLength(0); // reads take everything again (a serial-number read limits them)
    commonEnd();
}

void Link::commonEnd()
{
    m_form.CmdKind = Kind::Measurement;
    m_view.showIndicator(Indicator::Connected);
    m_view.replyAccepted();
}

} // namespace vx
