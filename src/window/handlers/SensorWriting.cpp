#include "window/handlers/SensorWriting.h"

#include <QCoreApplication>

#include "core/form/FormState.h"
#include "core/records/NumberText.h"
#include "core/platform/Dialogs.h"
#include "core/platform/ModalGate.h"
#include "core/platform/SafeFiles.h"
#include "core/sensors/ListFile.h"
#include "core/frames/SensorFrames.h"
#include "core/sensors/SensorPanes.h"

#include <QDir>
#include <QFile>

#include <QLineEdit>
#include <QTimer>

#include <limits>

namespace vx {

namespace {
QString kFormatError()
{
    return QCoreApplication::translate("vx", "输入的文件数据格式有误！请检查");
}
QString kImportFirst()
{
    return QCoreApplication::translate("vx", "请按正确的格式，先导入正确的传感器序列号");
}
QString kFinished()
{
    return QCoreApplication::translate("vx", "操作结束");
}
} // namespace

SensorWriting::SensorWriting(const Controls &controls, FormState &form, Link &link, Dialogs &dialogs,
                             QString programDir, QObject *parent)
    : QObject(parent), m_c(controls), m_form(form), m_link(link), m_dialogs(dialogs),
      m_programDir(std::move(programDir))
{
    m_link.setInterpretation(Kind::WriteSerial, [this](const QByteArray &reply) {
        showWriteResult(reply);
        return Outcome::Completed;
    });
    connectTick(m_c.Timer5, this, m_dialogs.gate(), [this] { Timer5_Timer(); });
}

void SensorWriting::cmdOpenFile_Click()
{
    m_c.Timer2->stop();
    const QString txtDir = QDir(m_programDir).filePath(QStringLiteral("txt"));
    QDir().mkpath(txtDir);
    const QString name = m_dialogs.openFileName(
        {QCoreApplication::translate("vx", "打开文件"), txtDir, QCoreApplication::translate("vx", "序列号文件 (*.txt);;所有文件（*） (*)")});
    if (name.isEmpty())
        return; // the operator changed their mind: nothing to report

    QFile file;
    ListImport imported;
    if (openRegularForReading(file, name)) { // a FIFO or device picked in the dialog is unreadable, not waited on
        imported = importListFile(file, m_form.SnList, m_form.ChennelNum);
    } else {
        imported.showId = QStringLiteral(" \r\n");
        imported.failed = true;
    }
    m_c.txtSn->setBaseBold(false);
    m_c.txtShowID->setBaseBold(false);
    m_c.txtSn->setText(imported.sn);
    m_c.txtSn->colourFrom(0, Qt::black, false);
    m_c.txtShowID->setText(imported.showId);
    if (imported.proof) {
        for (std::size_t i = 0; i < 8; ++i)
            m_c.txtSenseSn[i]->setText((*imported.proof)[i]);
    }
    m_listAccepted = false; // a new list is checked before its first write
    if (m_listShown)
        m_listShown();
    if (imported.failed)
        m_dialogs.message(kFormatError());
}

bool SensorWriting::listMayBeWritten()
{
    if (!m_listCheck || m_listAccepted)
        return true;
    QStringList codes;
    for (int k = 1; k <= m_form.ChennelNum && k < int(m_form.SnList.size()); ++k)
        codes << m_form.SnList[std::size_t(k)].trimmed();
    const QString problems = m_listCheck(codes);
    if (problems.isEmpty()) {
        m_listAccepted = true;
        return true;
    }
    Box box{QCoreApplication::translate("vx", "导入的序列号列表有误（列表文件未改动）：\n%1\n\n按“确定”按原样写入，按“取消”停止。").arg(problems),
            QCoreApplication::translate("vx", "序列号检查"), BoxIcon::Warning, BoxButtons::OkCancel};
    box.cancelIsDefault = true;
    m_listAccepted = m_dialogs.message(box) == BoxResult::Ok;
    return m_listAccepted;
}

bool SensorWriting::loadEntry(int k)
{
    if (k < 1 || k >= int(m_form.SnList.size()))
        return false;
    const QStringList fields = entryFields(m_form.SnList[std::size_t(k)]);
    if (fields.size() < 8)
        return false;
    for (std::size_t i = 0; i < 8; ++i)
        m_c.txtSenseSn[i]->setText(fields[int(i)].trimmed());
    return true;
}

QString SensorWriting::WriteSensorID()
{
    std::array<QString, 8> boxes;
    for (std::size_t i = 0; i < 8; ++i)
        boxes[i] = m_c.txtSenseSn[i]->text();
    const SensorBuild built = buildSerialWrite(m_c.txtStationID->text(), m_c.txtObjChannelID->text(),
                                               m_c.txtObjSensorid->text(), boxes);
    if (!built.wire)
        return built.error;
    m_form.CmdKind = Kind::WriteSerial;
    Outgoing out;
    out.wire = *built.wire;
    out.serialWrite = true;
    out.recLen = 14;
    out.setsCmdLenth = true;
    out.threshold = 13;
    out.showsWaiting = true;
    m_link.plainSend(out);
    return {};
}

void SensorWriting::showWriteResult(const QByteArray &reply)
{
    const bool succeeded = reply.size() > 3 && quint8(reply[3]) == 0x28; // the stored family code
    const int start = int(m_c.txtSn->text().size());
    // The pane is rewritten whole, so only the newest line keeps its colour.
    m_c.txtSn->append(writeResultLine(m_c.txtObjChannelID->text(), m_c.txtObjSensorid->text(), succeeded));
    if (succeeded)
        m_c.txtSn->colourFrom(start, QColor(0, 0, 255), false);
    else
        m_c.txtSn->colourFrom(start, QColor(255, 0, 0));
}

void SensorWriting::cmdFirst_Click()
{
    m_c.txtObjSensorid->setText(QStringLiteral("1"));
    m_c.Timer2->stop();
    m_link.clearCommandText();
    if (m_form.SnList[1].isEmpty())
        return;
    if (!listMayBeWritten())
        return;
    if (!loadEntry(1)) {
        m_dialogs.message(kFormatError());
        return;
    }
    const QString error = WriteSensorID();
    if (!error.isEmpty())
        m_dialogs.message(error);
}

void SensorWriting::cmdWriteNext_Click()
{
    m_c.Timer2->stop();
    const double current = num::Val(m_c.txtObjSensorid->text());
    if (num::wholePart(current) > 100) {
        m_dialogs.message({QCoreApplication::translate("vx", "已是最后一个了"), {}, BoxIcon::None, BoxButtons::OkCancel});
        return;
    }
    const double next = current + 1;
    m_c.txtObjSensorid->setText(plainNumber(next));
    if (next > m_form.SensorMax) {
        m_c.txtObjSensorid->setText(QStringLiteral("1"));
        return;
    }
    if (m_form.ChennelNum < 1) {
        m_dialogs.message(kImportFirst());
        return;
    }
    if (next > m_form.ChennelNum || next < 1)
        m_c.txtObjSensorid->setText(QStringLiteral("1"));
    const int k = int(num::wholePart(num::Val(m_c.txtObjSensorid->text())));
    if (!listMayBeWritten())
        return;
    if (!loadEntry(k)) {
        m_dialogs.message(kFormatError());
        return;
    }
    const QString error = WriteSensorID();
    if (!error.isEmpty())
        m_dialogs.message(error);
}

void SensorWriting::cmdWriteAllSn_Click()
{
    m_c.Timer2->stop();
    m_c.txtObjSensorid->setText(QStringLiteral("0"));
    m_c.txtSn->setText(QString());
    if (m_form.ChennelNum == 0)
        m_dialogs.message(kImportFirst()); // the first tick then ends the run
    const auto period = num::numericValue(m_c.txtTimer5->text());
    const auto ms = period ? num::inRange(*period, 1, std::numeric_limits<int>::max()) : std::nullopt;
    if (!ms) {
        m_dialogs.message(QCoreApplication::translate("vx", "你输入的定时时长格式有误,正确的值应该为正整数(毫秒)!"));
        return;
    }
    if (m_form.ChennelNum > 0 && !listMayBeWritten())
        return;
    m_c.Timer5->start(int(*ms));
}

void SensorWriting::cmdStopWrite_Click()
{
    m_c.Timer5->stop();
}

void SensorWriting::endAutomaticWriting()
{
    m_c.Timer5->stop();
    m_dialogs.message({kFinished(), {}, BoxIcon::None, BoxButtons::OkCancel});
}

void SensorWriting::Timer5_Timer()
{
    const int pastLast = m_form.SensorMax + 1;
    if (num::wholePart(num::Val(m_c.txtObjSensorid->text())) >= pastLast) {
        endAutomaticWriting();
        return;
    }
    const double next = num::Val(m_c.txtObjSensorid->text()) + 1;
    m_c.txtObjSensorid->setText(plainNumber(next));
    if (next >= pastLast)
        return; // the next tick ends the run
    const int k = int(num::wholePart(next));
    if (k > m_form.ChennelNum) {
        endAutomaticWriting();
        return;
    }
    if (!loadEntry(k) || !WriteSensorID().isEmpty())
        endAutomaticWriting();
}

} // namespace vx
