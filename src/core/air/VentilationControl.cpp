#include "core/air/VentilationControl.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace vx {

namespace {
QByteArray jsonOf(const QJsonObject &o)
{
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

QString binName(const Depot &depot, int bin)
{
    const DepotBin *b = depot.bin(bin);
    return b ? b->name : QStringLiteral("%1号仓").arg(bin);
}

QString placeName(const Depot &depot, const DepotAir &a)
{
    return a.bin == 0 ? QStringLiteral("外界") : binName(depot, a.bin) + QStringLiteral("仓内");
}

QString fanReasonText(FanReason reason)
{
    switch (reason) {
    case FanReason::Advice: return QStringLiteral("通风建议");
    case FanReason::Interlock: return QStringLiteral("联锁：不宜通风");
    case FanReason::MaxRun: return QStringLiteral("已达最长运行时间");
    case FanReason::Manual: return QStringLiteral("手动");
    case FanReason::None: break;
    }
    return {};
}
} // namespace

QMap<int, double> fanHours(const QList<StoreEvent> &fanEvents, qint64 fromMs, qint64 toMs, qint64 nowMs)
{
    QMap<int, double> hours;
    QMap<int, qint64> onSince; // bin -> when its fans went on (still on)
    const qint64 end = qMin(toMs, nowMs);
    // A bin whose fans switched lately is listed, with 0 hours when none of its runs fell in the day.
    const auto add = [&](int bin, qint64 from, qint64 to) {
        hours[bin] += double(qMax<qint64>(0, qMin(to, end) - qMax(from, fromMs))) / 3600000.0;
    };
    for (const StoreEvent &e : fanEvents) {
        if (e.kind != QLatin1String(kFanEvent) || e.timeMs >= end)
            continue;
        const QJsonObject o = QJsonDocument::fromJson(e.data).object();
        if (!o.value(QStringLiteral("ok")).toBool())
            continue;
        const int bin = o.value(QStringLiteral("bin")).toInt();
        const bool on = o.value(QStringLiteral("on")).toBool();
        if (on && !onSince.contains(bin))
            onSince.insert(bin, e.timeMs);
        else if (!on && onSince.contains(bin))
            add(bin, onSince.take(bin), e.timeMs);
    }
    for (auto it = onSince.cbegin(); it != onSince.cend(); ++it)
        add(it.key(), it.value(), end);
    return hours;
}

std::optional<double> steepestGradient(const BinProfile &bin)
{
    std::optional<double> steepest;
    for (const CableProfile &c : bin.cables)
        for (int i = 1; i < c.points.size(); ++i) {
            const double span = c.points[i].depthM - c.points[i - 1].depthM;
            if (span <= 0)
                continue;
            const double g = std::abs(c.points[i].celsius - c.points[i - 1].celsius) / span;
            if (!steepest || g > *steepest)
                steepest = g;
        }
    // A bin whose cables have one point each has no gradient to speak of.
    if (!steepest && !bin.cables.isEmpty())
        steepest = 0;
    return steepest;
}

void VentilationControl::setSettings(const VentilationSettings &advice, const FanSettings &fans, bool automatic)
{
    m_settings = advice;
    m_fanSettings = fans;
    m_automatic = automatic;
}

QList<StoreEvent> VentilationControl::accept(int key, const AirReading &reading, qint64 nowMs)
{
    QList<StoreEvent> events;
    const DepotAir *device = m_depot.airDevice(key);
    if (!device)
        return events;
    const QString who = QStringLiteral("%1温湿度变送器（%2）").arg(placeName(m_depot, *device), device->section);
    if (!reading.ok()) {
        if (m_faults.value(key) != reading.fault) {
            m_faults.insert(key, reading.fault);
            events.append({nowMs, key, QString::fromLatin1(kAirFaultEvent), who + QStringLiteral("故障：") + reading.fault,
                           jsonOf({{QStringLiteral("bin"), device->bin}, {QStringLiteral("fault"), reading.fault}})});
        }
        return events;
    }
    if (m_faults.remove(key) > 0)
        events.append({nowMs, key, QString::fromLatin1(kAirBackEvent), who + QStringLiteral("恢复正常"), {}});
    const AirSample sample{nowMs, *reading.celsius, *reading.relativeHumidity};
    m_latest.insert(key, sample);
    const qint64 minute = nowMs / 60000;
    if (m_storedMinute.value(key, -1) != minute) {
        m_storedMinute.insert(key, minute);
        QJsonObject data{{QStringLiteral("bin"), device->bin}, {QStringLiteral("celsius"), sample.celsius},
                         {QStringLiteral("rh"), sample.rh}};
        const auto dew = sample.dewPoint();
        if (dew)
            data.insert(QStringLiteral("dew_point"), std::round(*dew * 100) / 100);
        events.append({nowMs, key, QString::fromLatin1(kAirEvent),
                       QStringLiteral("%1 %2 °C %3%RH 露点 %4 °C")
                           .arg(placeName(m_depot, *device))
                           .arg(sample.celsius, 0, 'f', 1)
                           .arg(sample.rh, 0, 'f', 1)
                           .arg(dew ? QString::number(*dew, 'f', 1) : QStringLiteral("?")),
                       jsonOf(data)});
    }
    return events;
}

namespace {
// The mean of the fresh readings of the transmitters at one place.
std::optional<AirSample> freshAt(const Depot &depot, const QMap<int, AirSample> &latest, int bin, qint64 nowMs)
{
    AirSample sum;
    int count = 0;
    for (const DepotAir &a : depot.air) {
        const auto it = latest.constFind(a.key());
        if (a.bin != bin || it == latest.cend() || nowMs - it->timeMs > VentilationControl::kStaleMs)
            continue;
        sum.celsius += it->celsius;
        sum.rh += it->rh;
        sum.timeMs = qMax(sum.timeMs, it->timeMs);
        ++count;
    }
    if (count == 0)
        return std::nullopt;
    sum.celsius /= count;
    sum.rh /= count;
    return sum;
}
} // namespace

std::optional<AirSample> VentilationControl::outside(qint64 nowMs) const
{
    return freshAt(m_depot, m_latest, 0, nowMs);
}

std::optional<AirSample> VentilationControl::headspace(int bin, qint64 nowMs) const
{
    return bin > 0 ? freshAt(m_depot, m_latest, bin, nowMs) : std::nullopt;
}

VentilationControl::Step VentilationControl::evaluate(const QList<BinProfile> &bins, qint64 nowMs)
{
    Step step;
    const auto out = outside(nowMs);
    for (const DepotBin &bin : m_depot.bins) {
        VentilationInputs in;
        for (const BinProfile &p : bins)
            if (p.bin == bin.number) {
                in.grainMeanC = binMean(p);
                in.gradientPerMetre = steepestGradient(p);
                if (const auto tb = topAndBottom(p))
                    in.topBottomC = std::abs(tb->first - tb->second);
            }
        if (out) {
            in.outsideC = out->celsius;
            in.outsideRh = out->rh;
        }
        if (const auto head = headspace(bin.number, nowMs)) {
            in.headspaceC = head->celsius;
            in.headspaceRh = head->rh;
        }
        if (bin.moistureWet > 0)
            in.grainMoistureWet = bin.moistureWet;
        in.sorption = sorptionFor(bin.grain);
        const auto before = m_advice.constFind(bin.number);
        in.cooling = before != m_advice.cend() && before->go;
        const VentilationAdvice advice = adviseVentilation(in, m_settings);
        // Stored when it changes, and once an hour while it does not, so the log keeps the numbers.
        if (before == m_advice.cend() || before->rule != advice.rule || nowMs - m_storedAdvice.value(bin.number) >= 3600000) {
            m_storedAdvice.insert(bin.number, nowMs);
            QJsonObject data = QJsonDocument::fromJson(advice.json(m_settings)).object();
            data.insert(QStringLiteral("bin"), bin.number);
            if (before != m_advice.cend() && before->rule == advice.rule)
                data.insert(QStringLiteral("repeat"), true); // the hour's record: not news
            step.events.append({nowMs, 0, QString::fromLatin1(kVentilationEvent),
                                QStringLiteral("%1 %2：%3").arg(bin.name, advice.verdict(), advice.reason(m_settings)),
                                jsonOf(data)});
        }
        m_advice.insert(bin.number, advice);

        if (!m_automatic || !m_depot.fansOf(bin.number))
            continue;
        if (m_pending.contains(bin.number)) {
            if (nowMs - m_pending.value(bin.number) < 60000)
                continue; // a write on its way
            m_pending.remove(bin.number);
        }
        // A relay's coil may be on from before a restart: the first write says what it should be.
        const FanDecision d = m_fans.contains(bin.number)
            ? decideFan(m_fans.value(bin.number), advice.go, nowMs, m_fanSettings)
            : FanDecision{advice.go, advice.go ? FanReason::Advice : FanReason::Interlock};
        if (d.reason == FanReason::None)
            continue;
        if (const auto s = fanSwitch(bin.number, d.switchTo, d.reason)) {
            m_pending.insert(bin.number, nowMs);
            step.switches.append(*s);
        }
    }
    return step;
}

std::optional<FanSwitch> VentilationControl::fanSwitch(int bin, bool on, FanReason reason) const
{
    const DepotFans *f = m_depot.fansOf(bin);
    if (!f)
        return std::nullopt;
    return FanSwitch{bin, f->bus, writeCoilRequest(quint8(f->address), quint16(f->coil), on), on, reason};
}

StoreEvent VentilationControl::switched(const FanSwitch &s, bool ok, qint64 nowMs)
{
    m_pending.remove(s.bin);
    if (ok)
        m_fans.insert(s.bin, FanState{s.on, s.reason, nowMs, s.reason == FanReason::Manual});
    const QString text = QStringLiteral("%1 风机%2（%3）%4")
                             .arg(binName(m_depot, s.bin), s.on ? QStringLiteral("开") : QStringLiteral("关"),
                                  fanReasonText(s.reason), ok ? QString() : QStringLiteral("失败：继电器未确认"));
    return {nowMs, 0, QString::fromLatin1(kFanEvent), text,
            jsonOf({{QStringLiteral("bin"), s.bin}, {QStringLiteral("on"), s.on},
                    {QStringLiteral("reason"), fanReasonKey(s.reason)}, {QStringLiteral("ok"), ok}})};
}

void VentilationControl::replay(const StoreEvent &e)
{
    const QJsonObject o = QJsonDocument::fromJson(e.data).object();
    if (e.kind == QLatin1String(kAirEvent)) {
        m_latest.insert(e.address, AirSample{e.timeMs, o.value(QStringLiteral("celsius")).toDouble(), o.value(QStringLiteral("rh")).toDouble()});
    } else if (e.kind == QLatin1String(kVentilationEvent)) {
        if (const auto advice = adviceFromJson(e.data))
            m_advice.insert(o.value(QStringLiteral("bin")).toInt(), *advice);
    } else if (e.kind == QLatin1String(kFanEvent)) {
        const int bin = o.value(QStringLiteral("bin")).toInt();
        if (o.value(QStringLiteral("automatic")).toBool())
            m_fans[bin].manual = false;
        else if (o.value(QStringLiteral("ok")).toBool()) {
            const FanReason reason = fanReasonFromKey(o.value(QStringLiteral("reason")).toString());
            m_fans.insert(bin, FanState{o.value(QStringLiteral("on")).toBool(), reason, e.timeMs, reason == FanReason::Manual});
        }
    }
}

std::optional<FanSwitch> VentilationControl::manual(int bin, std::optional<bool> on, qint64 nowMs, StoreEvent *event)
{
    if (on)
        return fanSwitch(bin, *on, FanReason::Manual);
    FanState &state = m_fans[bin];
    state.manual = false;
    // Automatic control takes over as if the keeper's switch had been its own.
    state.lastSwitch = FanReason::Advice;
    *event = {nowMs, 0, QString::fromLatin1(kFanEvent), QStringLiteral("%1 风机恢复自动控制").arg(binName(m_depot, bin)),
              jsonOf({{QStringLiteral("bin"), bin}, {QStringLiteral("automatic"), true}})};
    return std::nullopt;
}

} // namespace vx
