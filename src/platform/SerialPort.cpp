#include "platform/SerialPort.h"

#include "platform/ModalGate.h"

#include <QLoggingCategory>
#include <QMetaObject>

Q_LOGGING_CATEGORY(lcWire, "vxmon.wire", QtWarningMsg)

namespace vx {

SerialPort::SerialPort(QObject *parent) : QObject(parent) {}

SerialPort::~SerialPort() = default;

void SerialPort::setSettings(const QString &settings)
{
    m_settings = settings;
}

qint32 SerialPort::baudRate() const
{
    bool ok = false;
    const qint32 rate = m_settings.section(QLatin1Char(','), 0, 0).trimmed().toInt(&ok);
    return ok ? rate : 0;
}

void SerialPort::clearInput()
{
    m_input.clear();
    m_repeated = 0;
    discardDeviceInput();
    neededChanged();
}

void SerialPort::clearOutput()
{
    discardDeviceOutput();
}

void SerialPort::setThreshold(int threshold)
{
    m_threshold = qMax(0, threshold);
    neededChanged();
    scheduleCheck();
}

QByteArray SerialPort::read()
{
    QByteArray taken;
    if (m_inputLength > 0 && m_input.size() > m_inputLength) {
        taken = m_input.left(m_inputLength);
        m_input.remove(0, m_inputLength);
    } else {
        taken.swap(m_input);
    }
    m_lastReadRepeated = qMin(m_repeated, int(taken.size()));
    m_repeated -= m_lastReadRepeated;
    qCDebug(lcWire) << "rx" << taken.toHex(' ');
    neededChanged();
    return taken;
}

void SerialPort::unread(const QByteArray &bytes)
{
    m_input.prepend(bytes);
    m_repeated += int(bytes.size());
    neededChanged();
}

bool SerialPort::write(const QByteArray &bytes)
{
    if (!isOpen())
        return false;
    qCDebug(lcWire) << "tx" << bytes.toHex(' ');
    return writeToDevice(bytes);
}

void SerialPort::setModalGate(ModalGate *gate)
{
    if (m_gate)
        disconnect(m_gate, nullptr, this, nullptr);
    m_gate = gate;
    if (m_gate)
        connect(m_gate, &ModalGate::released, this, &SerialPort::scheduleCheck);
}

void SerialPort::deliver(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return;
    m_input.append(bytes);
    neededChanged();
    scheduleCheck();
}

void SerialPort::scheduleCheck()
{
    if (m_checkQueued || m_threshold <= 0 || m_input.size() < m_threshold)
        return;
    m_checkQueued = true;
    QMetaObject::invokeMethod(this, &SerialPort::dispatch, Qt::QueuedConnection);
}

void SerialPort::dispatch()
{
    m_checkQueued = false;
    if (m_gate && m_gate->isOpen())
        return; // released() queues a new check when the box closes
    // A request may have cleared the buffer or raised the threshold meanwhile.
    if (m_threshold > 0 && m_input.size() >= m_threshold)
        emit commEvent(CommEvent::Receive);
}

} // namespace vx
