#include "window/tabs/DepotTab.h"
#include "window/tabs/InspectionPrint.h"

#include "core/platform/Dialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QFormLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QCoreApplication>
#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScrollArea>
#include <QSlider>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <cmath>

namespace vx {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("vx", text);
}

QString celsiusText(double v)
{
    return QString::number(v, 'f', 1);
}

QColor priorityColour(AlarmPriority p)
{
    switch (p) {
    case AlarmPriority::High: return QColor(220, 60, 50);
    case AlarmPriority::Medium: return QColor(240, 150, 40);
    case AlarmPriority::Low: return QColor(225, 200, 60);
    }
    return Qt::black;
}

qint64 nowOf(const DepotViewSource &s)
{
    return s.now ? s.now() : QDateTime::currentMSecsSinceEpoch();
}

qint64 silentOf(const DepotViewSource &s)
{
    return s.silentAfterMs ? s.silentAfterMs() : 600000;
}

QString ageText(qint64 ms)
{
    if (ms < 0)
        return tr("无读数");
    if (ms < 120000)
        return tr("%1 秒前").arg(ms / 1000);
    if (ms < 7200000)
        return tr("%1 分钟前").arg(ms / 60000);
    return tr("%1 小时前").arg(ms / 3600000);
}

} // namespace

QColor temperatureColour(double celsius, double low, double high)
{
    const double t = qBound(0.0, (celsius - low) / (high - low), 1.0);
    return QColor::fromHsvF(float((1.0 - t) * 240.0 / 360.0), 0.75f, 0.95f);
}

// ---- the overview ----

DepotOverview::DepotOverview(DepotViewSource source, QWidget *parent) : QWidget(parent), m_source(std::move(source))
{
    setMouseTracking(false);
}

void DepotOverview::setAlarms(const AlarmBook &book)
{
    m_alarms.clear();
    if (m_depot)
        for (const DepotBin &b : m_depot->bins)
            m_alarms.insert(b.number, binAlarms(*m_depot, b.number, book));
    update();
}

int DepotOverview::columns() const
{
    return std::max(1, (width() - 8) / 238);
}

QRect DepotOverview::tileRect(int index) const
{
    return QRect(8 + (index % columns()) * 238, 8 + (index / columns()) * 158, 230, 150);
}

QSize DepotOverview::minimumSizeHint() const
{
    const int bins = m_depot ? int(m_depot->bins.size()) : 1;
    return QSize(246, 16 + ((bins + columns() - 1) / columns()) * 158);
}

QString DepotOverview::airText(const AirSample &a)
{
    const auto dew = a.dewPoint();
    return tr("%1 °C %2%RH 露点 %3 °C")
        .arg(a.celsius, 0, 'f', 1)
        .arg(a.rh, 0, 'f', 0)
        .arg(dew ? QString::number(*dew, 'f', 1) : QStringLiteral("?"));
}

void DepotOverview::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), palette().window());
    if (!m_depot || !m_source.picture)
        return;
    const qint64 now = nowOf(m_source), silent = silentOf(m_source);
    for (int i = 0; i < m_depot->bins.size(); ++i) {
        const DepotBin &bin = m_depot->bins[i];
        const BinSummary s = m_source.picture->summary(*m_depot, bin, now, silent);
        const BinAlarms alarms = m_alarms.value(bin.number);
        QColor fill(150, 205, 150);
        if (const auto worst = alarms.worst())
            fill = priorityColour(*worst).lighter(130);
        else if (s.silentCables > 0)
            fill = QColor(190, 190, 190);
        else if (s.all.count == 0)
            fill = QColor(228, 228, 228);
        const QRect r = tileRect(i);
        p.setPen(QPen(fill.darker(150), 2));
        p.setBrush(fill);
        p.drawRoundedRect(r, 6, 6);
        p.setPen(Qt::black);
        QFont bold = font();
        bold.setBold(true);
        p.setFont(bold);
        p.drawText(r.adjusted(8, 4, -8, 0), Qt::AlignLeft | Qt::AlignTop,
                   QStringLiteral("%1  %2").arg(bin.name, binKindShown(bin.kind)));
        p.setFont(font());
        QStringList lines;
        lines << (s.all.count > 0 ? tr("最高 %1 °C  平均 %2 °C").arg(celsiusText(s.all.max), celsiusText(s.all.mean))
                                  : tr("无温度"));
        lines << tr("报警 高%1 中%2 低%3").arg(alarms.open[0]).arg(alarms.open[1]).arg(alarms.open[2]);
        lines << tr("无响应电缆 %1/%2").arg(s.silentCables).arg(s.cables);
        lines << tr("最新读数 %1").arg(ageText(s.lastReadingMs < 0 ? -1 : now - s.lastReadingMs));
        if (m_source.air) {
            if (const auto head = m_source.air->headspace(bin.number, now))
                lines << tr("仓内 %1").arg(DepotOverview::airText(*head));
            const auto advice = m_source.air->advice().constFind(bin.number);
            if (advice != m_source.air->advice().cend()) {
                const bool fansOn = m_source.air->fans().value(bin.number).on;
                lines << (advice->go ? tr("可以通风") : tr("不宜通风")) + (fansOn ? tr("  风机运行") : QString());
            }
        }
        p.drawText(r.adjusted(8, 24, -8, -4), Qt::AlignLeft | Qt::AlignTop, lines.join(QLatin1Char('\n')));
    }
}

void DepotOverview::mousePressEvent(QMouseEvent *event)
{
    if (!m_depot)
        return;
    for (int i = 0; i < m_depot->bins.size(); ++i)
        if (tileRect(i).contains(event->position().toPoint())) {
            emit binActivated(m_depot->bins[i].number);
            return;
        }
}

// ---- the plan ----

BinPlan::BinPlan(DepotViewSource source, QWidget *parent) : QWidget(parent), m_source(std::move(source)) {}

void BinPlan::show(const Depot *depot, int bin)
{
    m_depot = depot;
    m_bin = bin;
    update();
}

void BinPlan::setLayer(int layer)
{
    m_layer = layer;
    update();
}

void BinPlan::setInterpolated(bool on)
{
    m_interpolated = on;
    update();
}

QSize BinPlan::minimumSizeHint() const
{
    return QSize(300, 240);
}

QRectF BinPlan::floorRect() const
{
    const DepotBin *b = m_depot ? m_depot->bin(m_bin) : nullptr;
    if (!b)
        return {};
    double w = b->lengthM, h = b->widthM;
    if (b->round()) {
        w = h = b->diameterM > 0 ? b->diameterM : 2 * (b->ringRadiiM.isEmpty() ? 5 : b->ringRadiiM.last() + 1);
    }
    if (w <= 0 || h <= 0)
        w = h = 1;
    const QRectF area = QRectF(rect()).adjusted(30, 30, -30, -30);
    const double scale = std::min(area.width() / w, area.height() / h);
    return QRectF(area.center().x() - w * scale / 2, area.center().y() - h * scale / 2, w * scale, h * scale);
}

QPointF BinPlan::toWidget(const QPointF &metres) const
{
    const DepotBin *b = m_depot->bin(m_bin);
    const QRectF floor = floorRect();
    if (b->round()) {
        const double across = b->diameterM > 0 ? b->diameterM : floor.width();
        const double scale = floor.width() / across;
        return floor.center() + metres * scale;
    }
    if (b->lengthM <= 0 || b->widthM <= 0) // no size: the grid's cells fill the floor
        return {floor.left() + metres.x(), floor.top() + metres.y()};
    return {floor.left() + metres.x() * floor.width() / b->lengthM, floor.top() + metres.y() * floor.height() / b->widthM};
}

QPointF BinPlan::cableCentre(int key) const
{
    const DepotCable *c = m_depot ? m_depot->cable(key) : nullptr;
    if (!c || c->bin != m_bin)
        return {};
    return toWidget(m_depot->floorPosition(*c));
}

void BinPlan::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(rect(), palette().base());
    const DepotBin *b = m_depot ? m_depot->bin(m_bin) : nullptr;
    if (!b || !m_source.picture)
        return;
    const qint64 now = nowOf(m_source), silent = silentOf(m_source);
    const QRectF floor = floorRect();
    QPainterPath outline;
    if (b->round())
        outline.addEllipse(floor);
    else
        outline.addRect(floor);
    p.setPen(QPen(Qt::darkGray, 2));
    p.setBrush(QColor(245, 240, 225));
    p.drawPath(outline);

    // This layer's temperature at each cable, where it has one.
    struct Known {
        QPointF at;
        double celsius;
    };
    QList<Known> known;
    const QList<DepotCable> cables = m_depot->cablesOf(m_bin);
    for (const DepotCable &c : cables)
        if (c.points.contains(m_layer))
            if (const auto t = m_source.picture->temperature(c.key(), m_layer, now, silent))
                known.append({toWidget(m_depot->floorPosition(c)), *t});

    if (m_interpolated && known.size() >= 2) {
        // Inverse-distance weighting on a coarse grid, inside the floor only.
        p.save();
        p.setClipPath(outline);
        p.setPen(Qt::NoPen);
        const int step = 8;
        for (double y = floor.top(); y < floor.bottom(); y += step)
            for (double x = floor.left(); x < floor.right(); x += step) {
                const QPointF c(x + step / 2.0, y + step / 2.0);
                double sum = 0, weights = 0;
                for (const Known &k : known) {
                    const double d2 = std::max(1.0, std::pow(k.at.x() - c.x(), 2) + std::pow(k.at.y() - c.y(), 2));
                    sum += k.celsius / d2;
                    weights += 1 / d2;
                }
                QColor colour = temperatureColour(sum / weights, m_low, m_high);
                colour.setAlpha(150);
                p.setBrush(colour);
                p.drawRect(QRectF(x, y, step, step));
            }
        p.restore();
        p.setPen(Qt::black);
        p.drawText(QRectF(floor.left(), floor.top() - 24, floor.width(), 20), Qt::AlignRight | Qt::AlignVCenter,
                   tr("电缆之间为插值估算"));
    }

    const double radius = 13;
    for (const DepotCable &c : cables) {
        const QPointF at = toWidget(m_depot->floorPosition(c));
        const auto t = c.points.contains(m_layer) ? m_source.picture->temperature(c.key(), m_layer, now, silent)
                                                  : std::nullopt;
        p.setPen(QPen(Qt::black, 1));
        if (t)
            p.setBrush(temperatureColour(*t, m_low, m_high));
        else
            p.setBrush(QBrush(Qt::gray, Qt::BDiagPattern));
        p.drawEllipse(at, radius, radius);
        const auto mark = m_alarms.marks.contains({c.key(), m_layer}) ? std::optional(m_alarms.marks.value({c.key(), m_layer}))
                          : m_alarms.marks.contains({c.key(), 0}) ? std::optional(m_alarms.marks.value({c.key(), 0}))
                                                                   : std::nullopt;
        if (mark) {
            p.setPen(QPen(priorityColour(*mark), 3));
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(at, radius + 4, radius + 4);
        }
        p.setPen(Qt::black);
        p.drawText(QRectF(at.x() - 30, at.y() + radius + 2, 60, 14), Qt::AlignCenter,
                   t ? celsiusText(t.value_or(0)) : QStringLiteral("--"));
    }
}

// ---- the section ----

BinSection::BinSection(DepotViewSource source, QWidget *parent) : QWidget(parent), m_source(std::move(source)) {}

void BinSection::show(const Depot *depot, int bin, int line)
{
    m_depot = depot;
    m_bin = bin;
    m_line = line;
    update();
}

QSize BinSection::minimumSizeHint() const
{
    return QSize(200, 240);
}

void BinSection::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), palette().base());
    const DepotBin *b = m_depot ? m_depot->bin(m_bin) : nullptr;
    if (!b || !m_source.picture)
        return;
    QList<DepotCable> line;
    double deepest = 0.5;
    for (const DepotCable &c : m_depot->cablesOf(m_bin))
        if ((b->round() ? c.ring : c.row) == m_line) {
            line.append(c);
            if (!c.depthsM.isEmpty())
                deepest = std::max(deepest, c.depthsM.last());
        }
    std::sort(line.begin(), line.end(), [&](const DepotCable &x, const DepotCable &y) {
        return b->round() ? x.angleDeg < y.angleDeg : x.column < y.column;
    });
    if (line.isEmpty()) {
        p.drawText(rect(), Qt::AlignCenter, tr("这一行没有电缆"));
        return;
    }
    const qint64 now = nowOf(m_source), silent = silentOf(m_source);
    const double left = 50, top = 24, columnWidth = std::min(80.0, (width() - left - 10) / double(line.size()));
    const double perMetre = (height() - top - 10) / (deepest + 0.5);
    p.setPen(Qt::black);
    for (double d = 0; d <= deepest + 1e-9; d += std::max(1.0, std::ceil(deepest / 8)))
        p.drawText(QRectF(0, top + d * perMetre - 7, left - 6, 14), Qt::AlignRight | Qt::AlignVCenter,
                   QStringLiteral("%1 m").arg(d));
    for (int i = 0; i < line.size(); ++i) {
        const DepotCable &c = line[i];
        const double x = left + i * columnWidth;
        p.drawText(QRectF(x, 2, columnWidth, 18), Qt::AlignCenter,
                   b->round() ? QStringLiteral("%1°").arg(c.angleDeg) : tr("列%1").arg(c.column));
        for (int k = 0; k < c.points.size(); ++k) {
            const double y = top + c.depthsM[k] * perMetre;
            const auto t = m_source.picture->temperature(c.key(), c.points[k], now, silent);
            const QRectF cell(x + 4, y - 8, columnWidth - 8, 16);
            p.fillRect(cell, t ? QBrush(temperatureColour(*t, m_low, m_high)) : QBrush(Qt::gray, Qt::BDiagPattern));
            p.drawText(cell, Qt::AlignCenter, t ? celsiusText(t.value_or(0)) : QStringLiteral("--"));
        }
    }
}

// ---- the tab ----

DepotTab::DepotTab(DepotViewSource source, QWidget *parent) : QWidget(parent), m_source(std::move(source))
{
    auto *outer = new QVBoxLayout(this);
    m_pages = new QStackedWidget;
    outer->addWidget(m_pages);

    auto *overviewPage = new QWidget;
    auto *overviewLayout = new QVBoxLayout(overviewPage);
    if (m_source.depotSaved) {
        auto *edit = new QPushButton(tr("编辑仓房文件"));
        edit->setObjectName(QStringLiteral("depotEdit"));
        connect(edit, &QPushButton::clicked, this, &DepotTab::editDepotFile);
        auto *row = new QHBoxLayout;
        row->addWidget(edit);
        row->addStretch(1);
        overviewLayout->addLayout(row);
    }
    m_problems = new QLabel;
    m_problems->setObjectName(QStringLiteral("depotProblems"));
    m_problems->setWordWrap(true);
    m_problems->setTextInteractionFlags(Qt::TextSelectableByMouse);
    overviewLayout->addWidget(m_problems);
    m_outside = new QLabel;
    m_outside->setObjectName(QStringLiteral("depotOutside"));
    m_outside->setVisible(false);
    overviewLayout->addWidget(m_outside);
    m_overview = new DepotOverview(m_source);
    m_overview->setObjectName(QStringLiteral("depotOverview"));
    m_overview->setDepot(&m_shown);
    auto *scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    scroll->setWidget(m_overview);
    overviewLayout->addWidget(scroll, 1);
    m_pages->addWidget(overviewPage);
    connect(m_overview, &DepotOverview::binActivated, this, &DepotTab::openBin);

    auto *binPage = new QWidget;
    auto *binLayout = new QVBoxLayout(binPage);
    auto *head = new QHBoxLayout;
    auto *back = new QPushButton(tr("返回总览"));
    back->setObjectName(QStringLiteral("depotBack"));
    connect(back, &QPushButton::clicked, this, [this] {
        m_bin = 0;
        m_pages->setCurrentIndex(0);
    });
    head->addWidget(back);
    m_title = new QLabel;
    m_title->setObjectName(QStringLiteral("depotBinTitle"));
    head->addWidget(m_title, 1);
    if (m_source.addInspection) {
        auto *record = new QPushButton(tr("记录粮情检查"));
        record->setObjectName(QStringLiteral("depotInspect"));
        connect(record, &QPushButton::clicked, this, &DepotTab::recordInspection);
        head->addWidget(record);
    }
    if (m_source.inspections && m_source.dialogs) {
        auto *print = new QPushButton(tr("导出检查记录"));
        print->setObjectName(QStringLiteral("depotInspectionExport"));
        connect(print, &QPushButton::clicked, this, [this] {
            const QString file = m_source.dialogs->saveFileName(
                {tr("导出检查记录"), QDir::homePath(), QStringLiteral("PDF (*.pdf);;CSV (*.csv)")});
            QString why;
            if (!file.isEmpty() && !exportInspections(file, &why))
                m_source.dialogs->message(tr("导出失败：%1").arg(why));
        });
        head->addWidget(print);
    }
    binLayout->addLayout(head);
    if (m_source.switchFans) {
        // The keeper's own switch of the bin's fans: it stands until automatic control is asked back.
        m_fanRow = new QWidget;
        auto *fans = new QHBoxLayout(m_fanRow);
        fans->setContentsMargins(0, 0, 0, 0);
        fans->addWidget(new QLabel(tr("风机")));
        const QList<std::tuple<QString, QString, std::optional<bool>>> buttons{
            {QStringLiteral("depotFansOn"), tr("手动开"), true},
            {QStringLiteral("depotFansOff"), tr("手动关"), false},
            {QStringLiteral("depotFansAuto"), tr("恢复自动"), std::nullopt}};
        for (const auto &[name, text, on] : buttons) {
            auto *button = new QPushButton(text);
            button->setObjectName(name);
            connect(button, &QPushButton::clicked, this, [this, on = on] {
                const QString why = m_source.switchFans(m_bin, on);
                m_fanMessage->setText(why.isEmpty() ? tr("已发出，结果记入风机日志") : why);
            });
            fans->addWidget(button);
        }
        m_fanMessage = new QLabel;
        m_fanMessage->setObjectName(QStringLiteral("depotFansMessage"));
        fans->addWidget(m_fanMessage, 1);
        binLayout->addWidget(m_fanRow);
    }
    // The plan with its layer, the section with its row, the figures: side by side, so a bin fits one screen.
    auto *body = new QHBoxLayout;
    auto *planColumn = new QVBoxLayout;
    m_plan = new BinPlan(m_source);
    m_plan->setObjectName(QStringLiteral("binPlan"));
    planColumn->addWidget(m_plan, 1);
    auto *layerRow = new QHBoxLayout;
    m_layerLabel = new QLabel;
    m_layer = new QSlider(Qt::Horizontal);
    m_layer->setObjectName(QStringLiteral("depotLayer"));
    m_layer->setRange(1, kLayers);
    connect(m_layer, &QSlider::valueChanged, this, [this](int layer) {
        m_plan->setLayer(layer);
        m_layerLabel->setText(tr("层%1").arg(layer, 2, 10, QLatin1Char('0')));
    });
    m_interpolate = new QCheckBox(tr("插值（估算）"));
    m_interpolate->setObjectName(QStringLiteral("depotInterpolate"));
    connect(m_interpolate, &QCheckBox::toggled, m_plan, &BinPlan::setInterpolated);
    layerRow->addWidget(m_layerLabel);
    layerRow->addWidget(m_layer, 1);
    layerRow->addWidget(m_interpolate);
    planColumn->addLayout(layerRow);
    body->addLayout(planColumn, 3);
    auto *sectionColumn = new QVBoxLayout;
    auto *sectionRow = new QHBoxLayout;
    sectionRow->addWidget(new QLabel(tr("剖面")));
    m_sectionChoice = new QComboBox;
    m_sectionChoice->setObjectName(QStringLiteral("depotSection"));
    sectionRow->addWidget(m_sectionChoice, 1);
    sectionColumn->addLayout(sectionRow);
    m_section = new BinSection(m_source);
    m_section->setObjectName(QStringLiteral("binSection"));
    sectionColumn->addWidget(m_section, 1);
    connect(m_sectionChoice, &QComboBox::currentIndexChanged, this, [this] {
        m_section->show(&m_shown, m_bin, m_sectionChoice->currentData().toInt());
    });
    body->addLayout(sectionColumn, 2);
    m_figures = new QLabel;
    m_figures->setObjectName(QStringLiteral("depotFigures"));
    m_figures->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    m_figures->setTextFormat(Qt::RichText);
    m_figures->setTextInteractionFlags(Qt::TextSelectableByMouse);
    body->addWidget(m_figures, 2);
    binLayout->addLayout(body, 1);
    m_pages->addWidget(binPage);
    m_layer->setValue(1);
    m_layerLabel->setText(tr("层%1").arg(1, 2, 10, QLatin1Char('0')));
}

void DepotTab::refresh()
{
    if (!m_source.picture)
        return;
    const Depot &depot = m_source.picture->depot();
    if (depot.fromFile) {
        m_shown = depot; // shared, not copied: an edited file's places show at once
        QStringList problems;
        for (const DepotProblem &e : depot.errors)
            problems << tr("错误：%1（已略去）").arg(e.text());
        for (const DepotProblem &w : depot.warnings)
            problems << tr("提示：%1").arg(w.text());
        const QString text = problems.join(QLatin1Char('\n'));
        if (m_problems->text() != text)
            m_problems->setText(text);
        m_problems->setVisible(!problems.isEmpty());
    } else {
        // No depot file: the one bin of the cables that have answered.
        const QList<int> keys = m_source.picture->keys();
        if (m_shown.cables.size() != keys.size())
            m_shown = singleBinDepot(keys);
        m_problems->setVisible(false);
    }
    if (m_source.air) {
        const auto out = m_source.air->outside(nowOf(m_source));
        m_outside->setText(out ? tr("外界 %1").arg(DepotOverview::airText(*out)) : QString());
        m_outside->setVisible(out.has_value());
    }
    m_overview->updateGeometry();
    m_overview->update();
    if (m_bin != 0) {
        m_plan->update();
        m_section->update();
        showFigures();
    }
}

void DepotTab::setAlarms(const AlarmBook &book)
{
    m_book = book;
    m_overview->setAlarms(book);
    if (m_bin != 0)
        m_plan->setAlarms(binAlarms(m_shown, m_bin, m_book));
}

void DepotTab::openBin(int bin)
{
    const DepotBin *b = m_shown.bin(bin);
    if (!b)
        return;
    m_bin = bin;
    QString title = QStringLiteral("%1  %2").arg(b->name, binKindShown(b->kind));
    if (!b->grain.isEmpty())
        title += QStringLiteral("  %1").arg(b->grain);
    title += QStringLiteral("  %1").arg(storageClassShown(b->storageClass));
    if (b->intake.isValid())
        title += tr("  入仓 %1").arg(b->intake.toString(Qt::ISODate));
    m_title->setText(title);
    m_plan->show(&m_shown, bin);
    m_plan->setAlarms(binAlarms(m_shown, bin, m_book));
    if (m_fanRow) {
        m_fanRow->setVisible(m_shown.fansOf(bin) != nullptr);
        m_fanMessage->clear();
    }
    fillSections();
    showFigures();
    m_pages->setCurrentIndex(1);
}

void DepotTab::fillSections()
{
    const DepotBin *b = m_shown.bin(m_bin);
    QSignalBlocker block(m_sectionChoice);
    m_sectionChoice->clear();
    QList<int> lines;
    for (const DepotCable &c : m_shown.cablesOf(m_bin)) {
        const int line = b->round() ? c.ring : c.row;
        if (!lines.contains(line))
            lines.append(line);
    }
    std::sort(lines.begin(), lines.end());
    for (int line : lines)
        m_sectionChoice->addItem(b->round() ? tr("第%1圈").arg(line) : tr("第%1行").arg(line), line);
    m_section->show(&m_shown, m_bin, lines.value(0, 1));
}

InspectionEntry DepotTab::inspectionOf(const QDate &date, const QString &inspector, const QString &observations) const
{
    InspectionEntry e;
    e.timeMs = nowOf(m_source);
    e.bin = m_bin;
    e.date = date;
    e.inspector = inspector.trimmed();
    e.observations = observations.trimmed();
    if (const DepotBin *b = m_shown.bin(m_bin); b && m_source.picture)
        e.takeFigures(m_source.picture->summary(m_shown, *b, e.timeMs, silentOf(m_source)));
    return e;
}

bool DepotTab::exportInspections(const QString &file, QString *error) const
{
    QList<InspectionEntry> entries;
    for (const InspectionEntry &e : m_source.inspections ? m_source.inspections() : QList<InspectionEntry>())
        if (e.bin == m_bin)
            entries.append(e);
    return file.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive) ? writeInspectionCsv(file, entries, m_shown, error)
                                                                      : writeInspectionPdf(file, entries, m_shown, error);
}

void DepotTab::editDepotFile()
{
    auto *dialog = new QDialog(this);
    dialog->setObjectName(QStringLiteral("depotEditor"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(m_source.depotFile);
    dialog->resize(720, 560);
    auto *layout = new QVBoxLayout(dialog);
    auto *text = new QPlainTextEdit;
    text->setObjectName(QStringLiteral("depotText"));
    QFont mono(QStringLiteral("monospace"));
    mono.setStyleHint(QFont::TypeWriter);
    text->setFont(mono);
    QFile file(m_source.depotFile);
    if (file.open(QIODevice::ReadOnly))
        text->setPlainText(QString::fromUtf8(file.readAll()));
    else // a start for a depot without a file yet
        text->setPlainText(QStringLiteral("[bin.1]\nname = 1号仓\nkind = flat\nsize = 36x24\ngrid = 6x8\ngrain = wheat\n"
                                          "class = safe\n\n[cable.1]\nbin = 1\nposition = 1, 1\n"
                                          "depths = 0.5, 2.5, 4.5, 6.5\n"));
    layout->addWidget(text, 1);
    auto *problems = new QLabel;
    problems->setObjectName(QStringLiteral("depotEditorProblems"));
    problems->setWordWrap(true);
    layout->addWidget(problems);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Cancel);
    layout->addWidget(buttons);
    const QString name = QFileInfo(m_source.depotFile).fileName();
    auto check = [text, problems, name] {
        const Depot d = parseDepot(text->toPlainText().toUtf8(), name);
        QStringList lines;
        for (const DepotProblem &e : d.errors)
            lines << tr("错误：%1（已略去）").arg(e.text());
        for (const DepotProblem &w : d.warnings)
            lines << tr("提示：%1").arg(w.text());
        problems->setText(lines.isEmpty() ? tr("%1 个仓，%2 根电缆，无问题").arg(d.bins.size()).arg(d.cables.size())
                                          : lines.join(QLatin1Char('\n')));
    };
    check();
    connect(text, &QPlainTextEdit::textChanged, dialog, check);
    connect(buttons, &QDialogButtonBox::accepted, dialog, [this, dialog, text, problems, name] {
        QSaveFile out(m_source.depotFile);
        const QByteArray bytes = text->toPlainText().toUtf8();
        if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.commit()) {
            problems->setText(tr("保存失败：%1").arg(out.errorString()));
            return;
        }
        m_source.depotSaved(parseDepot(bytes, name));
        refresh();
        dialog->accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    dialog->open();
}

void DepotTab::recordInspection()
{
    // Window-modal and open(): collection goes on while the inspector writes.
    auto *dialog = new QDialog(this);
    dialog->setObjectName(QStringLiteral("inspectionDialog"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(tr("记录粮情检查"));
    auto *form = new QFormLayout(dialog);
    auto *date = new QDateEdit(QDateTime::fromMSecsSinceEpoch(nowOf(m_source)).date());
    date->setCalendarPopup(true);
    auto *inspector = new QLineEdit;
    inspector->setObjectName(QStringLiteral("inspectionInspector"));
    auto *observations = new QPlainTextEdit;
    observations->setObjectName(QStringLiteral("inspectionObservations"));
    form->addRow(tr("检查日期"), date);
    form->addRow(tr("检查人"), inspector);
    form->addRow(tr("检查情况"), observations);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    form->addRow(buttons);
    connect(buttons, &QDialogButtonBox::accepted, dialog, [this, dialog, date, inspector, observations] {
        if (inspector->text().trimmed().isEmpty()) {
            inspector->setPlaceholderText(tr("请填写检查人"));
            return;
        }
        m_source.addInspection(inspectionOf(date->date(), inspector->text(), observations->toPlainText()));
        dialog->accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    dialog->open();
}

QString DepotTab::figuresText() const
{
    return m_figures->text();
}

void DepotTab::showFigures()
{
    const DepotBin *b = m_shown.bin(m_bin);
    if (!b || !m_source.picture)
        return;
    const qint64 now = nowOf(m_source), silent = silentOf(m_source);
    const DepotPicture &picture = *m_source.picture;
    const BinSummary s = picture.summary(m_shown, *b, now, silent);
    QString table = QStringLiteral("<table cellspacing=2><tr><th>%1</th><th>%2</th><th>%3</th><th>%4</th></tr>")
                        .arg(tr("层"), tr("平均"), tr("最高"), tr("最低"));
    for (int l = 0; l < s.layers.size(); ++l) {
        const Figures &f = s.layers[l];
        if (f.count == 0)
            continue;
        table += QStringLiteral("<tr><td>%1</td><td align=right>%2</td><td align=right>%3</td><td align=right>%4</td></tr>")
                     .arg(l + 1, 2, 10, QLatin1Char('0'))
                     .arg(celsiusText(f.mean), celsiusText(f.max), celsiusText(f.min));
    }
    table += QStringLiteral("</table>");
    QStringList lines;
    if (s.all.count > 0) {
        const DepotCable *hot = m_shown.cable(s.maxCable);
        const QString where = hot ? (b->round() ? tr("第%1圈 %2°").arg(hot->ring).arg(hot->angleDeg)
                                                : tr("第%1行第%2列").arg(hot->row).arg(hot->column))
                                  : QString();
        lines << tr("全仓 平均 %1 °C，最低 %2 °C").arg(celsiusText(s.all.mean), celsiusText(s.all.min));
        lines << tr("最高 %1 °C：电缆 %2（%3）层%4，深 %5 m")
                     .arg(celsiusText(s.all.max))
                     .arg(s.maxCable)
                     .arg(where)
                     .arg(s.maxPoint, 2, 10, QLatin1Char('0'))
                     .arg(s.maxDepthM);
    } else {
        lines << tr("无温度");
    }
    if (s.topBottom)
        lines << tr("上下层温差 %1 °C").arg(celsiusText(*s.topBottom));
    // Against the other bins of the same grain.
    if (!b->grain.isEmpty() && s.all.count > 0) {
        double sum = 0;
        int bins = 0;
        for (const DepotBin &other : m_shown.bins)
            if (other.number != b->number && other.grain.compare(b->grain, Qt::CaseInsensitive) == 0)
                if (const auto mean = binMean(picture.profile(m_shown, other, now, silent))) {
                    sum += *mean;
                    ++bins;
                }
        if (bins > 0)
            lines << tr("同品种其他 %1 个仓平均 %2 °C，本仓高出 %3 °C")
                         .arg(bins)
                         .arg(celsiusText(sum / bins), celsiusText(s.all.mean - sum / bins));
    }
    lines << tr("电缆 %1 根，无响应 %2 根").arg(s.cables).arg(s.silentCables);
    if (m_source.air) {
        const VentilationControl &air = *m_source.air;
        if (const auto out = air.outside(now))
            lines << tr("外界 %1").arg(DepotOverview::airText(*out));
        if (const auto head = air.headspace(b->number, now))
            lines << tr("仓内 %1").arg(DepotOverview::airText(*head));
        if (b->moistureWet > 0)
            lines << tr("粮食水分 %1%（%2 化验）").arg(b->moistureWet, 0, 'f', 1).arg(b->moistureDate.toString(Qt::ISODate));
        const auto advice = air.advice().constFind(b->number);
        if (advice != air.advice().cend())
            lines << QStringLiteral("<b>%1</b>：%2")
                         .arg(advice->go ? tr("可以通风") : tr("不宜通风"),
                              // The reason in the window's language: English when the verdict is translated.
                              tr("可以通风") == QStringLiteral("可以通风") ? advice->reason(air.settings())
                                                                          : advice->reasonEnglish(air.settings()));
        if (m_shown.fansOf(b->number)) {
            const FanState f = air.fans().value(b->number);
            lines << tr("风机 %1%2").arg(f.on ? tr("运行") : tr("停止"), f.manual ? tr("（手动）") : air.automatic() ? tr("（自动）") : QString());
        }
    }
    const QString text = lines.join(QStringLiteral("<br>")) + table;
    if (m_figures->text() != text)
        m_figures->setText(text);
}

} // namespace vx
