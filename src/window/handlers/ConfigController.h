#pragma once

#include "core/frames/ConfigFrames.h"

#include <QObject>

#include <array>

class QLineEdit;

namespace vx {

class Dialogs;
class Link;
struct FormState;

// Tab "单机参数设置": reading and changing a device's address, and reading and
// setting its six operating parameters row by row.
class ConfigController : public QObject {
    Q_OBJECT
public:
    struct Controls {
        QLineEdit *txtStationID = nullptr;
        std::array<QLineEdit *, 2> txtSetID{};                 // old address, target address
        std::array<QLineEdit *, kParameterRows> txtSetValues{};
    };

    ConfigController(const Controls &controls, FormState &form, Link &link, Dialogs &dialogs,
                     QObject *parent = nullptr);

    void cmdReadAdd_Click();
    void cmdChangeID_Click();
    void cmdReadSet_Click(int row);
    void cmdSetV_Click(int row);

private:
    // A single-register write (address change, parameter set): its reply is only acknowledged.
    void sendWrite(const ConfigBuild &built);
    void showAddress(const QByteArray &reply);
    void showParameter(const QByteArray &reply);

    Controls m_c;
    FormState &m_form;
    Link &m_link;
    Dialogs &m_dialogs;
};

} // namespace vx
