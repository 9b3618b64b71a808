#include "collect/BusLine.h"

#include "core/depot/Depot.h"
#include "core/link/SerialPort.h"

namespace vx {

BusLine::BusLine(int number, std::unique_ptr<SerialPort> port, const BusSettings &settings, QObject *parent)
    : QObject(parent), m_number(number), m_port(std::move(port))
{
    m_port->setSettings(QStringLiteral("%1,N,8,1").arg(settings.baud));
    m_engine = std::make_unique<BusEngine>(*m_port, settings);
    connect(m_engine.get(), &BusEngine::received, this, &BusLine::received);
    connect(m_engine.get(), &BusEngine::readings, this,
            [this](int address, const QList<quint16> &registers, const QDateTime &arrived, const QByteArray &) {
                emit readings(deviceKey(m_number, address), registers, arrived);
            });
    connect(m_engine.get(), &BusEngine::deviceAnswering, this,
            [this](int address, bool answering) { emit deviceAnswering(deviceKey(m_number, address), answering); });
    connect(m_engine.get(), &BusEngine::exceptionReply, this,
            [this](int address, quint8 code) { emit exceptionReply(deviceKey(m_number, address), code); });
    connect(m_engine.get(), &BusEngine::cycleDone, this, [this](qint64 cycle) { emit cycleDone(m_number, cycle); });
    connect(m_engine.get(), &BusEngine::stopped, this, &BusLine::stopped);
    connect(m_port.get(), &SerialPort::commEvent, this, [this](CommEvent event) {
        if (event == CommEvent::Error && !m_down && !m_stopping)
            lost();
    });
    m_reconnect.setSingleShot(true);
    connect(&m_reconnect, &QTimer::timeout, this, &BusLine::reconnect);
}

BusLine::~BusLine() = default;

QString BusLine::deviceName() const
{
    return m_port->deviceName();
}

bool BusLine::open() const
{
    return m_port->isOpen();
}

bool BusLine::start()
{
    // The engine waits on a closed port; opening it again is all a return needs.
    m_engine->start();
    if (m_port->open())
        return true;
    lost();
    return false;
}

void BusLine::stop()
{
    m_stopping = true;
    m_reconnect.stop();
    if (m_engine->running())
        m_engine->stop();
    else
        emit stopped();
}

void BusLine::lost()
{
    ++m_outages;
    m_down = true;
    m_downSince.start();
    m_delayMs = 1000;
    emit portChanged(m_number, false,
                     QStringLiteral("bus %1: cannot use %2; trying again (outage %3)").arg(m_number).arg(deviceName()).arg(m_outages));
    m_reconnect.start(m_delayMs);
}

void BusLine::reconnect()
{
    if (m_port->open()) {
        m_down = false;
        emit portChanged(m_number, true,
                         QStringLiteral("bus %1: %2 back after %3 s")
                             .arg(m_number)
                             .arg(deviceName())
                             .arg(m_downSince.elapsed() / 1000.0, 0, 'f', 1));
        return;
    }
    m_delayMs = qMin(30000, m_delayMs * 2);
    m_reconnect.start(m_delayMs);
}

} // namespace vx
