#pragma once

#include "core/air/VentilationControl.h"
#include "core/depot/DepotPicture.h"
#include "core/grain/AlarmBook.h"
#include "core/grain/GrainState.h"
#include "core/store/ReadingStore.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace vx {

struct CollectorMetrics;

// The JSON of the web view's API (docs/api.md): bytes from the collector's
// state, nothing else. Times are RFC 3339 in UTC with milliseconds; names stay.
namespace web {

QString rfc3339(qint64 ms);

// Every cable seen or expected (1..40), its state and each layer's reading
// with its status ("ok", "no_reading", "power_on", "out_of_range", "suspect":
// a sensor under a fault), and the bin's figures.
QByteArray readingsJson(const GrainSnapshot &snapshot, qint64 nowMs, qint64 silentAfterMs);
// The depot as the window's "仓房" tab shows it: each bin's particulars, its
// figures and open alarms by priority, and each cable's place, depths and latest
// temperatures (null: none to trust). Without a depot file: one bin of the cables seen.
// With the air: the outside air, each bin's headspace, its ventilation advice and its fans.
QByteArray depotJson(const DepotPicture &picture, const QList<Alarm> &alarms, qint64 nowMs, qint64 silentAfterMs,
                     const VentilationControl *air = nullptr);
// The alarm groups as the window lists them, newest first.
QByteArray alarmsJson(const QList<Alarm> &alarms);
QByteArray devicesJson(const CollectorMetrics &metrics);
QByteArray eventsJson(const QList<StoreEvent> &events);

// /api/curve?cable=3&layer=5&span=24h (layer absent: every layer of the cable).
struct CurveQuery {
    int cable = 0;
    int layer = 0; // 0: the whole cable
    qint64 fromMs = 0, toMs = 0;
    int buckets = 0;
};
constexpr int kCurveBuckets = 240; // points per line: a phone's width, a desktop's at two pixels each
// The query's parameters as sent ("cable=3&span=7d"); *why says what is wrong (for a 400).
std::optional<CurveQuery> curveQuery(const QString &cable, const QString &layer, const QString &span, qint64 nowMs,
                                     QString *why);
// One line per layer: [[start ms, mean, min, max], ...].
QByteArray curveJson(const CurveQuery &query, const QList<QPair<int, QList<ReadingBucket>>> &lines);

// /api/events?hours=24 (at most 31 days).
std::optional<qint64> eventsSince(const QString &hours, qint64 nowMs, QString *why);

// The page (HTML, its style and script in one), as built in.
QByteArray page();

// An event-stream message: "event: NAME\ndata: JSON\n\n".
QByteArray streamEvent(const QByteArray &name, const QByteArray &json);

} // namespace web
} // namespace vx
