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
#include <QComboBox>
#include <QTreeWidget>
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
    m_week = field("alarmRisePerWeek", settings.risePerWeek);
    m_jump = field("alarmJumpStep", settings.jumpStep);
    m_clear = field("alarmFaultClearReadings", settings.faultClearReadings);
    m_silent = field("alarmSilentMinutes", silentMinutes);
    m_overrides = new QPlainTextEdit(overridesText(settings));
    m_overrides->setObjectName(QStringLiteral("alarmOverrides"));
    m_overrides->setPlaceholderText(QCoreApplication::translate("vx", "每行一项：电缆=温度（如 3=35）或 电缆.层=温度（如 3.5=28）"));
    form->addRow(QCoreApplication::translate("vx", "高温限 (°C)"), m_high);
    form->addRow(QCoreApplication::translate("vx", "热点：高于层平均 (°C)"), m_delta);
    form->addRow(QCoreApplication::translate("vx", "温升速率 (°C/天)"), m_rise);
    form->addRow(QCoreApplication::translate("vx", "温升时段 (小时)"), m_window);
    form->addRow(QCoreApplication::translate("vx", "周温升速率 (°C/周)"), m_week);
    form->addRow(QCoreApplication::translate("vx", "跳变幅度 (°C)"), m_jump);
    form->addRow(QCoreApplication::translate("vx", "故障解除所需读数"), m_clear);
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
    double window = s.riseWindowHours, silent = m_silentMinutes, clear = s.faultClearReadings;
    number(m_high, QCoreApplication::translate("vx", "高温限"), &s.highLimit);
    number(m_delta, QCoreApplication::translate("vx", "热点温差"), &s.hotPointDelta);
    number(m_rise, QCoreApplication::translate("vx", "温升速率"), &s.risePerDay);
    number(m_window, QCoreApplication::translate("vx", "温升时段"), &window);
    number(m_week, QCoreApplication::translate("vx", "周温升速率"), &s.risePerWeek);
    number(m_jump, QCoreApplication::translate("vx", "跳变幅度"), &s.jumpStep);
    number(m_clear, QCoreApplication::translate("vx", "故障解除所需读数"), &clear);
    number(m_silent, QCoreApplication::translate("vx", "无响应判定"), &silent);
    s.riseWindowHours = int(window);
    s.faultClearReadings = int(clear);
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

QColor priorityColour(AlarmPriority priority)
{
    switch (priority) {
    case AlarmPriority::High: return QColor(190, 0, 0);      // dark in grey
    case AlarmPriority::Medium: return QColor(215, 120, 0);  // middle
    case AlarmPriority::Low: return QColor(40, 110, 200);    // lighter
    }
    return QColor(Qt::black);
}

namespace {
enum Column { kColPriority, kColTime, kColCable, kColLayers, kColValue, kColRule, kColDetail, kColState, kColumns };
}

AlarmTab::AlarmTab(QWidget *parent) : QWidget(parent)
{
    auto *layout = new QVBoxLayout(this);
    auto *top = new QHBoxLayout;
    m_filter = new QComboBox;
    m_filter->setObjectName(QStringLiteral("alarmFilter"));
    m_filter->addItems({QCoreApplication::translate("vx", "报警中"), QCoreApplication::translate("vx", "未确认"),
                        QCoreApplication::translate("vx", "全部（含已解除）")});
    top->addWidget(new QLabel(QCoreApplication::translate("vx", "显示：")));
    top->addWidget(m_filter);
    top->addStretch(1);
    layout->addLayout(top);
    m_list = new QTreeWidget;
    m_list->setObjectName(QStringLiteral("alarmList"));
    m_list->setColumnCount(kColumns);
    m_list->setHeaderLabels({QCoreApplication::translate("vx", "优先级"), QCoreApplication::translate("vx", "时间"),
                             QCoreApplication::translate("vx", "电缆"), QCoreApplication::translate("vx", "层"),
                             QCoreApplication::translate("vx", "数值"), QCoreApplication::translate("vx", "规则"),
                             QCoreApplication::translate("vx", "说明"), QCoreApplication::translate("vx", "状态")});
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setUniformRowHeights(true);
    m_list->setWordWrap(false);
    m_list->header()->setStretchLastSection(false);
    m_list->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_list->header()->setSectionResizeMode(kColDetail, QHeaderView::Stretch);
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
    connect(m_filter, &QComboBox::currentIndexChanged, this, [this] { rebuild(); });
}

int AlarmTab::selectedRow() const
{
    const auto items = m_list->selectedItems();
    if (items.isEmpty())
        return -1;
    const QTreeWidgetItem *item = items.first()->parent() ? items.first()->parent() : items.first();
    return item->data(0, Qt::UserRole).toInt();
}

void AlarmTab::setFilter(Filter filter)
{
    m_filter->setCurrentIndex(int(filter));
}

void AlarmTab::showAlarms(const AlarmBook &book)
{
    // Called when alarms change, not on a clock: the list is built anew.
    m_alarms = book.alarms();
    rebuild();
}

void AlarmTab::rebuild()
{
    // Rows move as alarms come in (the book puts the newest first), so the
    // selection follows the alarm itself: its rule, cable and raise time.
    const auto keyOf = [](const Alarm &a) {
        return QStringLiteral("%1/%2/%3").arg(int(a.condition.rule)).arg(a.condition.cable).arg(a.raisedMs);
    };
    const auto current = m_list->selectedItems();
    const QString selected = current.isEmpty()
                                 ? QString()
                                 : (current.first()->parent() ? current.first()->parent() : current.first())
                                       ->data(0, Qt::UserRole + 1)
                                       .toString();
    const Filter filter = Filter(m_filter->currentIndex());
    QList<int> order;
    for (int i = 0; i < m_alarms.size(); ++i) {
        const Alarm::State state = m_alarms[i].state;
        if ((filter == Filter::Open && state == Alarm::State::Cleared)
            || (filter == Filter::Unacknowledged && state != Alarm::State::Active))
            continue;
        order << i;
    }
    // The most urgent first; within a priority, open before cleared, newest first.
    std::stable_sort(order.begin(), order.end(), [this](int a, int b) {
        const Alarm &x = m_alarms[a], &y = m_alarms[b];
        const bool xOpen = x.state != Alarm::State::Cleared, yOpen = y.state != Alarm::State::Cleared;
        if (xOpen != yOpen)
            return xOpen;
        if (x.condition.priority() != y.condition.priority())
            return x.condition.priority() < y.condition.priority();
        return x.raisedMs > y.raisedMs;
    });
    m_list->clear();
    QList<QTreeWidgetItem *> rows;
    for (int index : std::as_const(order)) {
        const Alarm &a = m_alarms[index];
        const AlarmCondition &c = a.condition;
        const QString state = a.state == Alarm::State::Active         ? QCoreApplication::translate("vx", "报警中")
                              : a.state == Alarm::State::Acknowledged ? QCoreApplication::translate("vx", "已确认")
                                                                      : QCoreApplication::translate("vx", "已解除");
        auto *item = new QTreeWidgetItem;
        item->setData(0, Qt::UserRole, index);
        item->setData(0, Qt::UserRole + 1, keyOf(a));
        item->setText(kColPriority, priorityNameShown(c.priority()));
        item->setText(kColTime, QDateTime::fromMSecsSinceEpoch(a.raisedMs).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
        item->setText(kColCable, QString::number(c.cable));
        item->setText(kColLayers, c.points.isEmpty() ? QStringLiteral("—") : c.layersText());
        item->setText(kColValue, c.rule == AlarmRule::CableSilent || c.rule == AlarmRule::SensorFault
                                  ? QString()
                                  : QString::number(c.value, 'f', 2));
        item->setText(kColRule, ruleNameShown(c.rule));
        item->setText(kColDetail, c.detailShown());
        item->setText(kColState, state);
        const QColor colour = a.state == Alarm::State::Cleared ? QColor(110, 110, 110) : priorityColour(c.priority());
        QFont font = item->font(0);
        font.setBold(a.state == Alarm::State::Active); // unacknowledged: bold, in any colour or none
        for (int k = 0; k < kColumns; ++k) {
            item->setForeground(k, colour);
            item->setFont(k, font);
        }
        if (c.points.size() > 1 || c.rule == AlarmRule::SensorFault) {
            for (const AlarmPoint &p : c.points) {
                AlarmCondition one = c;
                one.points = {p};
                one.value = p.value;
                one.layer = p.layer;
                auto *child = new QTreeWidgetItem(item);
                child->setText(kColLayers, one.layersText());
                child->setText(kColValue, p.fault == SensorFaultKind::None || p.fault == SensorFaultKind::Jump
                                           ? QString::number(p.value, 'f', 2)
                                           : QString());
                child->setText(kColDetail, one.detailShown());
                for (int k = 0; k < kColumns; ++k)
                    child->setForeground(k, colour);
            }
        }
        rows << item;
    }
    m_list->addTopLevelItems(rows);
    // Selection only holds on items in the view, so it is set after adding.
    for (QTreeWidgetItem *item : std::as_const(rows))
        if (!selected.isEmpty() && item->data(0, Qt::UserRole + 1).toString() == selected)
            m_list->setCurrentItem(item);
}

} // namespace vx
