#include "DeviceWindow.h"

#include "platform/QtSerialPort.h"

namespace vx::test {

DeviceWindow::DeviceWindow(const QString &device, const QString &programDir)
{
    Platform p;
    p.port = std::make_unique<QtSerialPort>([device](int) { return device; });
    auto fake = std::make_unique<FakeDialogs>();
    dialogs = fake.get();
    p.dialogs = std::move(fake);
    p.clock = [] { return QDateTime::currentDateTime(); };
    p.programDir = programDir;
    window = std::make_unique<frmMain>(std::move(p));
}

} // namespace vx::test
