#include "core/Link.h"

#include "core/FrameScan.h"
#include "core/HexText.h"
#include "platform/Dialogs.h"

#include <QDir>

namespace vx {

const QString kPortClosedMessage = QStringLiteral("打开串口出错，请确定串口是否已被占用");
const QString kWaitingText = QStringLiteral("等待响应中...(如果3秒内未响应，请检查命令或硬件！)");

Link::Link(FormState &form, SerialPort &port, Dialogs &dialogs, LinkView &view, RecordFiles &records,
           QString programDir, Clock clock)
    : m_form(form), m_port(port), m_dialogs(dialogs), m_view(view), m_records(records),
      m_programDir(std::move(programDir)), m_clock(std::move(clock))
{
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
        m_dialogs.message(kPortClosedMessage);
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
        m_view.setStateText(kWaitingText);
}

void Link::setInterpretation(Kind kind, Interpretation interpretation)
{
    m_interpretations.insert(qint16(kind), std::move(interpretation));
}

QString Link::dataGetPath() const
{
    return QDir(m_programDir).filePath(QStringLiteral("dataGet.txt"));
}

void Link::MSComm1_OnComm(CommEvent event)
{
    if (event != CommEvent::Receive)
        return;
    const QByteArray RecBytes = m_port.read();
    const int repeated = m_port.lastReadRepeated();
    // What was not taken is dropped; bytes still on their way in are the next reply's.
    m_port.clearWaiting();
    // Bytes put back as the start of an unfinished frame were logged when they came.
    if (RecBytes.size() > repeated)
        m_records.append(dataGetPath(), dataGetRecord(m_clock(), RecHex(RecBytes.mid(repeated))));
    if (RecBytes.isEmpty())
        return;

    if (m_form.CmdKind == Kind::Measurement && m_measurement) {
        receiveMeasurements(RecBytes);
        return;
    }
    // Replies are shown only from the addresses the grid can hold.
    if (quint8(RecBytes.at(0)) > kMaxReplyAddress)
        return;
    m_view.setStateText(RecHex(RecBytes));

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
    m_view.setStateText(RecHex(RecBytes));
    for (const QByteArray &frame : scan.frames)
        m_measurement(frame);
    if (scan.frames.isEmpty())
        return; // nothing acceptable: rejected
    m_port.setInputLength(0); // reads take everything again (a serial-number read limits them)
    commonEnd();
}

void Link::commonEnd()
{
    m_form.CmdKind = Kind::Measurement;
    m_view.showIndicator(Indicator::Connected);
}

} // namespace vx
