#include "core/web/WebTexts.h"

#include "core/central/Metrics.h"
#include "core/grain/AlarmRules.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace vx::embedded {
extern const char webPage[];
extern const int webPage_size;
} // namespace vx::embedded

namespace vx::web {

QByteArray page()
{
    return QByteArray::fromRawData(embedded::webPage, embedded::webPage_size);
}

namespace {
QByteArray compact(const QJsonObject &o)
{
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

QJsonValue number(double v)
{
    return qIsFinite(v) ? QJsonValue(qRound(v * 100) / 100.0) : QJsonValue();
}

QString stateKey(Alarm::State state)
{
    switch (state) {
    case Alarm::State::Active:
        return QStringLiteral("active");
    case Alarm::State::Acknowledged:
        return QStringLiteral("acknowledged");
    case Alarm::State::Cleared:
        break;
    }
    return QStringLiteral("cleared");
}
} // namespace

QString rfc3339(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODateWithMs);
}

namespace {
const char *stateName(CableState state)
{
    return state == CableState::Silent ? "silent" : state == CableState::Answering ? "answering" : "never_seen";
}
} // namespace

namespace {
QJsonObject airJson(const AirSample &a)
{
    QJsonObject o{{QStringLiteral("celsius"), std::round(a.celsius * 100) / 100}, {QStringLiteral("rh"), std::round(a.rh * 100) / 100},
                  {QStringLiteral("time"), rfc3339(a.timeMs)}};
    if (const auto dew = a.dewPoint())
        o.insert(QStringLiteral("dew_point"), std::round(*dew * 100) / 100);
    return o;
}
} // namespace

QByteArray depotJson(const DepotPicture &picture, const QList<Alarm> &alarms, qint64 nowMs, qint64 silentAfterMs,
                     const VentilationControl *air)
{
    const Depot depot = picture.depot().fromFile ? picture.depot() : singleBinDepot(picture.keys());
    const auto number = [](double v) { return QJsonValue(std::round(v * 100) / 100); };
    QJsonArray bins;
    for (const DepotBin &b : depot.bins) {
        const BinSummary s = picture.summary(depot, b, nowMs, silentAfterMs);
        const BinAlarms open = binAlarms(depot, b.number, alarms);
        QJsonArray cables;
        for (const DepotCable &c : depot.cablesOf(b.number)) {
            QJsonArray points, depths, celsius;
            for (int i = 0; i < c.points.size(); ++i) {
                points.append(c.points[i]);
                depths.append(c.depthsM[i]);
                const auto t = picture.temperature(c.key(), c.points[i], nowMs, silentAfterMs);
                celsius.append(t ? number(*t) : QJsonValue());
            }
            QJsonObject cable{{QStringLiteral("device"), c.key()}, {QStringLiteral("bus"), c.bus},
                              {QStringLiteral("address"), c.address}, {QStringLiteral("points"), points},
                              {QStringLiteral("depths"), depths}, {QStringLiteral("celsius"), celsius},
                              {QStringLiteral("state"), QLatin1String(stateName(picture.stateOf(c.key(), nowMs, silentAfterMs)))}};
            if (b.round()) {
                cable.insert(QStringLiteral("ring"), c.ring);
                cable.insert(QStringLiteral("angle"), c.angleDeg);
            } else {
                cable.insert(QStringLiteral("row"), c.row);
                cable.insert(QStringLiteral("column"), c.column);
            }
            cables.append(cable);
        }
        QJsonObject bin{{QStringLiteral("bin"), b.number},
                        {QStringLiteral("name"), b.name},
                        {QStringLiteral("kind"), binKindKey(b.kind)},
                        {QStringLiteral("grain"), b.grain},
                        {QStringLiteral("class"), storageClassKey(b.storageClass)},
                        {QStringLiteral("cables"), cables},
                        {QStringLiteral("silent_cables"), s.silentCables},
                        {QStringLiteral("alarms"), QJsonObject{{QStringLiteral("high"), open.open[0]},
                                                               {QStringLiteral("medium"), open.open[1]},
                                                               {QStringLiteral("low"), open.open[2]}}}};
        if (s.all.count > 0) {
            bin.insert(QStringLiteral("max"), number(s.all.max));
            bin.insert(QStringLiteral("mean"), number(s.all.mean));
            bin.insert(QStringLiteral("min"), number(s.all.min));
            bin.insert(QStringLiteral("max_at"), QJsonObject{{QStringLiteral("device"), s.maxCable}, {QStringLiteral("point"), s.maxPoint}});
        }
        if (s.topBottom)
            bin.insert(QStringLiteral("top_bottom"), number(*s.topBottom));
        if (s.lastReadingMs >= 0)
            bin.insert(QStringLiteral("last_reading"), rfc3339(s.lastReadingMs));
        if (b.intake.isValid())
            bin.insert(QStringLiteral("intake"), b.intake.toString(Qt::ISODate));
        if (b.moistureWet > 0)
            bin.insert(QStringLiteral("moisture"), QJsonObject{{QStringLiteral("percent"), b.moistureWet},
                                                               {QStringLiteral("date"), b.moistureDate.toString(Qt::ISODate)}});
        if (air) {
            if (const auto head = air->headspace(b.number, nowMs))
                bin.insert(QStringLiteral("headspace"), airJson(*head));
            if (const auto it = air->advice().constFind(b.number); it != air->advice().cend())
                bin.insert(QStringLiteral("ventilation"),
                           QJsonObject{{QStringLiteral("go"), it->go}, {QStringLiteral("verdict"), it->verdict()},
                                       {QStringLiteral("rule"), it->ruleKey()}, {QStringLiteral("reason"), it->reason(air->settings())},
                                       {QStringLiteral("reason_en"), it->reasonEnglish(air->settings())}});
            if (depot.fansOf(b.number)) {
                const FanState f = air->fans().value(b.number);
                bin.insert(QStringLiteral("fans"), QJsonObject{{QStringLiteral("on"), f.on}, {QStringLiteral("manual"), f.manual},
                                                               {QStringLiteral("automatic"), air->automatic()}});
            }
        }
        bins.append(bin);
    }
    QJsonObject out{{QStringLiteral("time"), rfc3339(nowMs)}, {QStringLiteral("bins"), bins}};
    if (air)
        if (const auto outside = air->outside(nowMs))
            out.insert(QStringLiteral("outside"), airJson(*outside));
    return QJsonDocument(out).toJson(QJsonDocument::Compact);
}

QByteArray readingsJson(const GrainSnapshot &snapshot, qint64 nowMs, qint64 silentAfterMs)
{
    QJsonArray cables;
    for (int c = 1; c <= kCables; ++c) {
        if (!snapshot.lastSeen[std::size_t(c - 1)] && !snapshot.saidSilent[std::size_t(c - 1)])
            continue;
        const CableState state = snapshot.stateOf(c, nowMs, silentAfterMs);
        QJsonArray layers;
        for (int l = 1; l <= kLayers; ++l) {
            const PointHistory &p = snapshot.at(c, l);
            if (!p.latest.has())
                continue;
            const ReadingStatus status = statusOf(p.latest.raw);
            const auto t = p.temperature();
            const bool suspect = status == ReadingStatus::Ok && !t;
            QJsonObject point{{QStringLiteral("layer"), l},
                              {QStringLiteral("status"), suspect ? QStringLiteral("suspect") : statusName(status)},
                              {QStringLiteral("celsius"), status == ReadingStatus::Ok ? number(*celsiusOf(p.latest.raw)) : QJsonValue()}};
            if (p.latest.timeMs != snapshot.lastSeen[std::size_t(c - 1)].value_or(-1)) // older than the cable's last frame
                point.insert(QStringLiteral("time"), rfc3339(p.latest.timeMs));
            if (!p.installed)
                point.insert(QStringLiteral("installed"), false);
            layers.append(point);
        }
        QJsonObject cable{{QStringLiteral("cable"), c},
                          {QStringLiteral("state"), QLatin1String(stateName(state))},
                          {QStringLiteral("layers"), layers}};
        if (const auto seen = snapshot.lastSeen[std::size_t(c - 1)])
            cable.insert(QStringLiteral("last_seen"), rfc3339(*seen));
        cables.append(cable);
    }
    const GrainStatistics stats = grainStatistics(snapshot, nowMs, silentAfterMs);
    QJsonObject bin{{QStringLiteral("count"), stats.bin.count}};
    if (stats.bin.count > 0) {
        bin.insert(QStringLiteral("min"), number(stats.bin.min));
        bin.insert(QStringLiteral("mean"), number(stats.bin.mean));
        bin.insert(QStringLiteral("max"), number(stats.bin.max));
        bin.insert(QStringLiteral("max_cable"), stats.maxCable);
        bin.insert(QStringLiteral("max_layer"), stats.maxLayer);
    }
    QJsonArray layerMeans;
    for (int l = 0; l < kLayers; ++l)
        layerMeans.append(stats.layers[std::size_t(l)].count > 0 ? number(stats.layers[std::size_t(l)].mean) : QJsonValue());
    return compact({{QStringLiteral("time"), rfc3339(nowMs)},
                    {QStringLiteral("cables"), cables},
                    {QStringLiteral("bin"), bin},
                    {QStringLiteral("layer_means"), layerMeans}});
}

QByteArray alarmsJson(const QList<Alarm> &alarms)
{
    QJsonArray list;
    for (const Alarm &a : alarms) {
        const AlarmCondition &c = a.condition;
        list.append(QJsonObject{{QStringLiteral("rule"), ruleKey(c.rule)},
                                {QStringLiteral("name"), ruleName(c.rule)},
                                {QStringLiteral("priority"), priorityKey(c.priority())},
                                {QStringLiteral("cable"), c.cable},
                                {QStringLiteral("layers"), c.layersText()},
                                {QStringLiteral("state"), stateKey(a.state)},
                                {QStringLiteral("raised"), rfc3339(a.raisedMs)},
                                {QStringLiteral("changed"), rfc3339(a.changedMs)},
                                {QStringLiteral("detail"), c.detail()}});
    }
    return compact({{QStringLiteral("alarms"), list}});
}

QByteArray devicesJson(const CollectorMetrics &m)
{
    QJsonArray devices;
    for (const DeviceMetrics &d : m.devices) {
        QJsonObject o{{QStringLiteral("address"), d.address},
                      {QStringLiteral("answering"), d.up},
                      {QStringLiteral("requests"), double(d.requests)},
                      {QStringLiteral("good_replies"), double(d.goodReplies)},
                      {QStringLiteral("timeouts"), double(d.timeouts)},
                      {QStringLiteral("crc_errors"), double(d.crcErrors)},
                      {QStringLiteral("exceptions"), double(d.exceptions)}};
        if (d.lastSeenAgeSeconds)
            o.insert(QStringLiteral("last_seen_age_s"), number(*d.lastSeenAgeSeconds));
        devices.append(o);
    }
    return compact({{QStringLiteral("port_open"), m.portOpen},
                    {QStringLiteral("bus_paused"), m.busPaused},
                    {QStringLiteral("exchanges"), double(m.exchanges)},
                    {QStringLiteral("cycles"), double(m.cycles)},
                    {QStringLiteral("store_writable"), m.storeWritable},
                    {QStringLiteral("store_pending"), double(m.storePending)},
                    {QStringLiteral("active_alarms"), m.activeAlarms},
                    {QStringLiteral("devices"), devices}});
}

QByteArray eventsJson(const QList<StoreEvent> &events)
{
    QJsonArray list;
    for (auto it = events.crbegin(); it != events.crend(); ++it) // newest first
        list.append(QJsonObject{{QStringLiteral("time"), rfc3339(it->timeMs)},
                                {QStringLiteral("address"), it->address},
                                {QStringLiteral("kind"), it->kind},
                                {QStringLiteral("detail"), it->detail}});
    return compact({{QStringLiteral("events"), list}});
}

std::optional<CurveQuery> curveQuery(const QString &cable, const QString &layer, const QString &span, qint64 nowMs,
                                     QString *why)
{
    static const QList<QPair<QString, qint64>> spans{{QStringLiteral("1h"), 3600000LL},
                                                     {QStringLiteral("24h"), 86400000LL},
                                                     {QStringLiteral("7d"), 7 * 86400000LL},
                                                     {QStringLiteral("30d"), 30 * 86400000LL}};
    CurveQuery q;
    bool ok = false;
    q.cable = cable.toInt(&ok);
    if (!ok || q.cable < 1 || q.cable > kCables) {
        *why = QStringLiteral("cable: a whole number from 1 to %1").arg(kCables);
        return std::nullopt;
    }
    if (!layer.isEmpty()) {
        q.layer = layer.toInt(&ok);
        if (!ok || q.layer < 1 || q.layer > kLayers) {
            *why = QStringLiteral("layer: a whole number from 1 to %1, or none for the whole cable").arg(kLayers);
            return std::nullopt;
        }
    }
    const QString wanted = span.isEmpty() ? QStringLiteral("24h") : span;
    for (const auto &[name, ms] : spans)
        if (name == wanted) {
            q.toMs = nowMs;
            q.fromMs = nowMs - ms;
            q.buckets = kCurveBuckets;
            return q;
        }
    *why = QStringLiteral("span: 1h, 24h, 7d or 30d");
    return std::nullopt;
}

QByteArray curveJson(const CurveQuery &query, const QList<QPair<int, QList<ReadingBucket>>> &lines)
{
    QJsonArray out;
    for (const auto &[layer, buckets] : lines) {
        QJsonArray points;
        for (const ReadingBucket &b : buckets)
            if (b.count > 0)
                points.append(QJsonArray{double(b.startMs), number(b.mean), number(b.min), number(b.max)});
        out.append(QJsonObject{{QStringLiteral("layer"), layer}, {QStringLiteral("points"), points}});
    }
    return compact({{QStringLiteral("cable"), query.cable},
                    {QStringLiteral("from"), rfc3339(query.fromMs)},
                    {QStringLiteral("to"), rfc3339(query.toMs)},
                    {QStringLiteral("bucket_ms"), double((query.toMs - query.fromMs) / qMax(1, query.buckets))},
                    {QStringLiteral("lines"), out}});
}

std::optional<qint64> eventsSince(const QString &hours, qint64 nowMs, QString *why)
{
    if (hours.isEmpty())
        return nowMs - 24 * 3600000LL;
    bool ok = false;
    const int h = hours.toInt(&ok);
    if (!ok || h < 1 || h > 31 * 24) {
        *why = QStringLiteral("hours: a whole number from 1 to 744");
        return std::nullopt;
    }
    return nowMs - qint64(h) * 3600000;
}

QByteArray streamEvent(const QByteArray &name, const QByteArray &json)
{
    return "event: " + name + "\ndata: " + json + "\n\n";
}

} // namespace vx::web
