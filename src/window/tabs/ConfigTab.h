#pragma once

#include "window/handlers/ConfigController.h"

#include <array>

class QPushButton;
class QWidget;

namespace vx {

// The page of tab "单机参数设置": the address frame and the parameter frame.
struct ConfigTab {
    QWidget *page = nullptr;
    std::array<QLineEdit *, 2> txtSetID{};
    std::array<QLineEdit *, kParameterRows> txtSetValues{};
    QPushButton *cmdChangeID = nullptr;
    QPushButton *cmdReadAdd = nullptr;
    std::array<QPushButton *, kParameterRows> cmdReadSet{};
    std::array<QPushButton *, kParameterRows> cmdSetV{};

    static ConfigTab build();
};

} // namespace vx
