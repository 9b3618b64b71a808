#pragma once

#include "core/FormState.h"

#include <QString>

#include <array>

class QLabel;
class QLineEdit;
class QWidget;

namespace vx {

// The value grid of tabs 1 to 4: ten device columns per tab, 18 measuring
// points per column, a reply counter and a reply time under each column.
// Point p (1..18) of device d (1..40) is txtValue[(d - 1) * 18 + (p - 1)].
struct ValueGrid {
    std::array<QLineEdit *, kValueBoxes> txtValue{};
    std::array<QLabel *, kValueBoxes> lblDanWei{};
    std::array<QLabel *, kDeviceColumns> lblRCounter{};
    std::array<QLabel *, kDeviceColumns> LBLrecTime{};

    static constexpr int boxIndex(int device, int point) { return (device - 1) * kPointsPerDevice + (point - 1); }

    // Builds the page of tab t (1..4): devices 10(t-1)+1 .. 10t, lowest at the left.
    QWidget *buildTab(int t);

    // Shows a value in red; the colour stays once set.
    void showValue(int index, const QString &text);
};

} // namespace vx
