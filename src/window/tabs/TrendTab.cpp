#include "window/tabs/TrendTab.h"

#include <QCoreApplication>

#include "core/settings/SettingTexts.h"
#include "core/platform/Dialogs.h"
#include "core/store/ReadingStore.h"

#include <QChart>
#include <QChartView>
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
    m_span->addItems({QCoreApplication::translate("vx", "最近24小时"), QCoreApplication::translate("vx", "最近7天"), QCoreApplication::translate("vx", "最近30天"),
                      QCoreApplication::translate("vx", "最近一年"), QCoreApplication::translate("vx", "指定日期")});
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
        m_from->setEnabled(i == 4);
        m_to->setEnabled(i == 4);
    });
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
    connect(reset, &QPushButton::clicked, this, [this] { m_chart->zoomReset(); });
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
    const qint64 day = 86400000;
    switch (m_span->currentIndex()) {
    case 0: return {now - day, now};
    case 1: return {now - 7 * day, now};
    case 2: return {now - 30 * day, now};
    case 3: return {now - 365 * day, now};
    default: return {m_from->dateTime().toMSecsSinceEpoch(), m_to->dateTime().toMSecsSinceEpoch()};
    }
}

void TrendTab::showPoint(int cable, int layer)
{
    m_cables->setText(QString::number(cable));
    m_layers->setText(QString::number(layer));
    m_span->setCurrentIndex(0);
    draw();
}

bool TrendTab::draw()
{
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
    ReadingStore *store = m_store();
    if (!store) {
        m_message->setText(QCoreApplication::translate("vx", "数据库不可用"));
        return false;
    }
    QElapsedTimer clock;
    clock.start();
    m_chart->removeAllSeries();
    for (QAbstractAxis *axis : m_chart->axes())
        m_chart->removeAxis(axis);
    m_shown.clear();
    auto *x = new QDateTimeAxis;
    x->setFormat(to - from > 3 * 86400000LL ? QStringLiteral("MM-dd") : QStringLiteral("MM-dd HH:mm"));
    x->setRange(QDateTime::fromMSecsSinceEpoch(from), QDateTime::fromMSecsSinceEpoch(to));
    auto *y = new QValueAxis;
    y->setTitleText(QStringLiteral("°C"));
    m_chart->addAxis(x, Qt::AlignBottom);
    m_chart->addAxis(y, Qt::AlignLeft);
    double low = 0, high = 0;
    bool any = false;
    for (int c : *cables) {
        for (int l : *layers) {
            Series s{c, l, {}, {}, {}, {}};
            auto *line = new QLineSeries;
            line->setName(QCoreApplication::translate("vx", "电缆%1 层%2").arg(c).arg(l));
            QList<QPointF> points;
            for (const ReadingBucket &b : store->buckets(c, l, from, to, kBuckets)) {
                s.times << b.startMs;
                s.min << b.min;
                s.mean << b.mean;
                s.max << b.max;
                points << QPointF(double(b.startMs), b.mean);
                low = any ? qMin(low, b.min) : b.min;
                high = any ? qMax(high, b.max) : b.max;
                any = true;
            }
            line->replace(points);
            connect(line, &QLineSeries::hovered, this, [this, name = line->name()](const QPointF &p, bool state) {
                if (state)
                    QToolTip::showText(QCursor::pos(),
                                       QStringLiteral("%1\n%2\n%3 °C")
                                           .arg(name,
                                                QDateTime::fromMSecsSinceEpoch(qint64(p.x())).toString(QStringLiteral("yyyy-MM-dd HH:mm")))
                                           .arg(p.y(), 0, 'f', 2),
                                       m_view);
            });
            m_chart->addSeries(line);
            line->attachAxis(x);
            line->attachAxis(y);
            m_shown << s;
        }
    }
    if (any)
        y->setRange(std::floor(low - 0.5), std::ceil(high + 0.5));
    qint64 points = 0;
    for (const Series &s : m_shown)
        points += s.times.size();
    m_message->setText(any ? QCoreApplication::translate("vx", "%1 条曲线，%2 个点（每点为该时段的平均，悬停可见时间与数值），用时 %3 ms")
                                 .arg(m_shown.size())
                                 .arg(points)
                                 .arg(clock.elapsed())
                           : QCoreApplication::translate("vx", "所选时段没有读数"));
    return true;
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
