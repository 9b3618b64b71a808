#pragma once

#include "core/link/CommSettings.h"

#include <QObject>
#include <QString>

#include <functional>

namespace vx {

class Dialogs;
class ChoiceList;
class PortMap;
class SerialPort;
struct FormState;

// The "串口设置" frame: port list, baud-rate list and "保存设置".
class PortSettings : public QObject {
    Q_OBJECT
public:
    struct Controls {
        ChoiceList *Combo1 = nullptr; // "COM1".."COM16", item i is port i + 1
        ChoiceList *Combo2 = nullptr; // "4800" "9600" "14400" "19200"
    };

    PortSettings(const Controls &controls, FormState &form, SerialPort &port, Dialogs &dialogs,
                 const PortMap &portMap, QString programDir, QObject *parent = nullptr);

    // The operator chose a port from the list.
    void Combo1_Click();
    // The port list's tooltip names the device its item maps to.
    void updateTooltip();
    void cmdCom_Click();
    void OpenOnComm();

    QString commSetPath() const;
    static QString settingsText(qint16 rate);

    // Start-up steps 4 to 9: port number, port preparation, baud rate, list
    // selections, opening the saved port. Returns false when the saved port
    // is in the list but could not be opened.
    bool restore(const CommSettings &saved);
    // The lists show these settings; the port is not touched. False: no such port in the list.
    bool showSettings(const CommSettings &settings);

private:
    // Closes the port and takes the chosen port number; false (and a message) when none is chosen.
    bool takeChosenPort();

    Controls m_c;
    FormState &m_form;
    SerialPort &m_port;
    Dialogs &m_dialogs;
    const PortMap &m_portMap;
    QString m_programDir;
};

} // namespace vx
