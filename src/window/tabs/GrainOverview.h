#pragma once

#include "core/grain/GrainState.h"

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

    const GrainSnapshot *m_snapshot = nullptr;
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
    const GrainSnapshot &snapshot() const { return m_snapshot; }
    // One accepted frame: the cable's layers move on (repainted with the window).
    void take(int address, const QList<quint16> &registers, qint64 timeMs);
    // Cable states may change with time alone.
    void refresh();
    // The colour scale's limits are kept in this INI file ([overview] low, high).
    void setSettingsFile(const QString &path);

private:
    GrainSnapshot m_snapshot;
    GrainMap *m_map;
    QLabel *m_figures;
    QDoubleSpinBox *m_low, *m_high;
    QString m_settingsFile;
};

} // namespace vx
