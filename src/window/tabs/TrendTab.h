#pragma once

#include <QList>
#include <QPair>
#include <QWidget>

#include <functional>

class QChart;
class QChartView;
class QComboBox;
class QDateTimeEdit;
class QLabel;
class QLineEdit;

namespace vx {

class Dialogs;
class ReadingStore;

// Tab "历史曲线": chosen cables and layers over a range, drawn from the
// store's chart buckets (min / mean / max, so a year of one-minute readings
// stays drawable); zoom with the mouse (a rectangle; right click zooms out),
// pan with the arrow keys, reset; hovering names time and value; the shown
// data as CSV, the chart as PNG.
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

private:
    QPair<qint64, qint64> range() const;

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
    QList<Series> m_shown;
};

} // namespace vx
