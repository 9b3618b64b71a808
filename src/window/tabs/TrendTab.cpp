#include "window/tabs/TrendTab.h"

#include "core/air/VentilationControl.h"
#include <QCoreApplication>

#include "core/settings/SettingTexts.h"
#include "core/platform/Dialogs.h"
#include "core/store/ReadingStore.h"

#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QJsonDocument>
#include <QJsonObject>
#include <QComboBox>
#include <QDateTimeAxis>
#include <QDateTimeEdit>
#include <QDir>
#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QPushButton>
#include <QSaveFile>
#include <QTimer>
#include <QToolTip>
#include <QValueAxis>
#include <QVBoxLayout>

#include <cmath>

namespace vx {

namespace {
// Arrow keys pan, as the mouse zooms.
class PanningView : public QChartView {
public:
    using QChartView::QChartView;

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        switch (event->key()) {
        case Qt::Key_Left: chart()->scroll(-width() / 10.0, 0); break;
        case Qt::Key_Right: chart()->scroll(width() / 10.0, 0); break;
        case Qt::Key_Up: chart()->scroll(0, height() / 10.0); break;
        case Qt::Key_Down: chart()->scroll(0, -height() / 10.0); break;
        default: QChartView::keyPressEvent(event); return;
        }
        event->accept();
    }
};

std::optional<QList<int>> rangeList(const QString &text, int highest)
{
    const auto list = parseAddressRanges(text);
    if (!list)
        return std::nullopt;
    for (int v : *list)
        if (v > highest)
            return std::nullopt;
    return list;
}
} // namespace

TrendTab::TrendTab(StoreSource store, Clock now, Dialogs &dialogs, QWidget *parent)
    : QWidget(parent), m_store(std::move(store)), m_now(std::move(now)), m_dialogs(dialogs)
{
    auto *layout = new QVBoxLayout(this);
    auto *row = new QHBoxLayout;
    m_cables = new QLineEdit(QStringLiteral("1"));
    m_cables->setObjectName(QStringLiteral("trendCables"));
    m_cables->setToolTip(QCoreApplication::translate("vx", "电缆，如 1-3,7"));
    m_layers = new QLineEdit(QStringLiteral("1"));
    m_layers->setObjectName(QStringLiteral("trendLayers"));
    m_layers->setToolTip(QCoreApplication::translate("vx", "层，如 1,9,18"));
    m_span = new QComboBox;
    m_span->setObjectName(QStringLiteral("trendSpan"));
    m_span->addItems({QCoreApplication::translate("vx", "最近1小时"), QCoreApplication::translate("vx", "最近6小时"),
                      QCoreApplication::translate("vx", "最近24小时"), QCoreApplication::translate("vx", "最近7天"),
                      QCoreApplication::translate("vx", "最近30天"), QCoreApplication::translate("vx", "最近一年"),
                      QCoreApplication::translate("vx", "指定日期")});
    m_span->setCurrentIndex(Day);
    const QDateTime today(QDateTime::fromMSecsSinceEpoch(m_now()).date(), QTime(0, 0));
    m_from = new QDateTimeEdit(today.addDays(-7));
    m_from->setObjectName(QStringLiteral("trendFrom"));
    m_to = new QDateTimeEdit(today.addDays(1));
    m_to->setObjectName(QStringLiteral("trendTo"));
    for (QDateTimeEdit *e : {m_from, m_to}) {
        e->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
        e->setCalendarPopup(true);
        e->setEnabled(false);
    }
    connect(m_span, &QComboBox::currentIndexChanged, this, [this](int i) {
        m_from->setEnabled(i == Dates);
        m_to->setEnabled(i == Dates);
        if (i != Dates && m_drawnOnce)
            draw();
    });
    m_follow = new QCheckBox(QCoreApplication::translate("vx", "跟随"));
    m_follow->setObjectName(QStringLiteral("trendFollow"));
    m_follow->setToolTip(QCoreApplication::translate("vx", "新读数到来时延长曲线（缩放后暂停，复位后继续）"));
    m_follow->setChecked(true);
    m_air = new QCheckBox(QCoreApplication::translate("vx", "空气"));
    m_air->setObjectName(QStringLiteral("trendAir"));
    m_air->setToolTip(QCoreApplication::translate("vx", "同时画出外界与仓内空气的温度、湿度和露点（温湿度变送器）"));
    auto *drawButton = new QPushButton(QCoreApplication::translate("vx", "绘制"));
    drawButton->setObjectName(QStringLiteral("trendDrawButton"));
    auto *reset = new QPushButton(QCoreApplication::translate("vx", "复位"));
    reset->setObjectName(QStringLiteral("trendResetButton"));
    auto *csv = new QPushButton(QCoreApplication::translate("vx", "导出CSV…"));
    csv->setObjectName(QStringLiteral("trendCsvButton"));
    auto *png = new QPushButton(QCoreApplication::translate("vx", "导出图片…"));
    png->setObjectName(QStringLiteral("trendPngButton"));
    row->addWidget(new QLabel(QCoreApplication::translate("vx", "电缆")));
    row->addWidget(m_cables);
    row->addWidget(new QLabel(QCoreApplication::translate("vx", "层")));
    row->addWidget(m_layers);
    row->addWidget(m_span);
    row->addWidget(m_from);
    row->addWidget(m_to);
    row->addWidget(m_follow);
    row->addWidget(m_air);
    row->addWidget(drawButton);
    row->addWidget(reset);
    row->addStretch(1);
    row->addWidget(csv);
    row->addWidget(png);
    layout->addLayout(row);

    m_chart = new QChart;
    m_chart->legend()->setAlignment(Qt::AlignBottom);
    m_view = new PanningView(m_chart);
    m_view->setObjectName(QStringLiteral("trendChart"));
    m_view->setRenderHint(QPainter::Antialiasing);
    m_view->setRubberBand(QChartView::RectangleRubberBand);
    m_view->setMinimumHeight(240);
    layout->addWidget(m_view, 1);
    m_message = new QLabel;
    m_message->setObjectName(QStringLiteral("trendMessage"));
    layout->addWidget(m_message);

    connect(drawButton, &QPushButton::clicked, this, &TrendTab::draw);
    connect(reset, &QPushButton::clicked, this, &TrendTab::draw);
    m_refetch = new QTimer(this);
    m_refetch->setSingleShot(true);
    m_refetch->setInterval(150);
    connect(m_refetch, &QTimer::timeout, this, &TrendTab::refetchShown);
    // Following: a fixed span ending now is drawn again while the tab is seen
    // and the operator has not zoomed (a 24 h curve takes a few milliseconds).
    m_followTick = new QTimer(this);
    m_followTick->setObjectName(QStringLiteral("trendFollowTick"));
    m_followTick->setInterval(5000);
    connect(m_followTick, &QTimer::timeout, this, [this] {
        if (m_follow->isChecked() && !m_zoomed && isVisible() && m_span->currentIndex() != Dates && !m_shown.isEmpty())
            draw();
    });
    m_followTick->start();
    connect(csv, &QPushButton::clicked, this, [this] {
        const QString file = m_dialogs.saveFileName({QCoreApplication::translate("vx", "导出曲线数据"), QDir::homePath(), QStringLiteral("CSV (*.csv)")});
        QString why;
        if (!file.isEmpty())
            m_message->setText(exportCsv(file, &why) ? QCoreApplication::translate("vx", "已导出 %1").arg(QDir::toNativeSeparators(file))
                                                     : QCoreApplication::translate("vx", "导出失败：%1").arg(why));
    });
    connect(png, &QPushButton::clicked, this, [this] {
        const QString file = m_dialogs.saveFileName({QCoreApplication::translate("vx", "导出曲线图片"), QDir::homePath(), QStringLiteral("PNG (*.png)")});
        if (!file.isEmpty())
            m_message->setText(m_view->grab().save(file, "PNG") ? QCoreApplication::translate("vx", "已导出 %1").arg(QDir::toNativeSeparators(file))
                                                               : QCoreApplication::translate("vx", "导出失败：无法写入 %1").arg(file));
    });
}

QPair<qint64, qint64> TrendTab::range() const
{
    const qint64 now = m_now() + 1000; // what was taken this second is in the curve
    constexpr qint64 hour = 3600000, day = 24 * hour;
    switch (Span(m_span->currentIndex())) {
    case Hour: return {now - hour, now};
    case SixHours: return {now - 6 * hour, now};
    case Day: return {now - day, now};
    case Week: return {now - 7 * day, now};
    case Month: return {now - 30 * day, now};
    case Year: return {now - 365 * day, now};
    default: return {m_from->dateTime().toMSecsSinceEpoch(), m_to->dateTime().toMSecsSinceEpoch()};
    }
}

void TrendTab::showPoint(int cable, int layer)
{
    m_cables->setText(QString::number(cable));
    m_layers->setText(QString::number(layer));
    m_span->setCurrentIndex(Day);
    draw();
}

void TrendTab::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!m_drawnOnce) // opens with a curve, not blank
        draw();
}

QPair<qint64, qint64> TrendTab::shownRange() const
{
    if (!m_x)
        return {0, 0};
    return {m_x->min().toMSecsSinceEpoch(), m_x->max().toMSecsSinceEpoch()};
}

void TrendTab::setXRange(qint64 from, qint64 to)
{
    m_settingRange = true;
    m_x->setFormat(to - from > 3 * 86400000LL ? QStringLiteral("MM-dd")
                   : to - from > 2 * 3600000LL ? QStringLiteral("MM-dd HH:mm")
                                               : QStringLiteral("HH:mm:ss"));
    m_x->setRange(QDateTime::fromMSecsSinceEpoch(from), QDateTime::fromMSecsSinceEpoch(to));
    m_settingRange = false;
}

bool TrendTab::draw()
{
    m_drawnOnce = true;
    const auto cables = rangeList(m_cables->text(), 247);
    const auto layers = rangeList(m_layers->text(), 125);
    const auto [from, to] = range();
    if (!cables || !layers || to <= from || cables->size() * layers->size() > 32) {
        m_message->setText(!cables   ? QCoreApplication::translate("vx", "电缆应如 1-3,7")
                           : !layers ? QCoreApplication::translate("vx", "层应如 1,9,18")
                           : to <= from ? QCoreApplication::translate("vx", "结束日期应晚于起始日期")
                                        : QCoreApplication::translate("vx", "一次最多 32 条曲线"));
        return false;
    }
    if (!m_store()) {
        m_message->setText(QCoreApplication::translate("vx", "数据库不可用"));
        return false;
    }
    QElapsedTimer clock;
    clock.start();
    m_chart->removeAllSeries();
    for (QAbstractAxis *axis : m_chart->axes()) {
        m_chart->removeAxis(axis);
        delete axis; // the chart gives it back, it does not free it: following redraws every few seconds
    }
    m_shown.clear();
    m_lines.clear();
    m_zoomed = false;
    m_x = new QDateTimeAxis;
    auto *y = new QValueAxis;
    y->setTitleText(QStringLiteral("°C"));
    m_chart->addAxis(m_x, Qt::AlignBottom);
    m_chart->addAxis(y, Qt::AlignLeft);
    for (int c : *cables) {
        for (int l : *layers) {
            auto *line = new QLineSeries;
            line->setName(QCoreApplication::translate("vx", "电缆%1 层%2").arg(c).arg(l));
            const int index = int(m_lines.size());
            connect(line, &QLineSeries::hovered, this, [this, index](const QPointF &p, bool state) {
                if (state)
                    QToolTip::showText(QCursor::pos(), hoverText(index, qint64(p.x())), m_view);
            });
            m_chart->addSeries(line);
            line->attachAxis(m_x);
            line->attachAxis(y);
            m_lines << line;
            m_shown << Series{c, l, {}, {}, {}, {}};
        }
    }
    fetch(from, to);
    m_airLow = std::numeric_limits<double>::max();
    m_airHigh = std::numeric_limits<double>::lowest();
    if (m_air->isChecked())
        addAirCurves(from, to, y);
    // Fitted to the data: the span's end, or where the data are, whichever is shorter.
    qint64 first = to, last = from;
    double low = 0, high = 0;
    bool any = false;
    for (const Series &s : std::as_const(m_shown)) {
        if (s.times.isEmpty())
            continue;
        first = qMin(first, s.times.first());
        last = qMax(last, s.times.last());
        low = any ? qMin(low, *std::min_element(s.min.begin(), s.min.end())) : *std::min_element(s.min.begin(), s.min.end());
        high = any ? qMax(high, *std::max_element(s.max.begin(), s.max.end())) : *std::max_element(s.max.begin(), s.max.end());
        any = true;
    }
    if (any) {
        const qint64 pad = qMax<qint64>(60000, (last - first) / 50);
        setXRange(qMax(from, first - pad), qMin(to, last + pad));
        y->setRange(std::floor(qMin(low, m_airLow) - 0.5), std::ceil(qMax(high, m_airHigh) + 0.5));
    } else {
        setXRange(from, to);
    }
    // Only now: attaching the curves moves the axis too, and that is no zoom.
    connect(m_x, &QDateTimeAxis::rangeChanged, this, [this] {
        if (m_settingRange)
            return;
        m_zoomed = true; // the operator's range: following stops moving it
        m_refetch->start();
    });
    qint64 points = 0;
    for (const Series &s : std::as_const(m_shown))
        points += s.times.size();
    m_message->setText(any ? QCoreApplication::translate("vx", "%1 条曲线，%2 个点（每点为该时段的平均，悬停可见时间与数值），用时 %3 ms")
                                 .arg(m_shown.size())
                                 .arg(points)
                                 .arg(clock.elapsed())
                           : QCoreApplication::translate("vx", "所选时段没有读数"));
    return true;
}

void TrendTab::addAirCurves(qint64 from, qint64 to, QValueAxis *celsiusAxis)
{
    m_airLow = std::numeric_limits<double>::max();
    m_airHigh = std::numeric_limits<double>::lowest();
    ReadingStore *store = m_store();
    if (!store)
        return;
    // Each transmitter's minutes: its temperature and dew point on the grain's axis, its RH on its own.
    QMap<int, QList<QPointF>> celsius, rh, dew;
    QMap<int, int> binOf;
    for (const StoreEvent &e : store->events(from, to, QString::fromLatin1(kAirEvent))) {
        const QJsonObject o = QJsonDocument::fromJson(e.data).object();
        const double t = double(e.timeMs);
        celsius[e.address] << QPointF(t, o.value(QStringLiteral("celsius")).toDouble());
        rh[e.address] << QPointF(t, o.value(QStringLiteral("rh")).toDouble());
        if (o.contains(QStringLiteral("dew_point")))
            dew[e.address] << QPointF(t, o.value(QStringLiteral("dew_point")).toDouble());
        binOf.insert(e.address, o.value(QStringLiteral("bin")).toInt());
    }
    if (celsius.isEmpty())
        return;
    auto *percent = new QValueAxis;
    percent->setTitleText(QStringLiteral("%RH"));
    percent->setRange(0, 100);
    m_chart->addAxis(percent, Qt::AlignRight);
    const auto add = [&](const QList<QPointF> &points, const QString &name, QAbstractAxis *axis, Qt::PenStyle style) {
        auto *line = new QLineSeries;
        line->setName(name);
        line->replace(points);
        m_chart->addSeries(line); // the theme gives it its colour; the style says what it is
        QPen pen = line->pen();
        pen.setStyle(style);
        line->setPen(pen);
        line->attachAxis(m_x);
        line->attachAxis(axis);
        if (axis == celsiusAxis)
            for (const QPointF &p : points) {
                m_airLow = qMin(m_airLow, p.y());
                m_airHigh = qMax(m_airHigh, p.y());
            }
    };
    for (auto it = celsius.cbegin(); it != celsius.cend(); ++it) {
        const int bin = binOf.value(it.key());
        const QString where = bin == 0 ? QCoreApplication::translate("vx", "外界") : QCoreApplication::translate("vx", "%1号仓仓内").arg(bin);
        add(it.value(), QCoreApplication::translate("vx", "%1温度").arg(where), celsiusAxis, Qt::DashLine);
        add(dew.value(it.key()), QCoreApplication::translate("vx", "%1露点").arg(where), celsiusAxis, Qt::DotLine);
        add(rh.value(it.key()), QCoreApplication::translate("vx", "%1湿度").arg(where), percent, Qt::DashDotLine);
    }
}

bool TrendTab::fetch(qint64 from, qint64 to)
{
    ReadingStore *store = m_store();
    if (!store)
        return false;
    for (int i = 0; i < m_shown.size(); ++i) {
        Series &s = m_shown[i];
        s.times.clear();
        s.min.clear();
        s.mean.clear();
        s.max.clear();
        QList<QPointF> points;
        for (const ReadingBucket &b : store->buckets(s.cable, s.layer, from, to, kBuckets)) {
            s.times << b.startMs;
            s.min << b.min;
            s.mean << b.mean;
            s.max << b.max;
            points << QPointF(double(b.startMs), b.mean);
        }
        m_lines[i]->replace(points);
        m_lines[i]->setPointsVisible(points.size() < 3); // a line of one point is drawn as a dot
    }
    return true;
}

void TrendTab::refetchShown()
{
    if (!m_x || m_shown.isEmpty())
        return;
    const auto [from, to] = shownRange();
    if (to > from)
        fetch(from, to + 1);
}

QString TrendTab::hoverText(int index, qint64 timeMs) const
{
    if (index < 0 || index >= m_shown.size())
        return QString();
    const Series &s = m_shown[index];
    const QString name = QCoreApplication::translate("vx", "电缆%1 层%2").arg(s.cable).arg(s.layer);
    ReadingStore *store = m_store();
    // The stored reading nearest to the mouse, within a bucket's width either side.
    const auto [from, to] = shownRange();
    const qint64 slack = qMax<qint64>(60000, (to - from) / kBuckets + 1);
    const auto r = store ? store->nearestReading(s.cable, s.layer, timeMs, slack, false) : std::nullopt;
    if (!r)
        return QStringLiteral("%1\n%2").arg(name, QDateTime::fromMSecsSinceEpoch(timeMs).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    const QString value = r->status == ReadingStatus::NoReading ? QCoreApplication::translate("vx", "无读数")
                                                                : QStringLiteral("%1 °C").arg(r->celsius.value_or(0), 0, 'f', 2);
    const QString status = r->status == ReadingStatus::Ok           ? QCoreApplication::translate("vx", "正常")
                           : r->status == ReadingStatus::PowerOn    ? QCoreApplication::translate("vx", "上电值，可疑")
                           : r->status == ReadingStatus::OutOfRange ? QCoreApplication::translate("vx", "超出量程")
                                                                    : QCoreApplication::translate("vx", "无读数");
    return QStringLiteral("%1\n%2\n%3（%4）")
        .arg(name, QDateTime::fromMSecsSinceEpoch(r->timeMs).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), value, status);
}

bool TrendTab::exportCsv(const QString &file, QString *error) const
{
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly)) {
        *error = out.errorString();
        return false;
    }
    QByteArray text = "cable,layer,time,min,mean,max\n";
    for (const Series &s : m_shown) {
        for (int i = 0; i < s.times.size(); ++i) {
            const QDateTime t = QDateTime::fromMSecsSinceEpoch(s.times[i]);
            text += QStringLiteral("%1,%2,%3,%4,%5,%6\n")
                        .arg(s.cable)
                        .arg(s.layer)
                        .arg(t.toOffsetFromUtc(t.offsetFromUtc()).toString(Qt::ISODate))
                        .arg(s.min[i], 0, 'f', 2)
                        .arg(s.mean[i], 0, 'f', 3)
                        .arg(s.max[i], 0, 'f', 2)
                        .toUtf8();
        }
    }
    if (out.write(text) != text.size() || !out.commit()) {
        *error = out.errorString();
        return false;
    }
    return true;
}

} // namespace vx
