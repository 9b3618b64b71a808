#include "window/tabs/GrainOverview.h"

#include <QCoreApplication>

#include "core/store/ReadingSet.h"

#include <QDateTime>
#include <QDoubleSpinBox>
#include <QHBoxLayout>
#include <QSettings>
#include <QHelpEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>
#include <QVBoxLayout>

namespace vx {

namespace {
constexpr int kHeaderColumns = 1;   // layer names
constexpr int kStatColumns = 3;     // a layer's average, maximum, minimum
constexpr int kHeaderRows = 1;      // cable numbers
constexpr int kStatRows = 3;        // a cable's average, maximum, minimum
constexpr int kLegendRows = 2;
const QColor kNoTemperature(205, 205, 205);
QStringList kStatNames()
{
    return {QCoreApplication::translate("vx", "平均"), QCoreApplication::translate("vx", "最高"), QCoreApplication::translate("vx", "最低")};
}

QString oneDecimal(double v)
{
    return QString::number(v, 'f', 1);
}
} // namespace

GrainMap::GrainMap(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("grainMap"));
    setMouseTracking(false);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void GrainMap::setScale(double low, double high)
{
    if (high > low) {
        m_low = low;
        m_high = high;
        update();
    }
}

QSize GrainMap::minimumSizeHint() const
{
    return {(kHeaderColumns + kCables + kStatColumns) * 26 + 2,
            (kHeaderRows + kLayers + kStatRows + kLegendRows) * 16 + 2};
}

int GrainMap::cellWidth() const
{
    return qMax(26, (width() - 2) / (kHeaderColumns + kCables + kStatColumns));
}

int GrainMap::cellHeight() const
{
    return qMax(16, (height() - 2) / (kHeaderRows + kLayers + kStatRows + kLegendRows));
}

QRect GrainMap::cellRect(int cable, int layer) const
{
    // Column 0 names the layers; row 0 numbers the cables.
    return {1 + (kHeaderColumns + cable - 1) * cellWidth(), 1 + (kHeaderRows + layer - 1) * cellHeight(), cellWidth(),
            cellHeight()};
}

QPoint GrainMap::cellAt(const QPoint &pos) const
{
    const int column = (pos.x() - 1) / cellWidth() - kHeaderColumns + 1;
    const int row = (pos.y() - 1) / cellHeight() - kHeaderRows + 1;
    if (column < 1 || column > kCables || row < 1 || row > kLayers)
        return {};
    return {column, row};
}

QColor GrainMap::colourOf(double celsius) const
{
    // Blue at the low limit through green and yellow to red at the high one.
    const double t = qBound(0.0, (celsius - m_low) / (m_high - m_low), 1.0);
    return QColor::fromHsvF(float((1.0 - t) * 240.0 / 360.0), 0.75f, 0.95f);
}

std::pair<qint64, qint64> GrainMap::nowAndSilentAfter() const
{
    return {m_now ? m_now() : QDateTime::currentMSecsSinceEpoch(),
            m_silentAfter ? m_silentAfter() : std::numeric_limits<qint64>::max() / 2};
}

CableState GrainMap::stateOf(int cable) const
{
    if (!m_snapshot)
        return CableState::NeverSeen;
    const std::pair<qint64, qint64> clock = nowAndSilentAfter();
    const qint64 now = clock.first, after = clock.second;
    return m_snapshot->stateOf(cable, now, after);
}

std::array<CableState, kCables> GrainMap::states() const
{
    std::array<CableState, kCables> states;
    states.fill(CableState::NeverSeen);
    if (!m_snapshot)
        return states;
    const std::pair<qint64, qint64> clock = nowAndSilentAfter();
    const qint64 now = clock.first, after = clock.second;
    for (int c = 1; c <= kCables; ++c)
        states[std::size_t(c - 1)] = m_snapshot->stateOf(c, now, after);
    return states;
}

GrainStatistics GrainMap::statistics() const
{
    if (!m_snapshot)
        return {};
    const std::pair<qint64, qint64> clock = nowAndSilentAfter();
    const qint64 now = clock.first, after = clock.second;
    return grainStatistics(*m_snapshot, now, after);
}

QRect GrainMap::columnRect(int cable) const
{
    // From the heading down through the cable's own figures.
    const QRect top = cellRect(cable, 1);
    return {top.left(), 1, top.width(), (kHeaderRows + kLayers + kStatRows) * cellHeight()};
}

QRect GrainMap::layerFiguresRect() const
{
    const QRect first = cellRect(kCables, 1);
    return {first.right() + 1, 1, kStatColumns * cellWidth(), (kHeaderRows + kLayers) * cellHeight()};
}

void GrainMap::cableChanged(int cable)
{
    // A frame changes its column, the layers' figures and perhaps the hottest
    // cell; repainting the whole map for each cost most of an exchange.
    if (cable < 1 || cable > kCables)
        return;
    update(columnRect(cable));
    update(layerFiguresRect());
    if (!m_hottest.isNull())
        update(cellRect(m_hottest.x(), m_hottest.y()));
    const GrainStatistics stats = statistics();
    if (stats.maxCable > 0 && QPoint(stats.maxCable, stats.maxLayer) != m_hottest)
        update(cellRect(stats.maxCable, stats.maxLayer));
}

void GrainMap::setAlarms(const AlarmBook &book)
{
    for (auto &cable : m_marks)
        cable.fill(std::nullopt);
    m_markTexts.clear();
    auto mark = [&](int cable, int layer, AlarmPriority priority, const QString &text) {
        auto &m = m_marks[std::size_t(cable - 1)][std::size_t(layer)];
        if (!m || priority < *m)
            m = priority;
        m_markTexts[{cable, layer}] << text;
    };
    for (const Alarm &a : book.alarms()) {
        if (a.state == Alarm::State::Cleared || a.condition.cable < 1 || a.condition.cable > kCables)
            continue;
        const AlarmCondition &c = a.condition;
        const QString text = ruleNameShown(c.rule) + QStringLiteral(": ") + c.detailShown();
        if (c.points.isEmpty())
            mark(c.cable, 0, c.priority(), text);
        for (const AlarmPoint &point : c.points)
            if (point.layer >= 1 && point.layer <= kLayers)
                mark(c.cable, point.layer, c.priority(), text);
    }
    update();
}

std::optional<AlarmPriority> GrainMap::alarmAt(int cable, int layer) const
{
    if (cable < 1 || cable > kCables || layer < 0 || layer > kLayers)
        return std::nullopt;
    return m_marks[std::size_t(cable - 1)][std::size_t(layer)];
}

void GrainMap::drawMark(QPainter &p, const QRect &r, AlarmPriority priority) const
{
    // A frame as thick as the alarm is urgent, and a corner badge: both read without colour.
    static const QColor colours[] = {QColor(190, 0, 0), QColor(215, 120, 0), QColor(40, 110, 200)};
    const QColor colour = colours[int(priority)];
    const int width = priority == AlarmPriority::High ? 3 : priority == AlarmPriority::Medium ? 2 : 1;
    p.save();
    p.setPen(QPen(colour, width, priority == AlarmPriority::Low ? Qt::DashLine : Qt::SolidLine));
    p.setBrush(Qt::NoBrush);
    p.drawRect(r.adjusted(width / 2 + 1, width / 2 + 1, -(width + 1) / 2 - 1, -(width + 1) / 2 - 1));
    const int badge = qMax(5, r.height() / 3);
    QPolygon corner({r.topLeft(), r.topLeft() + QPoint(badge, 0), r.topLeft() + QPoint(0, badge)});
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawPolygon(corner);
    p.restore();
}

void GrainMap::paintEvent(QPaintEvent *event)
{
    QPainter p(this);
    const QRect dirty = event->rect();
    p.fillRect(dirty, palette().window());
    if (!m_snapshot)
        return;
    const int w = cellWidth(), h = cellHeight();
    QFont small = font();
    small.setPointSizeF(qMax(6.0, font().pointSizeF() - 1.5));
    p.setFont(small);
    const std::pair<qint64, qint64> clock = nowAndSilentAfter();
    const qint64 now = clock.first, after = clock.second;
    const GrainStatistics stats = grainStatistics(*m_snapshot, now, after);
    const QBrush hatch(QColor(150, 150, 150), Qt::BDiagPattern);

    auto cell = [&](int column, int row) { return QRect(1 + column * w, 1 + row * h, w, h); };
    // Headings.
    for (int c = 1; c <= kCables; ++c) {
        const QRect r = cell(kHeaderColumns + c - 1, 0);
        if (!r.intersects(dirty))
            continue;
        const CableState state = m_snapshot->stateOf(c, now, after);
        if (state == CableState::Silent)
            p.fillRect(r, QColor(255, 200, 120));
        p.drawText(r, Qt::AlignCenter, QString::number(c));
        if (const auto mark = alarmAt(c, 0))
            drawMark(p, r, *mark);
    }
    for (int l = 1; l <= kLayers; ++l)
        p.drawText(cell(0, kHeaderRows + l - 1), Qt::AlignCenter, QCoreApplication::translate("vx", "%1层", "map row header: narrow").arg(l));
    for (int k = 0; k < kStatColumns; ++k)
        p.drawText(cell(kHeaderColumns + kCables + k, 0), Qt::AlignCenter, kStatNames()[k]);
    for (int k = 0; k < kStatRows; ++k)
        p.drawText(cell(0, kHeaderRows + kLayers + k), Qt::AlignCenter, kStatNames()[k]);

    // The cells: only those the paint is for (a frame repaints its own column).
    for (int c = 1; c <= kCables; ++c) {
        if (!columnRect(c).intersects(dirty))
            continue;
        const CableState state = m_snapshot->stateOf(c, now, after);
        for (int l = 1; l <= kLayers; ++l) {
            const QRect r = cellRect(c, l);
            if (!r.intersects(dirty))
                continue;
            const PointHistory &point = m_snapshot->at(c, l);
            const PointReading &reading = point.latest;
            const auto t = point.temperature();
            QString text;
            if (state == CableState::Answering && t) {
                const QColor colour = colourOf(*t);
                p.fillRect(r, colour);
                p.setPen(colour.lightnessF() < 0.45 ? Qt::white : Qt::black);
                text = oneDecimal(*t);
            } else {
                p.fillRect(r, kNoTemperature);
                p.fillRect(r, hatch);
                p.setPen(Qt::black);
                if (reading.has()) {
                    const ReadingStatus status = statusOf(reading.raw);
                    text = status == ReadingStatus::NoReading  ? QCoreApplication::translate("vx", "无")
                           : status == ReadingStatus::PowerOn ? QStringLiteral("85?")
                           : status == ReadingStatus::Ok      ? oneDecimal(*celsiusOf(reading.raw)) + QLatin1Char('?')
                                                              : QCoreApplication::translate("vx", "超限");
                }
            }
            p.drawText(r, Qt::AlignCenter, text);
            p.setPen(QColor(255, 255, 255));
            p.drawRect(r.adjusted(0, 0, -1, -1));
            p.setPen(Qt::black);
            if (const auto mark = alarmAt(c, l))
                drawMark(p, r, *mark);
        }
        const Figures &f = stats.cables[std::size_t(c - 1)];
        for (int k = 0; k < kStatRows && f.count > 0; ++k)
            p.drawText(cell(kHeaderColumns + c - 1, kHeaderRows + kLayers + k), Qt::AlignCenter,
                       oneDecimal(k == 0 ? f.mean : k == 1 ? f.max : f.min));
    }
    for (int l = 1; l <= kLayers; ++l) {
        const Figures &f = stats.layers[std::size_t(l - 1)];
        for (int k = 0; k < kStatColumns && f.count > 0; ++k)
            p.drawText(cell(kHeaderColumns + kCables + k, kHeaderRows + l - 1), Qt::AlignCenter,
                       oneDecimal(k == 0 ? f.mean : k == 1 ? f.max : f.min));
    }
    if (stats.maxCable > 0) {
        p.setPen(QPen(Qt::black, 2));
        p.drawRect(cellRect(stats.maxCable, stats.maxLayer).adjusted(1, 1, -2, -2));
        p.setPen(Qt::black);
    }
    const_cast<GrainMap *>(this)->m_hottest = stats.maxCable > 0 ? QPoint(stats.maxCable, stats.maxLayer) : QPoint();

    // Legend: the scale, and what grey means.
    const int legendRow = kHeaderRows + kLayers + kStatRows;
    const QRect bar(1 + kHeaderColumns * w, 1 + legendRow * h + h / 3, 20 * w, h * 2 / 3);
    for (int x = 0; x < bar.width(); ++x)
        p.fillRect(QRect(bar.left() + x, bar.top(), 1, bar.height()),
                   colourOf(m_low + (m_high - m_low) * x / qMax(1, bar.width() - 1)));
    const QRect labels(bar.left(), bar.bottom() + 1, bar.width(), h);
    p.drawText(labels, Qt::AlignLeft | Qt::AlignTop, QStringLiteral("%1 °C").arg(oneDecimal(m_low)));
    p.drawText(labels, Qt::AlignRight | Qt::AlignTop, QStringLiteral("%1 °C").arg(oneDecimal(m_high)));
    const QRect grey(bar.right() + w, bar.top(), w, bar.height());
    p.fillRect(grey, kNoTemperature);
    p.fillRect(grey, hatch);
    p.drawText(QRect(grey.right() + 4, grey.top() - h / 3, 18 * w, h), Qt::AlignLeft | Qt::AlignVCenter,
               QCoreApplication::translate("vx", "无温度：尚无读数、无读数、可疑 85.00、电缆无响应"));
}

QString GrainMap::toolTipAt(int c, int l) const
{
    if (!m_snapshot)
        return QString();
    const PointReading &r = m_snapshot->at(c, l).latest;
    QString text = QCoreApplication::translate("vx", "电缆%1 层%2").arg(c, 2, 10, QLatin1Char('0')).arg(l, 2, 10, QLatin1Char('0'));
    if (!r.has()) {
        text += QCoreApplication::translate("vx", "\n尚无读数");
    } else {
        const ReadingStatus status = statusOf(r.raw);
        text += QLatin1Char('\n')
                + (status == ReadingStatus::NoReading ? QCoreApplication::translate("vx", "无读数")
                                                      : QStringLiteral("%1 °C").arg(celsiusOf(r.raw).value_or(0), 0, 'f', 2));
        if (status == ReadingStatus::PowerOn)
            text += QCoreApplication::translate("vx", "（上电值，可疑）");
        else if (status == ReadingStatus::OutOfRange)
            text += QCoreApplication::translate("vx", "（超出量程）");
        text += QCoreApplication::translate("vx", "\n读数时间 %1\n原始值 %2")
                    .arg(QDateTime::fromMSecsSinceEpoch(r.timeMs).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")))
                    .arg(r.raw);
    }
    if (stateOf(c) == CableState::Silent)
        text += QCoreApplication::translate("vx", "\n电缆无响应");
    if (m_snapshot->at(c, l).faultReadingsLeft > 0)
        text += QCoreApplication::translate("vx", "\n传感器跳变，待读数恢复");
    for (int layer : {0, l})
        for (const QString &alarm : m_markTexts.value({c, layer}))
            text += QLatin1Char('\n') + QCoreApplication::translate("vx", "报警：%1").arg(alarm);
    return text;
}

bool GrainMap::event(QEvent *event)
{
    if (event->type() == QEvent::ToolTip && m_snapshot) {
        auto *help = static_cast<QHelpEvent *>(event);
        const QPoint at = cellAt(help->pos());
        if (at.isNull()) {
            QToolTip::hideText();
            return true;
        }
        const QString text = toolTipAt(at.x(), at.y());
        QToolTip::showText(help->globalPos(), text, this);
        return true;
    }
    return QWidget::event(event);
}

void GrainMap::mouseDoubleClickEvent(QMouseEvent *event)
{
    const QPoint at = cellAt(event->position().toPoint());
    if (!at.isNull())
        emit pointActivated(at.x(), at.y());
}

GrainOverview::GrainOverview(QWidget *parent) : QWidget(parent)
{
    auto *layout = new QVBoxLayout(this);
    auto *scale = new QHBoxLayout;
    m_low = new QDoubleSpinBox;
    m_low->setObjectName(QStringLiteral("overviewLow"));
    m_high = new QDoubleSpinBox;
    m_high->setObjectName(QStringLiteral("overviewHigh"));
    for (QDoubleSpinBox *box : {m_low, m_high}) {
        box->setRange(-55, 125);
        box->setDecimals(1);
        box->setSuffix(QStringLiteral(" °C"));
    }
    m_low->setValue(0);
    m_high->setValue(40);
    scale->addWidget(new QLabel(QCoreApplication::translate("vx", "色标：蓝")));
    scale->addWidget(m_low);
    scale->addWidget(new QLabel(QCoreApplication::translate("vx", "至红")));
    scale->addWidget(m_high);
    scale->addStretch(1);
    layout->addLayout(scale);
    auto applyScale = [this] {
        if (m_high->value() <= m_low->value())
            return; // the map keeps its limits until they make sense
        m_map->setScale(m_low->value(), m_high->value());
        if (!m_settingsFile.isEmpty()) {
            QSettings ini(m_settingsFile, QSettings::IniFormat);
            ini.setValue(QStringLiteral("overview/low"), m_low->value());
            ini.setValue(QStringLiteral("overview/high"), m_high->value());
        }
    };
    connect(m_low, &QDoubleSpinBox::valueChanged, this, applyScale);
    connect(m_high, &QDoubleSpinBox::valueChanged, this, applyScale);
    m_map = new GrainMap;
    layout->addWidget(m_map, 1);
    m_figures = new QLabel;
    m_figures->setObjectName(QStringLiteral("grainFigures"));
    layout->addWidget(m_figures);
    refresh();
}

void GrainOverview::setSettingsFile(const QString &path)
{
    QSettings ini(path, QSettings::IniFormat);
    const double low = ini.value(QStringLiteral("overview/low"), 0.0).toDouble();
    const double high = ini.value(QStringLiteral("overview/high"), 40.0).toDouble();
    if (high > low && low >= -55 && high <= 125) {
        m_low->setValue(low);
        m_high->setValue(high);
    }
    m_settingsFile = path; // from now on changes are kept
}

void GrainOverview::refresh()
{
    const GrainStatistics s = m_map->statistics();
    int answering = 0, silent = 0, never = 0;
    const auto states = m_map->states();
    for (const CableState state : states) {
        switch (state) {
        case CableState::Answering: ++answering; break;
        case CableState::Silent: ++silent; break;
        case CableState::NeverSeen: ++never; break;
        }
    }
    QString text = s.bin.count == 0
                       ? QCoreApplication::translate("vx", "全仓：尚无温度")
                       : QCoreApplication::translate("vx", "全仓：平均 %1 °C，最高 %2 °C（电缆%3 层%4），最低 %5 °C")
                             .arg(s.bin.mean, 0, 'f', 2)
                             .arg(s.bin.max, 0, 'f', 2)
                             .arg(s.maxCable, 2, 10, QLatin1Char('0'))
                             .arg(s.maxLayer, 2, 10, QLatin1Char('0'))
                             .arg(s.bin.min, 0, 'f', 2);
    text += QCoreApplication::translate("vx", "；电缆：应答 %1，无响应 %2，未见 %3").arg(answering).arg(silent).arg(never);
    if (m_figures->text() != text)
        m_figures->setText(text);
    // Time alone changes a cable's state (silent after a while): only then is all of it drawn again.
    if (states != m_states) {
        m_states = states;
        m_map->update();
    }
}

} // namespace vx
