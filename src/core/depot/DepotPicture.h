#pragma once

#include "core/depot/Depot.h"
#include "core/grain/AlarmBook.h"
#include "core/grain/AlarmRules.h"
#include "core/grain/GrainState.h"
#include "core/grain/StorageRules.h"

#include <QHash>
#include <QList>
#include <QMap>

#include <array>

#include <optional>

namespace vx {

// A bin at a glance, from its cables' latest frames: the figures the overview's
// tile, the bin's page and the storage rules use.
struct BinSummary {
    int bin = 0;
    Figures all;                      // every trustworthy point of the bin
    int maxCable = 0, maxPoint = 0;   // where the maximum is (cable key, point); 0: none
    double maxDepthM = 0;
    QList<Figures> layers;            // by point 1..18, over the bin's cables
    std::optional<double> topBottom;  // top layer's mean minus the bottom's (each cable's top and bottom point)
    int cables = 0, silentCables = 0, neverSeen = 0;
    qint64 lastReadingMs = -1;        // the newest frame of any of its cables
};

// The depot now: each cable's latest frame, by its key; its bins' profiles and figures.
class DepotPicture {
public:
    explicit DepotPicture(Depot depot = {});

    const Depot &depot() const { return m_depot; }
    void setDepot(Depot depot) { m_depot = std::move(depot); }
    // A frame of a cable (a key not in the depot is kept too: the depot file may name it later).
    void take(int key, const QList<quint16> &raw, qint64 timeMs);
    void clear() { m_latest.clear(); }
    // Every key that has given a frame, in order.
    QList<int> keys() const;

    // A point's temperature when it can be trusted: an installed point's "ok"
    // reading of a cable that is not silent.
    std::optional<double> temperature(int key, int point, qint64 nowMs, qint64 silentAfterMs) const;
    std::optional<PointReading> latest(int key, int point) const;
    CableState stateOf(int key, qint64 nowMs, qint64 silentAfterMs) const;

    // Of this picture's depot, or of another laid over the same frames (a view's one bin of the cables seen).
    BinProfile profile(const DepotBin &bin, qint64 nowMs, qint64 silentAfterMs) const { return profile(m_depot, bin, nowMs, silentAfterMs); }
    BinProfile profile(const Depot &depot, const DepotBin &bin, qint64 nowMs, qint64 silentAfterMs) const;
    QList<BinProfile> profiles(qint64 nowMs, qint64 silentAfterMs) const;
    BinSummary summary(const DepotBin &bin, qint64 nowMs, qint64 silentAfterMs) const { return summary(m_depot, bin, nowMs, silentAfterMs); }
    BinSummary summary(const Depot &depot, const DepotBin &bin, qint64 nowMs, qint64 silentAfterMs) const;

private:
    struct Latest {
        qint64 timeMs = -1;
        QList<quint16> raw;
    };
    Depot m_depot;
    QHash<int, Latest> m_latest;
};

// The first rules for the depot's cables the bin's picture (devices 1..40)
// does not hold, those of further buses: a cable gone silent, and its
// installed points above their high limit (one group per cable, as the
// picture's rules group them). The other point rules judge devices 1..40 only.
QList<AlarmCondition> evaluateFurtherCables(const DepotPicture &picture, const AlarmSettings &settings, qint64 nowMs);

// Open alarms of a bin by priority, and the most urgent at each (cable, layer) (layer 0: the cable's own).
struct BinAlarms {
    std::array<int, 3> open{};
    QMap<QPair<int, int>, AlarmPriority> marks;
    std::optional<AlarmPriority> worst() const;
};
// A bin's open alarms: those of its cables and of the bin itself.
BinAlarms binAlarms(const Depot &depot, int bin, const AlarmBook &book);
BinAlarms binAlarms(const Depot &depot, int bin, const QList<Alarm> &alarms);

} // namespace vx
