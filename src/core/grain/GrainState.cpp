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

void GrainSnapshot::take(int address, const QList<quint16> &raw, qint64 timeMs)
{
    if (address < 1 || address > kCables)
        return;
    auto &cable = points[std::size_t(address - 1)];
    for (int k = 0; k < raw.size() && k < kLayers; ++k) {
        PointHistory &p = cable[std::size_t(k)];
        p.previous = p.latest;
        p.latest = {timeMs, raw[k]};
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
        if (cableState(snapshot.lastSeen[std::size_t(c - 1)], nowMs, silentAfterMs) != CableState::Answering)
            continue;
        for (int l = 1; l <= kLayers; ++l) {
            const auto t = snapshot.at(c, l).latest.temperature();
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
