#pragma once

#include "FakeDialogs.h"
#include "window/frmMain.h"

#include <memory>

class QLineEdit;

namespace vx::test {

// The real window on a real serial port: every port number opens device
// (a pseudo-terminal or a link to one). Dialogs are answered by the test.
struct DeviceWindow {
    std::unique_ptr<frmMain> window;
    FakeDialogs *dialogs = nullptr;

    DeviceWindow(const QString &device, const QString &programDir);
    frmMain *operator->() { return window.get(); }
    frmMain &operator*() { return *window; }

    QLineEdit *box(const QString &name) const;
    void click(const QString &buttonName) const;
};

} // namespace vx::test
