#pragma once

#include <array>

class QLabel;
class QLineEdit;
class QPushButton;
class QTextEdit;
class QWidget;

namespace vx {

// The page of tab "单机传感器设置": the observation panes and the four
// serial-number frames.
struct SensorTab {
    QWidget *page = nullptr;
    QTextEdit *txtSn = nullptr;
    QTextEdit *txtShowID = nullptr;
    QPushButton *cmdClearSn = nullptr;
    QLabel *codeSummary = nullptr;
    QLineEdit *txtSearchChannel = nullptr;
    QLineEdit *txtSearchNum = nullptr;
    QPushButton *cmdAutoSearch = nullptr;
    QLineEdit *txtChnId = nullptr;
    QLineEdit *TXTsensorID = nullptr;
    QPushButton *cmdReadSensorID = nullptr;
    QPushButton *cmdSaveSn = nullptr;
    QPushButton *cmdOpenFile = nullptr;
    std::array<QLineEdit *, 8> txtSenseSn{};
    QLineEdit *txtObjChannelID = nullptr;
    QLineEdit *txtObjSensorid = nullptr;
    QLineEdit *txtTimer5 = nullptr;
    QPushButton *cmdFirst = nullptr;
    QPushButton *cmdWriteNext = nullptr;
    QPushButton *cmdWriteAllSn = nullptr;
    QPushButton *cmdStopWrite = nullptr;
    QLineEdit *txtObjChnid = nullptr;
    QLineEdit *txtSensorReadID = nullptr;
    QPushButton *cmdAutoInput = nullptr;

    static SensorTab build();
};

} // namespace vx
