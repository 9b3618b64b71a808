#include "core/depot/DepotPicture.h"

#include <algorithm>

namespace vx {

DepotPicture::DepotPicture(Depot depot) : m_depot(std::move(depot)) {}

void DepotPicture::take(int key, const QList<quint16> &raw, qint64 timeMs)
{
    Latest &l = m_latest[key];
    if (timeMs < l.timeMs) // a frame replayed late never hides a newer one
        return;
    l.timeMs = timeMs;
    l.raw = raw;
}

QList<int> DepotPicture::keys() const
{
    QList<int> out = m_latest.keys();
    std::sort(out.begin(), out.end());
    return out;
}

std::optional<PointReading> DepotPicture::latest(int key, int point) const
{
    const auto it = m_latest.constFind(key);
    if (it == m_latest.constEnd() || point < 1 || point > it->raw.size())
        return std::nullopt;
    return PointReading{it->timeMs, it->raw.at(point - 1)};
}

CableState DepotPicture::stateOf(int key, qint64 nowMs, qint64 silentAfterMs) const
{
    const auto it = m_latest.constFind(key);
    return cableState(it == m_latest.constEnd() ? std::nullopt : std::optional<qint64>(it->timeMs), nowMs, silentAfterMs);
}

std::optional<double> DepotPicture::temperature(int key, int point, qint64 nowMs, qint64 silentAfterMs) const
{
    if (stateOf(key, nowMs, silentAfterMs) != CableState::Answering)
        return std::nullopt;
    const auto reading = latest(key, point);
    return reading ? reading->temperature() : std::nullopt;
}

BinProfile DepotPicture::profile(const Depot &depot, const DepotBin &bin, qint64 nowMs, qint64 silentAfterMs) const
{
    BinProfile out{bin.number, bin.grain, {}};
    for (const DepotCable &c : depot.cables) {
        if (c.bin != bin.number)
            continue;
        CableProfile cable{c.key(), {}};
        for (int i = 0; i < c.points.size(); ++i)
            if (const auto t = temperature(c.key(), c.points[i], nowMs, silentAfterMs))
                cable.points.append({c.points[i], c.depthsM.value(i), *t});
        if (!cable.points.isEmpty())
            out.cables.append(cable);
    }
    return out;
}

QList<BinProfile> DepotPicture::profiles(qint64 nowMs, qint64 silentAfterMs) const
{
    QList<BinProfile> out;
    for (const DepotBin &b : m_depot.bins)
        out.append(profile(b, nowMs, silentAfterMs));
    return out;
}

BinSummary DepotPicture::summary(const Depot &depot, const DepotBin &bin, qint64 nowMs, qint64 silentAfterMs) const
{
    BinSummary s;
    s.bin = bin.number;
    for (int l = 0; l < kLayers; ++l)
        s.layers.append(Figures{});
    for (const DepotCable &c : depot.cables) {
        if (c.bin != bin.number)
            continue;
        ++s.cables;
        const auto it = m_latest.constFind(c.key());
        if (it == m_latest.constEnd())
            ++s.neverSeen;
        else
            s.lastReadingMs = std::max(s.lastReadingMs, it->timeMs);
        if (stateOf(c.key(), nowMs, silentAfterMs) == CableState::Silent)
            ++s.silentCables;
    }
    const BinProfile p = profile(depot, bin, nowMs, silentAfterMs);
    for (const CableProfile &c : p.cables)
        for (const ProfilePoint &point : c.points) {
            if (s.all.count == 0 || point.celsius > s.all.max) { // the first of equals is where it is
                s.maxCable = c.cable;
                s.maxPoint = point.layer;
                s.maxDepthM = point.depthM;
            }
            s.all.add(point.celsius);
            s.layers[point.layer - 1].add(point.celsius);
        }
    s.all.finish();
    for (Figures &f : s.layers)
        f.finish();
    if (const auto tb = topAndBottom(p))
        s.topBottom = tb->first - tb->second;
    return s;
}

QList<AlarmCondition> evaluateFurtherCables(const DepotPicture &picture, const AlarmSettings &settings, qint64 nowMs)
{
    QList<AlarmCondition> out;
    for (const DepotCable &c : picture.depot().cables) {
        if (c.key() <= kCables)
            continue;
        const CableState state = picture.stateOf(c.key(), nowMs, settings.silentAfterMs);
        if (state == CableState::Silent) {
            AlarmCondition silent;
            silent.rule = AlarmRule::CableSilent;
            silent.cable = c.key();
            silent.bin = c.bin;
            silent.value = double((nowMs - picture.latest(c.key(), c.points.value(0, 1)).value_or(PointReading{nowMs, 0}).timeMs) / 1000);
            out.append(silent);
            continue; // stale values of a silent cable raise nothing but its silence
        }
        AlarmCondition high;
        high.rule = AlarmRule::HighTemperature;
        high.cable = c.key();
        high.bin = c.bin;
        for (int point : c.points) {
            const auto t = picture.temperature(c.key(), point, nowMs, settings.silentAfterMs);
            const double limit = settings.highFor(c.key(), point);
            if (!t || *t <= limit)
                continue;
            high.points.append({point, *t, SensorFaultKind::None});
            if (high.points.size() == 1 || *t > high.value) {
                high.value = *t;
                high.layer = point;
                high.limit = limit;
            }
        }
        if (!high.points.isEmpty())
            out.append(high);
    }
    return out;
}

std::optional<AlarmPriority> BinAlarms::worst() const
{
    for (int p = 0; p < 3; ++p)
        if (open[std::size_t(p)] > 0)
            return AlarmPriority(p);
    return std::nullopt;
}

BinAlarms binAlarms(const Depot &depot, int bin, const AlarmBook &book)
{
    return binAlarms(depot, bin, book.alarms());
}

BinAlarms binAlarms(const Depot &depot, int bin, const QList<Alarm> &alarms)
{
    BinAlarms out;
    for (const Alarm &a : alarms) {
        if (a.state == Alarm::State::Cleared)
            continue;
        const AlarmCondition &c = a.condition;
        const DepotCable *cable = c.cable != 0 ? depot.cable(c.cable) : nullptr;
        if (c.cable != 0 ? !cable || cable->bin != bin : c.bin != bin)
            continue;
        ++out.open[std::size_t(c.priority())];
        const auto mark = [&](int layer) {
            const QPair<int, int> at{c.cable, layer};
            if (!out.marks.contains(at) || int(c.priority()) < int(out.marks.value(at)))
                out.marks.insert(at, c.priority());
        };
        if (c.points.isEmpty())
            mark(0);
        for (const AlarmPoint &p : c.points)
            mark(p.layer);
    }
    return out;
}

} // namespace vx
