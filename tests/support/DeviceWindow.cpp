#include "DeviceWindow.h"

#include "core/link/QtSerialPort.h"

#include <QAbstractButton>
#include <QLineEdit>

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

QLineEdit *DeviceWindow::box(const QString &name) const
{
    auto *b = window->findChild<QLineEdit *>(name);
    if (!b)
        qFatal("no text box named %s", qPrintable(name));
    return b;
}

void DeviceWindow::click(const QString &buttonName) const
{
    auto *b = window->findChild<QAbstractButton *>(buttonName);
    if (!b)
        qFatal("no button named %s", qPrintable(buttonName));
    b->click();
}

} // namespace vx::test
