#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QLabel;
class QLineEdit;
class QTimer;

namespace vx {

class Dialogs;
class Link;
struct FormState;

// Adds one to the decimal number a counter label shows.
void incrementCaption(QLabel *label);

// The single query ("单次"), the periodic query ("循环", Timer2) and "停止".
class QueryController : public QObject {
    Q_OBJECT
public:
    struct Controls {
        QLineEdit *txtStationID = nullptr;
        QLineEdit *txtFunID = nullptr;
        QLineEdit *txtStartID = nullptr;
        QLineEdit *txtDataLength = nullptr;
        QLineEdit *txtTimerSet = nullptr;
        QLabel *lblCounter = nullptr;
        QLabel *lblErrCounter = nullptr;
        QTimer *Timer1 = nullptr;
        QTimer *Timer2 = nullptr;
    };

    QueryController(const Controls &controls, FormState &form, Link &link, Dialogs &dialogs,
                    QObject *parent = nullptr);

    // Returns true when a request was written.
    bool comDoOnce_Click();
    void cmdOneM_Click();
    void Timer2_Timer();
    void cmdStopOnce_Click();

    // Shared by the periodic query and the cycle: an empty length field
    // becomes "1", and lblCounter wraps after 65535.
    void prepareTick();

    // Where status lines go (the window's status area).
    void setNotice(std::function<void(const QString &)> notice) { m_notice = std::move(notice); }
    // Says once, when a timer starts, that its period is shorter than a
    // request and its reply take on the wire at the port's rate.
    void warnIfPeriodTooShort(int periodMs);

private:
    Controls m_c;
    FormState &m_form;
    Link &m_link;
    Dialogs &m_dialogs;
    std::function<void(const QString &)> m_notice;
};

} // namespace vx
