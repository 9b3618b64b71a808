#include "core/depot/InspectionBook.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

namespace vx {

namespace {

QJsonValue number(const std::optional<double> &v)
{
    return v ? QJsonValue(*v) : QJsonValue();
}

std::optional<double> numberFrom(const QJsonValue &v)
{
    return v.isDouble() ? std::optional<double>(v.toDouble()) : std::nullopt;
}

// A field as CSV wants it: quoted when it holds a comma, a quote or a line end.
QString csvField(const QString &text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) && !text.contains(QLatin1Char('\n'))
        && !text.contains(QLatin1Char('\r')))
        return text;
    return QLatin1Char('"') + QString(text).replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
}

QString figure(const std::optional<double> &v)
{
    return v ? QString::number(*v, 'f', 2) : QString();
}

} // namespace

void InspectionEntry::takeFigures(const BinSummary &s)
{
    if (s.all.count > 0) {
        mean = s.all.mean;
        max = s.all.max;
        min = s.all.min;
        maxCable = s.maxCable;
        maxPoint = s.maxPoint;
    }
    topBottom = s.topBottom;
    layerMeans.clear();
    for (const Figures &f : s.layers)
        layerMeans.append(f.count > 0 ? std::optional<double>(f.mean) : std::nullopt);
}

StoreEvent InspectionEntry::event() const
{
    QJsonArray layers;
    for (const auto &m : layerMeans)
        layers.append(number(m));
    QJsonObject o{{QStringLiteral("bin"), bin},
                  {QStringLiteral("date"), date.toString(Qt::ISODate)},
                  {QStringLiteral("inspector"), inspector},
                  {QStringLiteral("observations"), observations},
                  {QStringLiteral("mean"), number(mean)},
                  {QStringLiteral("max"), number(max)},
                  {QStringLiteral("min"), number(min)},
                  {QStringLiteral("top_bottom"), number(topBottom)},
                  {QStringLiteral("max_cable"), maxCable},
                  {QStringLiteral("max_point"), maxPoint},
                  {QStringLiteral("layers"), layers}};
    if (corrects != 0)
        o.insert(QStringLiteral("corrects"), corrects);
    const QString detail = QStringLiteral("仓%1 粮情检查 %2 %3%4")
                               .arg(bin)
                               .arg(date.toString(Qt::ISODate), inspector, corrects != 0 ? QStringLiteral("（更正）") : QString());
    return {timeMs, 0, QString::fromLatin1(kInspectionEvent), detail, QJsonDocument(o).toJson(QJsonDocument::Compact)};
}

std::optional<InspectionEntry> InspectionEntry::fromEvent(const StoreEvent &event)
{
    if (event.kind != QLatin1String(kInspectionEvent))
        return std::nullopt;
    const QJsonObject o = QJsonDocument::fromJson(event.data).object();
    InspectionEntry e;
    e.timeMs = event.timeMs;
    e.bin = o.value(QStringLiteral("bin")).toInt();
    e.date = QDate::fromString(o.value(QStringLiteral("date")).toString(), Qt::ISODate);
    if (e.bin <= 0 || !e.date.isValid())
        return std::nullopt;
    e.inspector = o.value(QStringLiteral("inspector")).toString();
    e.observations = o.value(QStringLiteral("observations")).toString();
    e.corrects = qint64(o.value(QStringLiteral("corrects")).toDouble());
    e.mean = numberFrom(o.value(QStringLiteral("mean")));
    e.max = numberFrom(o.value(QStringLiteral("max")));
    e.min = numberFrom(o.value(QStringLiteral("min")));
    e.topBottom = numberFrom(o.value(QStringLiteral("top_bottom")));
    e.maxCable = o.value(QStringLiteral("max_cable")).toInt();
    e.maxPoint = o.value(QStringLiteral("max_point")).toInt();
    for (const QJsonValue &v : o.value(QStringLiteral("layers")).toArray())
        e.layerMeans.append(numberFrom(v));
    return e;
}

QList<InspectionEntry> standingEntries(const QList<StoreEvent> &events)
{
    QList<InspectionEntry> all;
    QSet<qint64> corrected;
    for (const StoreEvent &ev : events)
        if (const auto e = InspectionEntry::fromEvent(ev)) {
            all.append(*e);
            if (e->corrects != 0)
                corrected.insert(e->corrects);
        }
    QList<InspectionEntry> out;
    for (const InspectionEntry &e : all)
        if (!corrected.contains(e.timeMs))
            out.append(e);
    std::stable_sort(out.begin(), out.end(), [](const InspectionEntry &a, const InspectionEntry &b) {
        return a.date != b.date ? a.date < b.date : a.timeMs < b.timeMs;
    });
    return out;
}

QMap<int, QDate> lastInspections(const QList<InspectionEntry> &entries)
{
    QMap<int, QDate> out;
    for (const InspectionEntry &e : entries)
        if (!out.contains(e.bin) || out.value(e.bin) < e.date)
            out.insert(e.bin, e.date);
    return out;
}

QByteArray inspectionCsv(const QList<InspectionEntry> &entries, const Depot &depot)
{
    QStringList lines;
    QStringList head{QStringLiteral("bin"), QStringLiteral("name"), QStringLiteral("grain"), QStringLiteral("class"),
                     QStringLiteral("date"), QStringLiteral("inspector"), QStringLiteral("mean"), QStringLiteral("max"),
                     QStringLiteral("max_cable"), QStringLiteral("max_point"), QStringLiteral("min"),
                     QStringLiteral("top_bottom"), QStringLiteral("observations")};
    for (int l = 1; l <= kLayers; ++l)
        head << QStringLiteral("layer_%1").arg(l);
    lines << head.join(QLatin1Char(','));
    for (const InspectionEntry &e : entries) {
        const DepotBin *b = depot.bin(e.bin);
        QStringList row{QString::number(e.bin),
                        csvField(b ? b->name : QString()),
                        csvField(b ? b->grain : QString()),
                        b ? storageClassKey(b->storageClass) : QString(),
                        e.date.toString(Qt::ISODate),
                        csvField(e.inspector),
                        figure(e.mean),
                        figure(e.max),
                        e.maxCable ? QString::number(e.maxCable) : QString(),
                        e.maxPoint ? QString::number(e.maxPoint) : QString(),
                        figure(e.min),
                        figure(e.topBottom),
                        csvField(e.observations)};
        for (int l = 0; l < kLayers; ++l)
            row << figure(e.layerMeans.value(l));
        lines << row.join(QLatin1Char(','));
    }
    return (lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toUtf8();
}

} // namespace vx
