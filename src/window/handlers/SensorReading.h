#pragma once

#include "core/form/Link.h"
#include "window/handlers/TextPane.h"

#include <QObject>
#include <QString>

#include <functional>

class QLineEdit;
class QTimer;

namespace vx {

class Dialogs;
class Link;
struct FormState;

// Reading the serial numbers a device holds for a channel and saving them
// ("读序列号", "保存序列号"), the automatic search ("自动搜索"), the manual
// read-in ("手动读入") and "清空观察窗".
class SensorReading : public QObject {
    Q_OBJECT
public:
    struct Controls {
        QLineEdit *txtStationID = nullptr;
        QLineEdit *txtChnId = nullptr;
        QLineEdit *TXTsensorID = nullptr;
        QLineEdit *txtSearchChannel = nullptr;
        QLineEdit *txtSearchNum = nullptr;
        QLineEdit *txtObjChnid = nullptr;
        QLineEdit *txtSensorReadID = nullptr;
        TextPane *txtSn = nullptr;
        TextPane *txtShowID = nullptr;
        QTimer *Timer2 = nullptr;
    };

    SensorReading(const Controls &controls, FormState &form, Link &link, Dialogs &dialogs,
                  QString programDir, QObject *parent = nullptr);

    void cmdReadSensorID_Click();
    void ReadSensorID();
    void cmdSaveSn_Click();
    void cmdAutoSearch_Click();
    void cmdClearSn_Click();
    void cmdAutoInput_Click();

    QString txtDir() const;

    // Called with the codes of each read shown (device and channel as the boxes say).
    using CodesRead = std::function<void(int address, int channel, const QStringList &codes)>;
    void setCodesRead(CodesRead codesRead) { m_codesRead = std::move(codesRead); }

private:
    Outcome showSerials(const QByteArray &reply);
    void showSearch(const QByteArray &reply);

    Controls m_c;
    FormState &m_form;
    Link &m_link;
    Dialogs &m_dialogs;
    QString m_programDir;
    CodesRead m_codesRead;
};

} // namespace vx
