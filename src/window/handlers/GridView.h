#pragma once

#include "core/form/FormState.h"

#include <QString>

namespace vx {

// Point p (1..18) of device d (1..40) in the value grid.
constexpr int gridIndex(int device, int point) { return (device - 1) * kPointsPerDevice + (point - 1); }

// The value grid as the handlers use it. The window implements it over its
// boxes and labels; a handler never sees a widget.
class GridView {
public:
    virtual ~GridView() = default;
    // A new value in red (the colour stays once set).
    virtual void showValue(int index, const QString &text) = 0;
    // The reply counter and reply time under a device's column (0-based).
    virtual void setReplyCount(int column, const QString &text) = 0;
    virtual void setReplyTime(int column, const QString &text) = 0;
    // Every counter and every value back to "0".
    virtual void zeroAll() = 0;
};

} // namespace vx
