#pragma once

#include "core/bus/BusEngine.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <memory>

namespace vx {

class SerialPort;

// One more bus of a depot in vxcollect: its port, its engine and its own
// reconnecting, so a bus that fails never stops the others. Devices are told
// by their depot-wide key (bus n: (n - 1) * 1000 + address).
class BusLine : public QObject {
    Q_OBJECT
public:
    BusLine(int number, std::unique_ptr<SerialPort> port, const BusSettings &settings, QObject *parent = nullptr);
    ~BusLine() override;

    int number() const { return m_number; }
    QString deviceName() const;
    // False when the port cannot be opened now; it is tried again, less and less often.
    bool start();
    void stop();
    bool open() const;
    const BusEngine &engine() const { return *m_engine; }
    BusEngine &engine() { return *m_engine; }
    int outages() const { return m_outages; }

signals:
    void readings(int key, const QList<quint16> &registers, const QDateTime &arrived);
    void received(const QByteArray &bytes, const QDateTime &arrived);
    void deviceAnswering(int key, bool answering);
    void exceptionReply(int key, quint8 code);
    void cycleDone(int bus, qint64 cycle);
    // "lost", "back": what the collector says and stores as an event.
    void portChanged(int bus, bool open, const QString &line);
    void stopped();

private:
    void lost();
    void reconnect();

    int m_number;
    std::unique_ptr<SerialPort> m_port;
    std::unique_ptr<BusEngine> m_engine;
    QTimer m_reconnect;
    int m_delayMs = 1000;
    int m_outages = 0;
    bool m_down = false;
    bool m_stopping = false;
    QElapsedTimer m_downSince;
};

} // namespace vx
