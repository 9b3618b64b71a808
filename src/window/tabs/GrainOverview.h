#pragma once

#include "core/grain/AlarmBook.h"
#include "core/grain/GrainState.h"

#include <QMap>
#include <QWidget>

#include <array>
#include <functional>
#include <utility>

class QDoubleSpinBox;
class QLabel;

namespace vx {

// The bin at a glance: all 40 cables by 18 layers as a colour map (blue to
// red between two limits), each cell with its value; beside it each layer's
// average, maximum and minimum over the answering cables, under it each
// cable's; the whole bin's figures and where its maximum is. Cells without a
// temperature (none yet, no reading, a suspect 85.00, a silent cable) are
// grey and hatched, never coloured as a temperature.
class GrainMap : public QWidget {
    Q_OBJECT
public:
    explicit GrainMap(QWidget *parent = nullptr);

    void setSnapshot(const GrainSnapshot *snapshot) { m_snapshot = snapshot; }
    // Cells in an open alarm carry a mark by its priority; the tooltip names it.
    void setAlarms(const AlarmBook &book);
    // The priority of the most urgent open alarm at a cell (layer 0: the
    // cable's own, a silent cable); nothing when none.
    std::optional<AlarmPriority> alarmAt(int cable, int layer) const;
    // A cable's frame came: its column, the layers' figures and the hottest cell are drawn again.
    void cableChanged(int cable);
    void setClock(std::function<qint64()> now) { m_now = std::move(now); }
    void setSilentAfter(std::function<qint64()> silentAfterMs) { m_silentAfter = std::move(silentAfterMs); }
    void setScale(double low, double high);
    double scaleLow() const { return m_low; }
    double scaleHigh() const { return m_high; }

    // Where a cell is drawn (cable 1..40, layer 1..18), for a test's eye.
    QRect cellRect(int cable, int layer) const;
    // The colour of a temperature on the scale.
    QColor colourOf(double celsius) const;
    CableState stateOf(int cable) const;
    // Every cable's state at one reading of the clock: the once-a-second look
    // asked the clock (a local time) once per cable.
    std::array<CableState, kCables> states() const;
    // What hovering a cell tells: value, time of reading, raw register.
    QString toolTipAt(int cable, int layer) const;
    GrainStatistics statistics() const;
    QSize minimumSizeHint() const override;

signals:
    void pointActivated(int cable, int layer);

protected:
    void paintEvent(QPaintEvent *event) override;
    bool event(QEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    QPoint cellAt(const QPoint &pos) const; // (cable, layer), 0 outside
    // The clock's time and how long a cable may be silent, each asked once.
    std::pair<qint64, qint64> nowAndSilentAfter() const;
    int cellWidth() const;
    int cellHeight() const;

    void drawMark(QPainter &p, const QRect &r, AlarmPriority priority) const;
    QRect columnRect(int cable) const;
    QRect layerFiguresRect() const;

    const GrainSnapshot *m_snapshot = nullptr;
    // The most urgent open alarm per cell, and its texts; layer 0 for the cable itself.
    std::array<std::array<std::optional<AlarmPriority>, kLayers + 1>, kCables> m_marks{};
    QMap<QPair<int, int>, QStringList> m_markTexts;
    QPoint m_hottest; // where the hottest cell was last drawn
    std::function<qint64()> m_now;
    std::function<qint64()> m_silentAfter;
    double m_low = 0, m_high = 40;
};

// Tab "粮情总览": the map and the bin's own figures.
class GrainOverview : public QWidget {
    Q_OBJECT
public:
    explicit GrainOverview(QWidget *parent = nullptr);

    GrainMap *map() const { return m_map; }
    // The bin as the readings pipeline keeps it.
    void setSnapshot(const GrainSnapshot *snapshot) { m_map->setSnapshot(snapshot); }
    // One accepted frame of a cable: its column is drawn again (with the window).
    void frameTaken(int address) { m_map->cableChanged(address); }
    // Cable states may change with time alone.
    void refresh();
    // The colour scale's limits are kept in this INI file ([overview] low, high).
    void setSettingsFile(const QString &path);

private:
    std::array<CableState, kCables> m_states{};
    GrainMap *m_map;
    QLabel *m_figures;
    QDoubleSpinBox *m_low, *m_high;
    QString m_settingsFile;
};

} // namespace vx
