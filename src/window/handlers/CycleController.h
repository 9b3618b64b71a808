#pragma once

#include <QObject>

class QLabel;
class QLineEdit;
class QTimer;

namespace vx {

class Dialogs;
class QueryController;
class SerialPort;
struct FormState;
class GridView;

// "多模块循环" (Timer1 polls addresses 2, 3, ..., max, 1, ...) and
// "主动上传模式" (listen to devices that upload on their own).
class CycleController : public QObject {
    Q_OBJECT
public:
    struct Controls {
        QLineEdit *txtStationID = nullptr;
        QLineEdit *txtTimerSet = nullptr;
        QLineEdit *txtMaxID = nullptr;
        QLabel *lblCounter = nullptr;
        QTimer *Timer1 = nullptr;
    };

    CycleController(const Controls &controls, FormState &form, GridView &grid, QueryController &query,
                    SerialPort &port, Dialogs &dialogs, QObject *parent = nullptr);

    void cmdCicleAll_Click();
    void Timer1_Timer();
    void Command1_Click();

    // The address after current for a cycle up to maxId (any text value):
    // current + 1, or 1 once that passes the maximum or the 16-bit range.
    static qint16 nextRouterid(qint16 current, double maxId);

private:
    Controls m_c;
    FormState &m_form;
    GridView &m_grid;
    QueryController &m_query;
    SerialPort &m_port;
    Dialogs &m_dialogs;
};

} // namespace vx
