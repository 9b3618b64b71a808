#include "window/handlers/CycleController.h"

#include "window/handlers/QueryController.h"
#include "core/frames/QueryFrame.h"
#include "core/form/FormState.h"
#include "core/records/NumberText.h"
#include "core/platform/Dialogs.h"
#include "core/platform/ModalGate.h"
#include "core/link/SerialPort.h"
#include "window/handlers/GridView.h"

#include <QLabel>
#include <QLineEdit>
#include <QTimer>

namespace vx {

CycleController::CycleController(const Controls &controls, FormState &form, GridView &grid,
                                 QueryController &query, SerialPort &port, Dialogs &dialogs,
                                 QObject *parent)
    : QObject(parent), m_c(controls), m_form(form), m_grid(grid), m_query(query), m_port(port),
      m_dialogs(dialogs)
{
    connectTick(m_c.Timer1, this, m_dialogs.gate(), [this] { Timer1_Timer(); });
}

qint16 CycleController::nextRouterid(qint16 current, double maxId)
{
    const int next = int(current) + 1;
    if (maxId < next || next > 32767)
        return 1;
    return qint16(next);
}

void CycleController::cmdCicleAll_Click()
{
    const auto period = periodOf(m_c.txtTimerSet->text());
    if (!period) {
        m_dialogs.message(kBadPeriodMessage());
        return;
    }
    m_c.Timer1->start(*period);
    m_form.Routerid = 1;
    m_query.warnIfPeriodTooShort(*period);
}

void CycleController::Timer1_Timer()
{
    m_query.prepareTick();
    m_form.Routerid = nextRouterid(m_form.Routerid, num::Val(m_c.txtMaxID->text()));
    m_c.txtStationID->setText(QString::number(m_form.Routerid));
    if (m_form.StatFlag == 0)
        return;
    incrementCaption(m_c.lblCounter);
    m_query.comDoOnce_Click();
}

void CycleController::Command1_Click()
{
    m_port.clearInput();
    m_port.setInputLength(0);
    m_port.setBinaryInput();
    for (int i = 0; i < kMaxReplyAddress; ++i)
        m_form.RecCount[i] = 0;
    m_grid.zeroAll();
    m_port.setThreshold(31);
    m_form.RecLen = 31;
    m_form.CmdKind = Kind::Measurement;
}

} // namespace vx
