#pragma once

#include "core/form/Link.h"
#include "window/handlers/TextPane.h"

#include <QObject>
#include <QString>

#include <array>
#include <functional>

class QLineEdit;
class QTimer;

namespace vx {

class Dialogs;
struct FormState;

// Importing a serial-number list ("从文件导入") and writing its entries into a
// device: "第一个", "下一个", and "自动导入" by Timer5 until "停止导入".
class SensorWriting : public QObject {
    Q_OBJECT
public:
    struct Controls {
        QLineEdit *txtStationID = nullptr;
        QLineEdit *txtObjChannelID = nullptr;
        QLineEdit *txtObjSensorid = nullptr;
        QLineEdit *txtTimer5 = nullptr;
        std::array<QLineEdit *, 8> txtSenseSn{};
        TextPane *txtSn = nullptr;
        TextPane *txtShowID = nullptr;
        QTimer *Timer2 = nullptr;
        QTimer *Timer5 = nullptr;
    };

    SensorWriting(const Controls &controls, FormState &form, Link &link, Dialogs &dialogs,
                  QString programDir, QObject *parent = nullptr);

    void cmdOpenFile_Click();
    // Sends the write from the boxes; returns the message naming a bad field, or empty.
    QString WriteSensorID();
    void cmdFirst_Click();
    void cmdWriteNext_Click();
    void cmdWriteAllSn_Click();
    void cmdStopWrite_Click();
    void Timer5_Timer();

    // Checks a list before its codes are written: the failing positions'
    // lines, empty when all is well. Asked once per imported list.
    using ListCheck = std::function<QString(const QStringList &codes)>;
    void setListCheck(ListCheck check) { m_listCheck = std::move(check); }
    // Called after a list file has been shown.
    void setListShown(std::function<void()> shown) { m_listShown = std::move(shown); }

private:
    // Fills the proof-reading boxes with entry k; false when it has fewer than eight fields.
    bool loadEntry(int k);
    void showWriteResult(const QByteArray &reply);
    void endAutomaticWriting();
    // True when the list may be written: it passed its check, or the operator chose to write it as it stands.
    bool listMayBeWritten();

    Controls m_c;
    FormState &m_form;
    Link &m_link;
    Dialogs &m_dialogs;
    QString m_programDir;
    ListCheck m_listCheck;
    std::function<void()> m_listShown;
    bool m_listAccepted = false;
};

} // namespace vx
