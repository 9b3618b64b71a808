#include "core/grain/DailyReport.h"

#include "core/air/VentilationControl.h"

#include <QDateTime>

namespace vx {

QList<int> DailyReport::cables() const
{
    QList<int> out;
    for (const PointSummary &p : points)
        if (out.isEmpty() || out.last() != p.address)
            out << p.address;
    return out;
}

const PointSummary *DailyReport::at(int cable, int layer) const
{
    for (const PointSummary &p : points)
        if (p.address == cable && p.point == layer)
            return &p;
    return nullptr;
}

QByteArray DailyReport::csv() const
{
    QByteArray text = "cable,layer,min,max,mean,count\n";
    for (const PointSummary &p : points)
        text += QStringLiteral("%1,%2,%3,%4,%5,%6\n")
                    .arg(p.address)
                    .arg(p.point)
                    .arg(number(p.min), number(p.max), number(p.mean))
                    .arg(p.count)
                    .toUtf8();
    if (bin.count > 0)
        text += QStringLiteral("bin,,%1,%2,%3,%4\n").arg(number(bin.min), number(bin.max), number(bin.mean)).arg(bin.count).toUtf8();
    for (auto it = fanHours.cbegin(); it != fanHours.cend(); ++it)
        text += QStringLiteral("fans,%1,%2\n").arg(it.key()).arg(number(it.value())).toUtf8();
    return text;
}

DailyReport buildDailyReport(ReadingStore &store, const QDate &date)
{
    DailyReport r;
    r.date = date;
    const qint64 from = QDateTime(date, QTime(0, 0), Qt::LocalTime).toMSecsSinceEpoch();
    const qint64 to = QDateTime(date.addDays(1), QTime(0, 0), Qt::LocalTime).toMSecsSinceEpoch();
    r.points = store.pointSummaries(from, to);
    double sum = 0;
    for (const PointSummary &p : r.points) {
        if (r.bin.count == 0) {
            r.bin.min = p.min;
            r.bin.max = p.max;
            r.bin.address = p.address;
            r.bin.point = p.point;
        }
        r.bin.min = qMin(r.bin.min, p.min);
        if (p.max > r.bin.max) {
            r.bin.max = p.max;
            r.bin.address = p.address;
            r.bin.point = p.point;
        }
        sum += p.mean * double(p.count);
        r.bin.count += p.count;
    }
    r.bin.mean = r.bin.count > 0 ? sum / double(r.bin.count) : 0;
    for (const StoreEvent &e : store.events(from, to))
        if (e.kind == QLatin1String("alarm_raised"))
            r.alarms << e;
    // A run longer than the rest allows started at most a few days before.
    r.fanHours = fanHours(store.events(from - 7 * 24 * 3600000LL, to, QString::fromLatin1(kFanEvent)), from, to,
                          QDateTime::currentMSecsSinceEpoch());
    return r;
}

} // namespace vx
