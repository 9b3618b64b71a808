#pragma once

#include "core/grain/AlarmBook.h"

#include <QDialog>
#include <QWidget>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;

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
    QLineEdit *m_high, *m_delta, *m_rise, *m_window, *m_jump, *m_silent;
    QPlainTextEdit *m_overrides;
    QLabel *m_errors;
};

// Tab "报警": the alarms, newest first, with their state; acknowledging one
// or all; the settings.
class AlarmTab : public QWidget {
    Q_OBJECT
public:
    explicit AlarmTab(QWidget *parent = nullptr);

    void showAlarms(const AlarmBook &book);
    int selectedRow() const;

signals:
    void acknowledgeRow(int row);
    void acknowledgeAll();
    void editSettings();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void fitColumns();
    // What makes an alarm itself, whatever its state: rows follow alarms by it.
    struct Shown {
        int rule, cable, layer;
        qint64 raisedMs;
        bool operator==(const Shown &o) const
        {
            return rule == o.rule && cable == o.cable && layer == o.layer && raisedMs == o.raisedMs;
        }
    };
    static Shown shown(const Alarm &alarm);
    void followNewAlarms(const QList<Alarm> &alarms);

    QTableWidget *m_list;
    QList<Shown> m_shown; // the alarm in each row, newest first
};

} // namespace vx
