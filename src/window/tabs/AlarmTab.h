#pragma once

#include "core/grain/AlarmBook.h"

#include <QDialog>
#include <QWidget>

class QLabel;
class QLineEdit;
class QComboBox;
class QPlainTextEdit;
class QPushButton;
class QTreeWidget;

namespace vx {

// The alarm settings, edited with their limits checked: a bad value is
// named under the fields and nothing is saved until all are right.
class AlarmSettingsDialog : public QDialog {
    Q_OBJECT
public:
    AlarmSettingsDialog(const AlarmSettings &settings, int silentMinutes, QWidget *parent = nullptr);

    // Reads and checks the fields; on success settings() and silentMinutes() hold them.
    bool take();
    const AlarmSettings &settings() const { return m_settings; }
    int silentMinutes() const { return m_silentMinutes; }

signals:
    void accepted(const vx::AlarmSettings &settings, int silentMinutes);

private:
    AlarmSettings m_settings;
    int m_silentMinutes = 0;
    QLineEdit *m_high, *m_delta, *m_rise, *m_window, *m_week, *m_jump, *m_clear, *m_silent;
    QPlainTextEdit *m_overrides;
    QLabel *m_errors;
};

// Tab "报警": one row per alarm (a rule at a cable), the most urgent first
// (priority, then newest), coloured by priority and bold while
// unacknowledged; its points underneath on demand; a filter (open,
// unacknowledged, all); acknowledging one or all; the settings.
class AlarmTab : public QWidget {
    Q_OBJECT
public:
    enum class Filter { Open, Unacknowledged, All };
    explicit AlarmTab(QWidget *parent = nullptr);

    void showAlarms(const AlarmBook &book);
    // The selected alarm's index in the book; -1 when none.
    int selectedRow() const;
    void setFilter(Filter filter);

signals:
    void acknowledgeRow(int row);
    void acknowledgeAll();
    void editSettings();

private:
    void rebuild();

    QTreeWidget *m_list;
    QComboBox *m_filter;
    QList<Alarm> m_alarms; // as last shown
};

// Priority colours that read in grey too: each a different lightness.
QColor priorityColour(AlarmPriority priority);

} // namespace vx
