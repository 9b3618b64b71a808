#include "window/tabs/AlarmTab.h"

#include <QCoreApplication>

#include "core/grain/AlarmSettingsFile.h"

#include <QDateTime>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace vx {

AlarmSettingsDialog::AlarmSettingsDialog(const AlarmSettings &settings, int silentMinutes, QWidget *parent)
    : QDialog(parent), m_settings(settings), m_silentMinutes(silentMinutes)
{
    setObjectName(QStringLiteral("alarmSettingsDialog"));
    setWindowTitle(QCoreApplication::translate("vx", "报警设置"));
    auto *form = new QFormLayout;
    auto field = [&](const char *name, double value) {
        auto *edit = new QLineEdit(QString::number(value));
        edit->setObjectName(QString::fromLatin1(name));
        return edit;
    };
    m_high = field("alarmHighLimit", settings.highLimit);
    m_delta = field("alarmHotPointDelta", settings.hotPointDelta);
    m_rise = field("alarmRisePerDay", settings.risePerDay);
    m_window = field("alarmRiseWindowHours", settings.riseWindowHours);
    m_jump = field("alarmJumpStep", settings.jumpStep);
    m_silent = field("alarmSilentMinutes", silentMinutes);
    m_overrides = new QPlainTextEdit(overridesText(settings));
    m_overrides->setObjectName(QStringLiteral("alarmOverrides"));
    m_overrides->setPlaceholderText(QCoreApplication::translate("vx", "每行一项：电缆=温度（如 3=35）或 电缆.层=温度（如 3.5=28）"));
    form->addRow(QCoreApplication::translate("vx", "高温限 (°C)"), m_high);
    form->addRow(QCoreApplication::translate("vx", "热点：高于层平均 (°C)"), m_delta);
    form->addRow(QCoreApplication::translate("vx", "温升速率 (°C/天)"), m_rise);
    form->addRow(QCoreApplication::translate("vx", "温升时段 (小时)"), m_window);
    form->addRow(QCoreApplication::translate("vx", "跳变幅度 (°C)"), m_jump);
    form->addRow(QCoreApplication::translate("vx", "无响应判定 (分钟，0 为自动)"), m_silent);
    form->addRow(QCoreApplication::translate("vx", "单独高温限"), m_overrides);
    m_errors = new QLabel;
    m_errors->setObjectName(QStringLiteral("alarmSettingsErrors"));
    m_errors->setStyleSheet(QStringLiteral("color: #c00000"));
    m_errors->setWordWrap(true);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        if (take()) {
            emit accepted(m_settings, m_silentMinutes);
            accept();
        }
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_errors);
    layout->addWidget(buttons);
}

bool AlarmSettingsDialog::take()
{
    QStringList errors;
    auto number = [&](QLineEdit *edit, const QString &name, double *out) {
        bool ok = false;
        const double v = edit->text().trimmed().toDouble(&ok);
        if (!ok)
            errors << QCoreApplication::translate("vx", "%1 \"%2\" 不是数字").arg(name, edit->text());
        else
            *out = v;
    };
    AlarmSettings s = m_settings;
    double window = s.riseWindowHours, silent = m_silentMinutes;
    number(m_high, QCoreApplication::translate("vx", "高温限"), &s.highLimit);
    number(m_delta, QCoreApplication::translate("vx", "热点温差"), &s.hotPointDelta);
    number(m_rise, QCoreApplication::translate("vx", "温升速率"), &s.risePerDay);
    number(m_window, QCoreApplication::translate("vx", "温升时段"), &window);
    number(m_jump, QCoreApplication::translate("vx", "跳变幅度"), &s.jumpStep);
    number(m_silent, QCoreApplication::translate("vx", "无响应判定"), &silent);
    s.riseWindowHours = int(window);
    QString why;
    if (!parseOverrides(m_overrides->toPlainText(), &s, &why))
        errors << why;
    if (errors.isEmpty())
        errors = validateAlarmSettings(s, int(silent));
    m_errors->setText(errors.join(QLatin1Char('\n')));
    if (!errors.isEmpty())
        return false;
    m_settings = s;
    m_silentMinutes = int(silent);
    return true;
}

namespace {
constexpr int kDetailColumn = 5; // the description: takes the width the others leave
}

AlarmTab::AlarmTab(QWidget *parent) : QWidget(parent)
{
    auto *layout = new QVBoxLayout(this);
    m_list = new QTableWidget(0, 7);
    m_list->setObjectName(QStringLiteral("alarmList"));
    m_list->setHorizontalHeaderLabels({QCoreApplication::translate("vx", "时间"), QCoreApplication::translate("vx", "电缆"), QCoreApplication::translate("vx", "层"),
                                       QCoreApplication::translate("vx", "数值"), QCoreApplication::translate("vx", "规则"), QCoreApplication::translate("vx", "说明"),
                                       QCoreApplication::translate("vx", "状态")});
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    // Time and the short columns as wide as their text; the description takes
    // the rest. Widths follow the texts in showAlarms(): letting the header
    // resize to contents measured every row of every column each second.
    m_list->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    m_list->horizontalHeader()->setSectionResizeMode(kDetailColumn, QHeaderView::Stretch);
    m_list->setWordWrap(false);
    m_list->installEventFilter(this); // widths measured again when they may have changed
    m_list->verticalHeader()->hide();
    layout->addWidget(m_list, 1);
    auto *row = new QHBoxLayout;
    auto *one = new QPushButton(QCoreApplication::translate("vx", "确认"));
    one->setObjectName(QStringLiteral("acknowledgeAlarmButton"));
    auto *all = new QPushButton(QCoreApplication::translate("vx", "全部确认"));
    all->setObjectName(QStringLiteral("acknowledgeAllAlarmsButton"));
    auto *settings = new QPushButton(QCoreApplication::translate("vx", "报警设置…"));
    settings->setObjectName(QStringLiteral("alarmSettingsButton"));
    row->addWidget(one);
    row->addWidget(all);
    row->addStretch(1);
    row->addWidget(settings);
    layout->addLayout(row);
    connect(one, &QPushButton::clicked, this, [this] {
        if (selectedRow() >= 0)
            emit acknowledgeRow(selectedRow());
    });
    connect(all, &QPushButton::clicked, this, &AlarmTab::acknowledgeAll);
    connect(settings, &QPushButton::clicked, this, &AlarmTab::editSettings);
}

int AlarmTab::selectedRow() const
{
    const auto rows = m_list->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void AlarmTab::showAlarms(const AlarmBook &book)
{
    // This runs every second over up to kHistory alarms: only what changed is
    // set, and a column only ever widens to a new text (letting the header
    // measure every row for its widths cost more than the rest of a second's
    // work).
    const QList<Alarm> &alarms = book.alarms();
    followNewAlarms(alarms);
    const int selected = selectedRow(); // moved down with its alarm
    m_list->setRowCount(int(alarms.size()));
    const auto cell = [this](int row, int column) {
        QTableWidgetItem *item = m_list->item(row, column);
        if (!item) {
            item = new QTableWidgetItem;
            m_list->setItem(row, column, item);
        }
        return item;
    };
    const auto put = [&](QTableWidgetItem *item, int column, const QString &text, const QBrush &colour) {
        if (item->text() != text) {
            item->setText(text);
            if (column != kDetailColumn) { // as wide as the item delegate wants this text
                const int wanted = m_list->sizeHintForIndex(m_list->indexFromItem(item)).width();
                if (wanted > m_list->columnWidth(column))
                    m_list->setColumnWidth(column, wanted);
            }
        }
        if (item->foreground() != colour)
            item->setForeground(colour);
    };
    for (int i = 0; i < alarms.size(); ++i) {
        const Alarm &a = alarms[i];
        const AlarmCondition &c = a.condition;
        const QString state = a.state == Alarm::State::Active         ? QCoreApplication::translate("vx", "报警中")
                              : a.state == Alarm::State::Acknowledged ? QCoreApplication::translate("vx", "已确认")
                                                                      : QCoreApplication::translate("vx", "已解除");
        const QBrush colour(a.state == Alarm::State::Active         ? QColor(200, 0, 0)
                            : a.state == Alarm::State::Acknowledged ? QColor(160, 90, 0)
                                                                    : QColor(110, 110, 110));
        // The time is formatted only when its row shows another alarm.
        QTableWidgetItem *time = cell(i, 0);
        const bool sameTime = !time->text().isEmpty() && time->data(Qt::UserRole).toLongLong() == a.raisedMs;
        put(time, 0,
            sameTime ? time->text()
                     : QDateTime::fromMSecsSinceEpoch(a.raisedMs).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
            colour);
        time->setData(Qt::UserRole, a.raisedMs);
        put(cell(i, 1), 1, QString::number(c.cable), colour);
        put(cell(i, 2), 2, c.layer > 0 ? QString::number(c.layer) : QStringLiteral("—"), colour);
        put(cell(i, 3), 3, c.rule == AlarmRule::CableSilent ? QString() : QString::number(c.value, 'f', 2), colour);
        put(cell(i, 4), 4, ruleNameShown(c.rule), colour);
        put(cell(i, kDetailColumn), kDetailColumn, alarmDetailShown(c), colour);
        put(cell(i, 6), 6, state, colour);
    }
    if (selected >= 0 && selected < m_list->rowCount())
        m_list->selectRow(selected);
    m_shown.clear();
    m_shown.reserve(alarms.size());
    for (const Alarm &a : alarms)
        m_shown.append(shown(a));
}

bool AlarmTab::eventFilter(QObject *watched, QEvent *event)
{
    // Texts measured before the list was first shown, or in another font or
    // style, may not fit now: every row is measured once more.
    if (watched == m_list
        && (event->type() == QEvent::Show || event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange))
        fitColumns();
    return QWidget::eventFilter(watched, event);
}

void AlarmTab::fitColumns()
{
    for (int k = 0; k < m_list->columnCount(); ++k)
        if (k != kDetailColumn)
            m_list->resizeColumnToContents(k);
}

AlarmTab::Shown AlarmTab::shown(const Alarm &alarm)
{
    const AlarmCondition &c = alarm.condition;
    return {int(c.rule), c.cable, c.layer, alarm.raisedMs};
}

void AlarmTab::followNewAlarms(const QList<Alarm> &alarms)
{
    // New alarms come first: rows are inserted for them, so the rows below
    // keep their alarms and their cells need not be set again.
    if (m_shown.isEmpty() || alarms.isEmpty())
        return;
    qsizetype added = 0;
    while (added < alarms.size() && !(shown(alarms[added]) == m_shown.first()))
        ++added;
    if (added == 0 || added == alarms.size())
        return; // nothing new, or nothing of before left: every row is set anyway
    for (qsizetype i = 0; i < added; ++i)
        m_list->insertRow(0);
}

} // namespace vx
