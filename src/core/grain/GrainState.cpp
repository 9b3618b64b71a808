#include "core/grain/GrainState.h"

#include "core/store/ReadingSet.h"

namespace vx {

CableState cableState(std::optional<qint64> lastSeenMs, qint64 nowMs, qint64 silentAfterMs)
{
    if (!lastSeenMs)
        return CableState::NeverSeen;
    return nowMs - *lastSeenMs > silentAfterMs ? CableState::Silent : CableState::Answering;
}

std::optional<double> PointReading::temperature() const
{
    if (!has() || statusOf(raw) != ReadingStatus::Ok)
        return std::nullopt;
    return celsiusOf(raw);
}

CableState GrainSnapshot::stateOf(int cable, qint64 nowMs, qint64 silentAfterMs) const
{
    const auto said = saidSilent[std::size_t(cable - 1)];
    const auto seen = lastSeen[std::size_t(cable - 1)];
    if (said && seen && *said >= *seen)
        return CableState::Silent;
    return cableState(seen, nowMs, silentAfterMs);
}

void GrainSnapshot::markSilent(int cable, bool silent, qint64 timeMs)
{
    if (cable < 1 || cable > kCables)
        return;
    saidSilent[std::size_t(cable - 1)] = silent ? std::optional<qint64>(timeMs) : std::nullopt;
}

std::optional<double> PointHistory::temperature() const
{
    if (faultReadingsLeft > 0)
        return std::nullopt;
    return latest.temperature();
}

void GrainSnapshot::take(int address, const QList<quint16> &raw, qint64 timeMs, const ReadingJudgement &judgement)
{
    if (address < 1 || address > kCables)
        return;
    auto &cable = points[std::size_t(address - 1)];
    const int n = int(qMin<qsizetype>(raw.size(), kLayers));
    // Each point's change since its last reading, where both are temperatures.
    std::array<std::optional<double>, kLayers> change{};
    for (int k = 0; k < n; ++k) {
        const auto before = cable[std::size_t(k)].latest.temperature();
        const PointReading now{timeMs, raw[k]};
        if (before && now.temperature())
            change[std::size_t(k)] = *now.temperature() - *before;
    }
    for (int k = 0; k < n; ++k) {
        PointHistory &p = cable[std::size_t(k)];
        const std::optional<double> before = p.latest.temperature();
        p.previous = p.latest;
        p.latest = {timeMs, raw[k]};
        const ReadingStatus status = statusOf(raw[k]);
        if (status != ReadingStatus::NoReading)
            p.installed = true;
        const auto now = p.latest.temperature();
        if (p.faultReadingsLeft > 0) {
            // Under a fault, a reading is plausible when it agrees with a
            // neighbour (or, alone on its cable, with the grain before the fault).
            bool plausible = false, anyNeighbour = false;
            for (int j : {k - 1, k + 1}) {
                if (j < 0 || j >= n)
                    continue;
                const auto t = PointReading{timeMs, raw[j]}.temperature();
                if (!t || cable[std::size_t(j)].faultReadingsLeft > 0)
                    continue;
                anyNeighbour = true;
                plausible = plausible || (now && qAbs(*now - *t) <= judgement.jumpStep);
            }
            if (!anyNeighbour)
                plausible = now && qAbs(*now - p.beforeFault) <= judgement.jumpStep;
            p.faultReadingsLeft = plausible ? p.faultReadingsLeft - 1 : qMax(1, judgement.faultClearReadings);
            continue;
        }
        const auto d = change[std::size_t(k)];
        if (d && qAbs(*d) > judgement.jumpStep) {
            // Shared by a neighbour (at least half as far, the same way): the
            // grain moved. Alone: the sensor did.
            bool shared = false;
            for (int j : {k - 1, k + 1}) {
                const auto nd = j >= 0 && j < n ? change[std::size_t(j)] : std::nullopt;
                if (nd && *nd * *d > 0 && qAbs(*nd) >= judgement.jumpStep / 2)
                    shared = true;
            }
            if (!shared) {
                p.faultReadingsLeft = qMax(1, judgement.faultClearReadings);
                p.lastJump = *d;
                p.beforeFault = before.value_or(0);
            }
        }
    }
    lastSeen[std::size_t(address - 1)] = timeMs;
}

void Figures::add(double v)
{
    min = count == 0 ? v : qMin(min, v);
    max = count == 0 ? v : qMax(max, v);
    m_sum += v;
    ++count;
}

void Figures::finish()
{
    mean = count > 0 ? m_sum / count : 0;
}

GrainStatistics grainStatistics(const GrainSnapshot &snapshot, qint64 nowMs, qint64 silentAfterMs)
{
    GrainStatistics s;
    double best = 0;
    for (int c = 1; c <= kCables; ++c) {
        if (snapshot.stateOf(c, nowMs, silentAfterMs) != CableState::Answering)
            continue;
        for (int l = 1; l <= kLayers; ++l) {
            const auto t = snapshot.at(c, l).temperature();
            if (!t)
                continue;
            s.layers[std::size_t(l - 1)].add(*t);
            s.cables[std::size_t(c - 1)].add(*t);
            if (s.bin.count == 0 || *t > best) {
                best = *t;
                s.maxCable = c;
                s.maxLayer = l;
            }
            s.bin.add(*t);
        }
    }
    for (Figures &f : s.layers)
        f.finish();
    for (Figures &f : s.cables)
        f.finish();
    s.bin.finish();
    return s;
}

} // namespace vx
