#pragma once

#include "core/air/AirDevices.h"
#include "core/air/VentilationAdvisor.h"
#include "core/depot/Depot.h"
#include "core/grain/StorageRules.h"
#include "core/store/ReadingStore.h"

#include <QList>
#include <QMap>

#include <optional>

namespace vx {

// The air of a depot and what its fans should do: each transmitter's latest
// reading (outside, or a bin's headspace), the advice per bin once a minute,
// and under automatic control the fans' switches. Pure of the bus: it hands
// back the events to store and the coil writes wanted; the caller sends them
// and says how they went.
struct AirSample {
    qint64 timeMs = 0;
    double celsius = 0, rh = 0;
    std::optional<double> dewPoint() const { return vx::dewPoint(celsius, rh); }
};

struct FanSwitch {
    int bin = 0;
    int bus = 1;
    QByteArray request; // function 5 to the bin's relay coil
    bool on = false;
    FanReason reason = FanReason::Advice;
};

inline constexpr const char *kAirEvent = "air";               // a transmitter's reading, once a minute
inline constexpr const char *kAirFaultEvent = "air_fault";     // a transmitter's fault began
inline constexpr const char *kAirBackEvent = "air_back";       // ... and ended
inline constexpr const char *kVentilationEvent = "ventilation"; // the advice of a bin changed
inline constexpr const char *kFanEvent = "fan";               // a bin's fans switched (or failed to)

class VentilationControl {
public:
    static constexpr qint64 kStaleMs = 10 * 60 * 1000; // older air is not judged by

    void setDepot(const Depot &depot) { m_depot = depot; }
    const Depot &depot() const { return m_depot; }
    void setSettings(const VentilationSettings &advice, const FanSettings &fans, bool automatic);
    bool automatic() const { return m_automatic; }
    const VentilationSettings &settings() const { return m_settings; }
    const FanSettings &fanSettings() const { return m_fanSettings; }

    // A transmitter's reply, or its fault: the events to store.
    QList<StoreEvent> accept(int key, const AirReading &reading, qint64 nowMs);
    std::optional<AirSample> outside(qint64 nowMs) const;
    std::optional<AirSample> headspace(int bin, qint64 nowMs) const;

    struct Step {
        QList<StoreEvent> events;
        QList<FanSwitch> switches;
    };
    // The advice of every bin from its profile now (and its fans' switches under automatic control).
    Step evaluate(const QList<BinProfile> &bins, qint64 nowMs);
    const QMap<int, VentilationAdvice> &advice() const { return m_advice; }

    // A coil write's end: the fans' state follows only a write the relay echoed.
    StoreEvent switched(const FanSwitch &s, bool ok, qint64 nowMs);
    // The keeper's switch (on, off) or back to automatic (nothing): the write wanted, if any.
    std::optional<FanSwitch> manual(int bin, std::optional<bool> on, qint64 nowMs, StoreEvent *event);
    const QMap<int, FanState> &fans() const { return m_fans; }
    // Another program's stored air, advice and fan switches, taken as they happened (a viewer).
    void replay(const StoreEvent &event);

private:
    std::optional<FanSwitch> fanSwitch(int bin, bool on, FanReason reason) const;

    Depot m_depot;
    VentilationSettings m_settings;
    FanSettings m_fanSettings;
    bool m_automatic = false;
    QMap<int, AirSample> m_latest;     // transmitter key -> its latest reading
    QMap<int, qint64> m_storedMinute;  // key -> the minute of its last stored sample
    QMap<int, QString> m_faults;       // key -> its fault now
    QMap<int, VentilationAdvice> m_advice;
    QMap<int, qint64> m_storedAdvice;  // bin -> when its advice was last stored
    QMap<int, FanState> m_fans;
    QMap<int, qint64> m_pending;       // bin -> when a switch was handed out (one at a time)
};

// Hours each bin's fans ran in [fromMs, toMs), from the fan events (those
// before fromMs say how the day began; a fan still on runs until toMs or now).
QMap<int, double> fanHours(const QList<StoreEvent> &fanEvents, qint64 fromMs, qint64 toMs, qint64 nowMs);

// The steepest gradient between neighbouring points of any cable of the bin (°C/m).
std::optional<double> steepestGradient(const BinProfile &bin);

} // namespace vx
