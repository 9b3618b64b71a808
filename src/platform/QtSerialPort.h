#pragma once

#include "platform/SerialPort.h"

#include <QSerialPort>

#include <functional>

namespace vx {

// SerialPort on QSerialPort. The port number is turned into a device path by
// the resolver given at construction. Modem-control lines are never touched:
// setting DTR/RTS fails on pseudo-terminals.
class QtSerialPort : public SerialPort {
    Q_OBJECT
public:
    using Resolver = std::function<QString(int portNumber)>;

    explicit QtSerialPort(Resolver resolver, QObject *parent = nullptr);

    bool open() override;
    void close() override;
    bool isOpen() const override;
    QString deviceName() const override;

protected:
    bool writeToDevice(const QByteArray &bytes) override;
    void discardDeviceInput() override;
    void discardDeviceOutput() override;
    void neededChanged() override;

private:
    void onReadyRead();
    void onError(QSerialPort::SerialPortError error);

    Resolver m_resolver;
    QSerialPort m_port;
    void applyWakeAfter();

    int m_wakeAfter = -1; // the terminal's VMIN as last set; -1: unknown
    bool m_wakeAfterQueued = false;
};

} // namespace vx
