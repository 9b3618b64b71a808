#pragma once

#include "core/air/VentilationControl.h"
#include "core/depot/DepotPicture.h"
#include "core/depot/InspectionBook.h"
#include "core/grain/AlarmBook.h"

#include <QMap>
#include <QWidget>

#include <array>
#include <functional>

class QCheckBox;
class QComboBox;
class QLabel;
class QSlider;
class QStackedWidget;

namespace vx {

// What the depot's views are told, once, by whoever owns the picture.
class Dialogs;

struct DepotViewSource {
    const DepotPicture *picture = nullptr;
    std::function<qint64()> now;
    std::function<qint64()> silentAfterMs;
    // The inspection book: its standing entries, and where a new entry goes (none: no book).
    std::function<QList<InspectionEntry>()> inspections;
    std::function<void(const InspectionEntry &)> addInspection;
    Dialogs *dialogs = nullptr;
    // Where depot.ini is, and who takes the depot once the editor saved it (none: no editor).
    QString depotFile;
    std::function<void(const Depot &)> depotSaved;
    // The air, each bin's ventilation advice and fans (none: not shown).
    const VentilationControl *air = nullptr;
    // The keeper's switch of a bin's fans (on, off, nothing: back to automatic); what went wrong, or empty.
    std::function<QString(int bin, std::optional<bool> on)> switchFans;
};

// The colour of a temperature, blue at `low` through green and yellow to red at `high`.
QColor temperatureColour(double celsius, double low, double high);

// Every bin as a tile: its name, maximum and mean, open alarms by priority,
// silent cables and the age of its newest reading, coloured by its worst state.
class DepotOverview : public QWidget {
    Q_OBJECT
public:
    explicit DepotOverview(DepotViewSource source, QWidget *parent = nullptr);
    void setDepot(const Depot *depot) { m_depot = depot; update(); }
    void setAlarms(const AlarmBook &book);
    QRect tileRect(int index) const;
    QSize minimumSizeHint() const override;
    // "16.2 °C 65%RH 露点 9.6 °C"
    static QString airText(const AirSample &air);

signals:
    void binActivated(int bin);

protected:
    void paintEvent(QPaintEvent *) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    int columns() const;
    DepotViewSource m_source;
    const Depot *m_depot = nullptr;
    QMap<int, BinAlarms> m_alarms;
};

// A bin's floor at one layer: each cable where the depot file hangs it,
// coloured by that layer's temperature, optionally with the temperature
// between cables interpolated (and marked so).
class BinPlan : public QWidget {
    Q_OBJECT
public:
    explicit BinPlan(DepotViewSource source, QWidget *parent = nullptr);
    void show(const Depot *depot, int bin);
    void setLayer(int layer);
    int layer() const { return m_layer; }
    void setInterpolated(bool on);
    void setAlarms(const BinAlarms &alarms) { m_alarms = alarms; update(); }
    void setScale(double low, double high) { m_low = low; m_high = high; update(); }
    // Where a cable is drawn, for a test's eye; a null point when it is not in the bin.
    QPointF cableCentre(int key) const;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *) override;

private:
    QRectF floorRect() const;
    QPointF toWidget(const QPointF &metres) const;
    DepotViewSource m_source;
    const Depot *m_depot = nullptr;
    int m_bin = 0;
    int m_layer = 1;
    bool m_interpolated = false;
    BinAlarms m_alarms;
    double m_low = 10, m_high = 35;
};

// A vertical section through a bin: the cables of one row (or one ring)
// side by side, each point at its depth, coloured by its temperature.
class BinSection : public QWidget {
    Q_OBJECT
public:
    explicit BinSection(DepotViewSource source, QWidget *parent = nullptr);
    void show(const Depot *depot, int bin, int line);
    void setScale(double low, double high) { m_low = low; m_high = high; update(); }
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *) override;

private:
    DepotViewSource m_source;
    const Depot *m_depot = nullptr;
    int m_bin = 0, m_line = 1;
    double m_low = 10, m_high = 35;
};

// The depot tab: the overview, and a bin's page (plan, section and figures).
class DepotTab : public QWidget {
    Q_OBJECT
public:
    explicit DepotTab(DepotViewSource source, QWidget *parent = nullptr);
    // The depot to show (the picture's, or one bin of the cables seen when there is no depot file).
    void refresh();
    void setAlarms(const AlarmBook &book);
    void openBin(int bin);
    DepotOverview *overview() const { return m_overview; }
    BinPlan *plan() const { return m_plan; }
    int shownBin() const { return m_bin; }
    // The bin page's figures, as shown.
    QString figuresText() const;
    // A new entry of the shown bin's book: today's figures with what the inspector wrote.
    InspectionEntry inspectionOf(const QDate &date, const QString &inspector, const QString &observations) const;
    // The shown bin's standing entries as PDF (or CSV for a .csv name).
    bool exportInspections(const QString &file, QString *error) const;

private:
    void showFigures();
    void fillSections();
    void recordInspection();
public:
    // The depot file's editor: its text with every problem named as it is typed; saving writes the file.
    void editDepotFile();
private:

    DepotViewSource m_source;
    Depot m_shown; // what the views draw
    QStackedWidget *m_pages = nullptr;
    DepotOverview *m_overview = nullptr;
    QLabel *m_problems = nullptr;
    QLabel *m_outside = nullptr;
    BinPlan *m_plan = nullptr;
    BinSection *m_section = nullptr;
    QSlider *m_layer = nullptr;
    QLabel *m_layerLabel = nullptr;
    QCheckBox *m_interpolate = nullptr;
    QComboBox *m_sectionChoice = nullptr;
    QLabel *m_title = nullptr;
    QLabel *m_figures = nullptr;
    QWidget *m_fanRow = nullptr;
    QLabel *m_fanMessage = nullptr;
    int m_bin = 0;
    AlarmBook m_book;
};

} // namespace vx
