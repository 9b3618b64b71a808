#pragma once

#include "core/grain/DailyReport.h"

#include <QWidget>

#include <functional>

class QDateEdit;
class QLabel;
class QListWidget;
class QTableWidget;

namespace vx {

class Dialogs;

// Tab "日报": for a chosen day, each cable's layers (average; minimum and
// maximum in the tooltip), each cable's minimum, maximum and average, the
// bin's figures and the day's alarms; saved as PDF (a page per 40 cables) and CSV.
class ReportTab : public QWidget {
    Q_OBJECT
public:
    using StoreSource = std::function<ReadingStore *()>;
    ReportTab(StoreSource store, Dialogs &dialogs, QWidget *parent = nullptr);

    bool make(const QDate &date);
    const DailyReport &report() const { return m_report; }
    bool savePdf(const QString &file, QString *error) const;
    bool saveCsv(const QString &file, QString *error) const;
    static constexpr int kCablesPerPage = 40;

private:
    StoreSource m_store;
    Dialogs &m_dialogs;
    DailyReport m_report;
    QDateEdit *m_date;
    QTableWidget *m_table;
    QLabel *m_figures;
    QListWidget *m_alarms;
};

} // namespace vx
