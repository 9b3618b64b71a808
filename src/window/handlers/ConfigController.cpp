#include "window/handlers/ConfigController.h"

#include "core/form/FormState.h"
#include "core/form/Link.h"
#include "core/platform/Dialogs.h"

#include <QLineEdit>

namespace vx {

ConfigController::ConfigController(const Controls &controls, FormState &form, Link &link,
                                   Dialogs &dialogs, QObject *parent)
    : QObject(parent), m_c(controls), m_form(form), m_link(link), m_dialogs(dialogs)
{
    m_link.setInterpretation(Kind::ReadAddress, [this](const QByteArray &reply) {
        showAddress(reply);
        return Outcome::Completed;
    });
    m_link.setInterpretation(Kind::ReadParameter, [this](const QByteArray &reply) {
        showParameter(reply);
        return Outcome::Completed;
    });
}

void ConfigController::cmdReadAdd_Click()
{
    m_form.CmdKind = Kind::ReadAddress;
    Outgoing out;
    out.wire = readAddressFrame();
    out.recLen = 7;
    out.threshold = 6; // one below the reply length: the event comes with six bytes
    m_link.plainSend(out);
}

void ConfigController::sendWrite(const ConfigBuild &built)
{
    if (!built.frame) {
        m_dialogs.message(built.error);
        return;
    }
    m_form.CmdKind = Kind::WriteAck;
    Outgoing out;
    out.wire = *built.frame;
    out.recLen = 6;
    out.threshold = 6;
    m_link.plainSend(out);
}

void ConfigController::cmdChangeID_Click()
{
    sendWrite(buildAddressChange(m_c.txtSetID[0]->text(), m_c.txtSetID[1]->text()));
}

void ConfigController::cmdReadSet_Click(int row)
{
    m_form.SetIndex = row;
    Outgoing out;
    out.wire = buildParameterRead(m_c.txtStationID->text(), row);
    out.recLen = 7;
    out.threshold = 7;
    out.kind = Kind::ReadParameter;
    m_link.guardedSend(out);
}

void ConfigController::cmdSetV_Click(int row)
{
    sendWrite(buildParameterSet(m_c.txtStationID->text(), row, m_c.txtSetValues[std::size_t(row)]->text()));
}

void ConfigController::showAddress(const QByteArray &reply)
{
    if (reply.size() < 4)
        return;
    const QString address = QString::number(quint8(reply[3]));
    m_c.txtSetID[0]->setText(address);
    m_c.txtStationID->setText(address);
}

void ConfigController::showParameter(const QByteArray &reply)
{
    if (reply.size() < 5 || quint8(reply[1]) != 0x04)
        return;
    const int value = quint8(reply[3]) * 256 + quint8(reply[4]);
    m_c.txtSetValues[std::size_t(m_form.SetIndex)]->setText(QString::number(value));
}

} // namespace vx
