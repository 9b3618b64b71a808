#pragma once

#include "Air.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QStringList>

#include <utility>
#include <QtGlobal>

#include <array>

namespace vxsim {

struct ControlCommand;

constexpr int kPoints = 18;
constexpr int kUploadRegisters = 13; // a 31-byte frame

// What the control channel did to one measuring point.
struct PointChange {
    double heat = 0;          // degrees added
    double risen = 0;         // degrees of finished rises
    double risePerHour = 0;   // the rise going on ...
    qint64 riseSinceMs = 0;   // ... since then
    int heldRaw = -1;         // >= 0: the register reads this, whatever the temperature
};

// What the simulated bus holds at start.
struct BusConfig {
    QList<int> addresses;          // default 1..36
    double baseTemperature = 20.0; // degrees Celsius
    int pointsPresent = 16;        // of 18; the others read 0xFFFF (no reading)
    int channels = 4;
    int sensorsPerChannel = 3;
    quint16 runMode = 0;           // 1: every device uploads on its own
    quint32 seed = 1;
    double badCodes = 0;           // share of sensors whose code fails its CRC-8 (misread or damaged)
    QMap<int, qint64> silentUntilMs; // address -> the device answers only from then on (switched on late)
    QMap<int, AirDeviceSim> air;     // address -> a temperature/humidity transmitter
    QList<int> relays;               // addresses of relay modules
    Weather weather;
};

struct SimDevice {
    quint8 address = 1;
    int index = 0; // place on the bus; gives each device its own values and sensors
    std::array<quint16, 6> params{{0, 22, 10, 200, 50, 18}};
    QList<QList<QByteArray>> sensorsOnBus; // per channel: the sensors wired to it
    QList<QMap<int, QByteArray>> stored;    // per channel: position -> stored code
    std::array<PointChange, kPoints> changes{};
    bool silenced = false;
};

// The devices on the bus and how they answer. Pure: a request and the time
// in, the reply bytes out (empty: no reply). See docs/protocol.md.
class Bus {
public:
    explicit Bus(const BusConfig &config);

    QByteArray handle(const QByteArray &request, qint64 nowMs);
    // The 31-byte frame a device in run mode 1 sends on its own.
    QByteArray uploadFrame(const SimDevice &device, qint64 nowMs) const;

    // The register of measuring point (1-based) at a time; 0xFFFF when absent.
    quint16 pointRegister(const SimDevice &device, int point, qint64 nowMs) const;
    static quint16 encode(double celsius);

    QList<SimDevice> &devices() { return m_devices; }
    const QList<SimDevice> &devices() const { return m_devices; }
    SimDevice *find(quint8 address);
    Weather &weather() { return m_config.weather; }
    // A relay module's coils (bit n: coil n on); 0 for an address that is none.
    quint8 relayCoils(int address) const { return m_relays.value(address).coils; }
    // What changed on its own account since last asked (a relay's coil switched), one line each.
    QStringList takeNotes() { return std::exchange(m_notes, {}); }

    // Changes the world as a control command says; returns what was done,
    // or an empty text when no device has such an address.
    QString apply(const ControlCommand &command, qint64 nowMs);

private:
    QByteArray readPoints(SimDevice &d, const QByteArray &request, qint64 nowMs);
    QByteArray readParameters(SimDevice &d, const QByteArray &request);
    QByteArray writeRegister(SimDevice &d, const QByteArray &request);
    QByteArray search(SimDevice &d, const QByteArray &request);
    QByteArray serialCommand(SimDevice &d, const QByteArray &request);

    BusConfig m_config;
    QList<SimDevice> m_devices;
    QMap<int, RelaySim> m_relays;
    qint64 m_localMsAtStart = 0; // the weather's clock: local wall time when nowMs() was 0
    QStringList m_notes;
};

} // namespace vxsim
