#pragma once

#include <QList>
#include <QPair>
#include <QWidget>

#include <functional>

class QChart;
class QChartView;
class QCheckBox;
class QComboBox;
class QDateTimeAxis;
class QLineSeries;
class QValueAxis;
class QTimer;
class QDateTimeEdit;
class QLabel;
class QLineEdit;

namespace vx {

class Dialogs;
class ReadingStore;

// Tab "历史曲线": chosen cables and layers over a span, drawn from the
// store's chart buckets (min / mean / max, so a year of one-minute readings
// stays drawable) and fitted to the data; zoom with the mouse (a rectangle;
// right click zooms out) fetches finer buckets down to single readings; pan
// with the arrow keys, reset; "follow" extends the curve as readings come;
// hovering snaps to the nearest stored reading; the shown data as CSV, the
// chart as PNG.
class TrendTab : public QWidget {
    Q_OBJECT
public:
    using StoreSource = std::function<ReadingStore *()>;
    using Clock = std::function<qint64()>;
    TrendTab(StoreSource store, Clock now, Dialogs &dialogs, QWidget *parent = nullptr);

    // Shows one point over the last 24 hours (the overview's double-click).
    void showPoint(int cable, int layer);
    // Draws what the fields say; false (and a line under the chart) when they are wrong.
    bool draw();
    // Fetches the curves again for the range the x axis shows (after a zoom).
    void refetchShown();
    // What hovering at this time over curve `index` says: the nearest stored reading.
    QString hoverText(int index, qint64 timeMs) const;
    // The x axis's range, as shown.
    QPair<qint64, qint64> shownRange() const;
    enum Span { Hour, SixHours, Day, Week, Month, Year, Dates };
    bool exportCsv(const QString &file, QString *error) const;

    QChart *chart() const { return m_chart; }
    QChartView *view() const { return m_view; }
    static constexpr int kBuckets = 2000;

    struct Series {
        int cable = 0, layer = 0;
        QList<qint64> times;
        QList<double> min, mean, max;
    };
    const QList<Series> &shown() const { return m_shown; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    QPair<qint64, qint64> range() const;
    // Curves over [from, to) into the series already on the chart; false when the store is away.
    bool fetch(qint64 from, qint64 to);
    void setXRange(qint64 from, qint64 to);
    // The air's own curves beside the grain's (with the air check box): from the stored air events.
    void addAirCurves(qint64 from, qint64 to, QValueAxis *celsiusAxis);

    StoreSource m_store;
    Clock m_now;
    Dialogs &m_dialogs;
    QLineEdit *m_cables;
    QLineEdit *m_layers;
    QComboBox *m_span;
    QDateTimeEdit *m_from, *m_to;
    QChart *m_chart;
    QChartView *m_view;
    QLabel *m_message;
    QCheckBox *m_follow;
    QCheckBox *m_air;
    double m_airLow = 0, m_airHigh = 0; // the air's temperatures drawn, for the axis
    QDateTimeAxis *m_x = nullptr;
    QList<Series> m_shown;
    QList<QLineSeries *> m_lines;
    QTimer *m_refetch;    // a zoom settles before finer buckets are fetched
    QTimer *m_followTick; // new readings into the curve
    bool m_settingRange = false;
    bool m_zoomed = false;
    bool m_drawnOnce = false;
};

} // namespace vx
