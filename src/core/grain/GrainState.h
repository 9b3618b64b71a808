#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>

#include <array>
#include <optional>

namespace vx {

// The bin as the overview shows it: cables (device addresses 1..40) by layers
// (points 1..18). Pure state and figures, no widgets.
constexpr int kCables = 40;
constexpr int kLayers = 18;

enum class CableState { NeverSeen, Answering, Silent };
// Silent: no accepted reply for silentAfterMs.
CableState cableState(std::optional<qint64> lastSeenMs, qint64 nowMs, qint64 silentAfterMs);

struct PointReading {
    qint64 timeMs = -1;   // -1: none yet
    quint16 raw = 0;
    bool has() const { return timeMs >= 0; }
    // °C for an "ok" reading only: no reading, the power-on 85.00 and out-of-range values are not temperatures.
    std::optional<double> temperature() const;
};

// How readings are judged as they come: a change of more than jumpStep
// between two readings that its neighbours on the cable do not share is a
// sensor's fault, and it stays one until faultClearReadings plausible
// readings in a row.
struct ReadingJudgement {
    double jumpStep = 5;
    int faultClearReadings = 3;
};

struct PointHistory {
    PointReading latest, previous;
    // Has given a reading (anything but "no reading") since collection began:
    // a point that never did has no sensor, and is no fault.
    bool installed = false;
    // A jump that was the sensor's own: plausible readings still needed to clear it (0: none).
    int faultReadingsLeft = 0;
    double lastJump = 0;   // that jump, °C
    double beforeFault = 0; // the temperature before it
    // °C while the latest reading is a trustworthy temperature: an "ok" reading
    // of a sensor not under a fault.
    std::optional<double> temperature() const;
};

struct GrainSnapshot {
    std::array<std::optional<qint64>, kCables> lastSeen{};
    std::array<std::array<PointHistory, kLayers>, kCables> points{};
    // When a collecting program said a cable fell silent (an event), and it
    // has not answered since: silent, whatever the clock says.
    std::array<std::optional<qint64>, kCables> saidSilent{};

    // A cable's state now: silent when said so, else by the time since its last reply.
    CableState stateOf(int cable, qint64 nowMs, qint64 silentAfterMs) const;
    // A collecting program said a cable fell silent or answers again.
    void markSilent(int cable, bool silent, qint64 timeMs);

    // One accepted frame of a cable: its points move on, the cable was seen;
    // each reading is judged against the one before and its neighbours.
    void take(int address, const QList<quint16> &raw, qint64 timeMs, const ReadingJudgement &judgement = {});
    const PointHistory &at(int cable, int layer) const { return points[std::size_t(cable - 1)][std::size_t(layer - 1)]; }
};

struct Figures {
    int count = 0;
    double min = 0, max = 0, mean = 0;
    void add(double v);
    void finish();
private:
    double m_sum = 0;
};

// Over answering cables and temperature readings only.
struct GrainStatistics {
    std::array<Figures, kLayers> layers;
    std::array<Figures, kCables> cables;
    Figures bin;
    int maxCable = 0, maxLayer = 0; // 1-based; 0 when there is no temperature
};
GrainStatistics grainStatistics(const GrainSnapshot &snapshot, qint64 nowMs, qint64 silentAfterMs);

} // namespace vx
