#include "window/handlers/SensorReading.h"

#include <QCoreApplication>

#include "core/form/FormState.h"
#include "core/records/NumberText.h"
#include "core/platform/Dialogs.h"
#include "core/platform/SafeFiles.h"
#include "core/sensors/ListFile.h"
#include "core/frames/SensorFrames.h"
#include "core/sensors/SensorPanes.h"

#include <QDir>
#include <QLineEdit>
#include <QSaveFile>

#include <QTimer>

namespace vx {

namespace {
QString kNoChannel()
{
    return QCoreApplication::translate("vx", "请指定正确的模块及通道编号");
}
}

SensorReading::SensorReading(const Controls &controls, FormState &form, Link &link, Dialogs &dialogs,
                             QString programDir, QObject *parent)
    : QObject(parent), m_c(controls), m_form(form), m_link(link), m_dialogs(dialogs),
      m_programDir(std::move(programDir))
{
    m_link.setInterpretation(Kind::ReadSerials, [this](const QByteArray &reply) { return showSerials(reply); });
    m_link.setInterpretation(Kind::Search, [this](const QByteArray &reply) {
        showSearch(reply);
        return Outcome::Completed;
    });
}

QString SensorReading::txtDir() const
{
    return QDir(m_programDir).filePath(QStringLiteral("txt"));
}

void SensorReading::cmdReadSensorID_Click()
{
    m_form.CmdKind = Kind::ReadSerials;
    m_c.Timer2->stop(); // no periodic query may compete for the port
    m_c.txtShowID->setVisible(true);
    ReadSensorID();
}

void SensorReading::ReadSensorID()
{
    const SensorBuild built = buildSerialRead(m_c.txtStationID->text(), m_c.txtChnId->text(),
                                              m_c.TXTsensorID->text());
    if (!built.wire) {
        m_dialogs.message(built.error);
        return;
    }
    const int n = quint8(built.wire->at(5));
    Outgoing out;
    out.wire = *built.wire;
    out.recLen = qint16(8 * n + 5);
    out.setsCmdLenth = true;
    out.threshold = out.recLen;
    out.inputLength = out.recLen; // the read takes exactly the reply
    out.showsWaiting = true;
    m_link.plainSend(out);
}

Outcome SensorReading::showSerials(const QByteArray &reply)
{
    const SerialReadPanes panes = serialReadPanes(m_c.txtStationID->text(), m_c.txtChnId->text(),
                                                  m_c.TXTsensorID->text(), reply);
    m_c.txtSn->setText(panes.sn);
    m_c.txtShowID->setText(panes.showId);
    for (int i = 0; i < panes.found.size() && i < int(m_form.FoundSn.size()); ++i)
        m_form.FoundSn[std::size_t(i)] = panes.found[i];
    if (m_codesRead)
        m_codesRead(int(num::Val(m_c.txtStationID->text())), int(num::Val(m_c.txtChnId->text())), panes.found);
    return panes.complete ? Outcome::Completed : Outcome::Rejected;
}

void SensorReading::cmdSaveSn_Click()
{
    m_c.Timer2->stop();
    const auto count = num::numericValue(m_c.TXTsensorID->text());
    const auto m = count ? num::inRange(*count, 0, qint64(m_form.FoundSn.size())) : std::nullopt;
    if (!m) {
        m_dialogs.message(QCoreApplication::translate("vx", "你输入的读取总数格式有误,正确的值应该为0-65的整数!"));
        return;
    }
    QDir().mkpath(txtDir());
    QString name = m_dialogs.saveFileName({QString(), txtDir(), QStringLiteral("txt (*.txt)")});
    if (name.isEmpty())
        return; // cancelled: nothing written
    if (!name.endsWith(QLatin1String(".txt"), Qt::CaseSensitive))
        name += QStringLiteral(".txt");
    QStringList entries;
    for (qint64 k = 0; k < *m; ++k)
        entries << m_form.FoundSn[std::size_t(k)];
    // Never written through a link out of the program directory.
    QSaveFile file(name);
    if (!writeStaysInside(name, m_programDir) || !file.open(QIODevice::WriteOnly)
        || file.write(formatListFile(entries)) < 0 || !file.commit())
        m_dialogs.message(QCoreApplication::translate("vx", "无法写入文件 %1，序列号未保存!").arg(QDir::toNativeSeparators(name)));
}

void SensorReading::cmdAutoSearch_Click()
{
    m_c.txtShowID->setVisible(false);
    m_c.Timer2->stop();
    m_link.clearStateText();
    m_form.CmdKind = Kind::Search;
    m_form.HexText.clear();
    if (!namesAChannel(m_c.txtSearchChannel->text())) {
        m_dialogs.message(kNoChannel());
        return;
    }
    const SensorBuild built = buildSearch(m_c.txtStationID->text(), m_c.txtSearchChannel->text(),
                                          m_c.txtSearchNum->text());
    if (!built.wire) {
        m_dialogs.message(built.error);
        return;
    }
    Outgoing out;
    out.wire = *built.wire; // the frame and one trailing 0x00, all written
    out.shownBytes = 8;
    out.recLen = qint16(quint8(built.wire->at(5)) + 5);
    out.setsCmdLenth = true;
    out.threshold = out.recLen;
    out.showsWaiting = true;
    m_link.plainSend(out);
}

void SensorReading::showSearch(const QByteArray &reply)
{
    m_c.txtSn->setText(QString());
    m_c.txtSn->setBaseBold(true);
    m_c.txtShowID->setBaseBold(true); // same font, same line height: numbers stay beside their lines
    m_c.txtSn->setText(searchPane(m_c.txtStationID->text(), m_c.txtSearchChannel->text(),
                                 m_c.txtSearchNum->text(), reply));
    m_c.txtSn->colourFrom(8, QColor(0, 0, 255), false);
}

void SensorReading::cmdClearSn_Click()
{
    m_c.txtSn->setText(QString());
}

void SensorReading::cmdAutoInput_Click()
{
    m_c.txtShowID->setVisible(false);
    m_c.Timer2->stop();
    m_link.clearStateText();
    m_form.CmdKind = Kind::ReadIn;
    m_form.HexText.clear();
    if (!namesAChannel(m_c.txtObjChnid->text())) {
        m_dialogs.message(kNoChannel());
        return;
    }
    const SensorBuild built = buildReadIn(m_c.txtStationID->text(), m_c.txtObjChnid->text(),
                                          m_c.txtSensorReadID->text());
    if (!built.wire) {
        m_dialogs.message(built.error);
        return;
    }
    Outgoing out;
    out.wire = *built.wire;
    out.recLen = 13;
    out.setsCmdLenth = true;
    out.threshold = 13;
    out.showsWaiting = true;
    m_link.plainSend(out);

    // The position moves on after every attempt: 1, 2, ..., SensorMax, 1, ...
    const double position = num::Val(m_c.txtSensorReadID->text());
    m_c.txtSensorReadID->setText(position < m_form.SensorMax ? plainNumber(position + 1) : QStringLiteral("1"));
}

} // namespace vx
