#include "window/handlers/QueryController.h"

#include "core/frames/QueryFrame.h"
#include "core/form/FormState.h"
#include "core/form/Link.h"
#include "core/records/NumberText.h"
#include "core/platform/Dialogs.h"
#include "core/platform/ModalGate.h"
#include "core/link/SerialPort.h"

#include <QLabel>
#include <QLineEdit>
#include <QTimer>

namespace vx {

void incrementCaption(QLabel *label)
{
    const double next = num::Val(label->text()) + 1;
    label->setText(QString::number(qint64(qBound(-9.0e15, next, 9.0e15))));
}

QueryController::QueryController(const Controls &controls, FormState &form, Link &link,
                                 Dialogs &dialogs, QObject *parent)
    : QObject(parent), m_c(controls), m_form(form), m_link(link), m_dialogs(dialogs)
{
    connectTick(m_c.Timer2, this, m_dialogs.gate(), [this] { Timer2_Timer(); });
}

bool QueryController::comDoOnce_Click()
{
    m_form.HexText.clear();
    const QueryBuild built = buildQuery({m_c.txtStationID->text(), m_c.txtFunID->text(),
                                         m_c.txtStartID->text(), m_c.txtDataLength->text()});
    if (!built.request) {
        m_dialogs.message(built.error);
        return false;
    }
    Outgoing out;
    out.wire = built.request->frame;
    out.recLen = built.request->recLen;
    out.threshold = built.request->recLen;
    out.kind = Kind::Measurement;
    return m_link.guardedSend(out);
}

void QueryController::cmdOneM_Click()
{
    m_c.lblCounter->setText(QStringLiteral("1"));
    m_form.RecCount[0] = 1;
    m_c.lblErrCounter->setText(QStringLiteral("1"));
    const auto period = periodOf(m_c.txtTimerSet->text());
    if (!period) {
        m_dialogs.message(kBadPeriodMessage());
        return;
    }
    m_c.Timer2->start(*period);
    warnIfPeriodTooShort(*period);
}

void QueryController::warnIfPeriodTooShort(int periodMs)
{
    const auto length = num::numericValue(m_c.txtDataLength->text());
    const std::optional<qint64> registers = length ? num::inRange(num::wholePart(*length), 1, 24) : std::nullopt;
    if (!registers || !m_notice)
        return; // a bad length gets its own box at the first tick
    const QString notice = shortPeriodNotice(periodMs, exchangeWireMs(int(*registers), m_link.port().baudRate()));
    if (!notice.isEmpty())
        m_notice(notice);
}

void QueryController::prepareTick()
{
    if (!num::IsNumeric(m_c.txtDataLength->text()))
        m_c.txtDataLength->setText(QStringLiteral("1"));
    if (num::Val(m_c.lblCounter->text()) > 65535)
        m_c.lblCounter->setText(QStringLiteral("0"));
}

void QueryController::Timer2_Timer()
{
    prepareTick();
    if (m_form.StatFlag == 0)
        return;
    incrementCaption(m_c.lblCounter);
    comDoOnce_Click();
}

void QueryController::cmdStopOnce_Click()
{
    m_c.Timer1->stop();
    m_c.Timer2->stop();
}

} // namespace vx
