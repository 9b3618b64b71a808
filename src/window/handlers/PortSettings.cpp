#include "window/handlers/PortSettings.h"

#include <QCoreApplication>

#include "core/form/FormState.h"
#include "core/link/PortMap.h"
#include "core/platform/Dialogs.h"
#include "core/link/SerialPort.h"
#include "window/handlers/ChoiceList.h"

#include <QDir>

namespace vx {

namespace {
QString kChoosePort()
{
    return QCoreApplication::translate("vx", "请选择端口");
}
}

PortSettings::PortSettings(const Controls &controls, FormState &form, SerialPort &port,
                           Dialogs &dialogs, const PortMap &portMap, QString programDir,
                           QObject *parent)
    : QObject(parent), m_c(controls), m_form(form), m_port(port), m_dialogs(dialogs),
      m_portMap(portMap), m_programDir(std::move(programDir))
{
    for (int i = 0; i < m_c.Combo1->count(); ++i)
        m_c.Combo1->setItemToolTip(i, m_portMap.deviceFor(i + 1));
    updateTooltip();
}

QString PortSettings::settingsText(qint16 rate)
{
    return QString::number(rate) + QStringLiteral(",N,8,1");
}

QString PortSettings::commSetPath() const
{
    return QDir(m_programDir).filePath(QStringLiteral("comm.set"));
}

void PortSettings::updateTooltip()
{
    const int index = m_c.Combo1->currentIndex();
    m_c.Combo1->setListToolTip(index >= 0 ? m_c.Combo1->itemText(index) + QStringLiteral(" → ")
                                            + m_portMap.deviceFor(index + 1)
                                      : QString());
}

void PortSettings::OpenOnComm()
{
    m_port.setThreshold(1);
    m_port.setBinaryInput();
}

bool PortSettings::takeChosenPort()
{
    if (m_port.isOpen())
        m_port.close();
    const int index = m_c.Combo1->listIndex();
    if (index < 0) {
        m_dialogs.message(kChoosePort());
        return false;
    }
    m_port.setPortNumber(index + 1);
    m_form.CommNum = qint16(index + 1);
    return true;
}

void PortSettings::Combo1_Click()
{
    if (!takeChosenPort())
        return;
    m_port.setSettings(settingsText(m_form.CommRate)); // the list's rate waits for 保存设置
    if (m_port.isOpen())
        return;
    m_port.open();
    OpenOnComm();
    m_form.StatFlag = -1;
}

void PortSettings::cmdCom_Click()
{
    if (!takeChosenPort())
        return;
    const int rateIndex = m_c.Combo2->listIndex();
    m_form.CommRate = qint16(m_c.Combo2->itemText(rateIndex >= 0 ? rateIndex : 0).toInt());
    m_port.setSettings(settingsText(m_form.CommRate));
    if (m_port.isOpen()) {
        m_dialogs.message({QCoreApplication::translate("vx", "所选的串行端口已被其他设备所使用!"),
                           QCoreApplication::translate("vx", "系统信息"), BoxIcon::Warning, BoxButtons::Ok});
        return;
    }
    m_port.open();
    OpenOnComm();
    m_form.StatFlag = -1;
    if (!writeCommSet(commSetPath(), {m_form.CommNum, m_form.CommRate})) {
        // Never report a save that did not happen.
        m_dialogs.message({QCoreApplication::translate("vx", "串口设置保存失败，无法写入文件：") + commSetPath(),
                           QCoreApplication::translate("vx", "系统提示"), BoxIcon::Warning, BoxButtons::Ok});
        return;
    }
    m_dialogs.message({QCoreApplication::translate("vx", "串口设置保存成功"), QCoreApplication::translate("vx", "系统提示"),
                       BoxIcon::None, BoxButtons::Ok});
}

bool PortSettings::restore(const CommSettings &saved)
{
    m_form.CommNum = saved.CommNum;
    m_form.CommRate = saved.CommRate;
    m_port.setPortNumber(m_form.CommNum);
    m_port.setBinaryInput();
    m_port.setInputLength(0);
    m_port.clearInput();
    m_port.clearOutput();
    m_port.setSendEvents(false);
    m_port.setThreshold(1);
    if (m_form.CommRate == 0)
        m_form.CommRate = 9600;
    m_port.setSettings(settingsText(m_form.CommRate));

    if (!showSettings(saved))
        return true; // no such port in the list: stays closed, no message
    Combo1_Click();
    return m_port.isOpen();
}

bool PortSettings::showSettings(const CommSettings &settings)
{
    const int rateIndex = m_c.Combo2->findItem(QString::number(settings.CommRate == 0 ? 9600 : settings.CommRate));
    if (rateIndex >= 0)
        m_c.Combo2->choose(rateIndex);
    const int portIndex = m_c.Combo1->findItem(QStringLiteral("COM%1").arg(settings.CommNum));
    if (portIndex >= 0)
        m_c.Combo1->choose(portIndex);
    return portIndex >= 0;
}

} // namespace vx
