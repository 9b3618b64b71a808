#include "window/tabs/ReportTab.h"

#include <QCoreApplication>

#include "core/grain/AlarmBook.h"
#include "core/grain/GrainState.h"
#include "core/platform/Dialogs.h"

#include <QDateEdit>
#include <QDir>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPdfWriter>
#include <QPushButton>
#include <QSaveFile>
#include <QTableWidget>
#include <QVBoxLayout>

namespace vx {

namespace {
// shown: in the window's language; else (the PDF, a file) always as written here.
// The fan log: hours each bin's fans ran that day.
QString fanText(const DailyReport &r, bool shown)
{
    if (r.fanHours.isEmpty())
        return {};
    const char *bin = QT_TRANSLATE_NOOP("vx", "%1号仓 %2 小时");
    QStringList parts;
    for (auto it = r.fanHours.cbegin(); it != r.fanHours.cend(); ++it)
        parts << (shown ? QCoreApplication::translate("vx", bin) : QString::fromUtf8(bin)).arg(it.key()).arg(it.value(), 0, 'f', 1);
    const char *head = QT_TRANSLATE_NOOP("vx", "；风机运行：");
    return (shown ? QCoreApplication::translate("vx", head) : QString::fromUtf8(head)) + parts.join(QStringLiteral("，"));
}

QString figuresText(const DailyReport &r, bool shown)
{
    const auto text = [shown](const char *source) {
        return shown ? QCoreApplication::translate("vx", source) : QString::fromUtf8(source);
    };
    if (r.bin.count == 0)
        return text(QT_TRANSLATE_NOOP("vx", "%1：当天没有读数")).arg(r.date.toString(Qt::ISODate));
    return text(QT_TRANSLATE_NOOP("vx", "%1 全仓：最低 %2 °C，最高 %3 °C（电缆%4 层%5），平均 %6 °C，读数 %7 个；报警 %8 条"))
        .arg(r.date.toString(Qt::ISODate), DailyReport::number(r.bin.min), DailyReport::number(r.bin.max))
        .arg(r.bin.address, 2, 10, QLatin1Char('0'))
        .arg(r.bin.point, 2, 10, QLatin1Char('0'))
        .arg(DailyReport::number(r.bin.mean))
        .arg(r.bin.count)
        .arg(r.alarms.size())
        + fanText(r, shown);
}

// A cable's own figures over its layers.
PointSummary cableFigures(const DailyReport &r, int cable)
{
    PointSummary f;
    f.address = cable;
    double sum = 0;
    for (const PointSummary &p : r.points) {
        if (p.address != cable)
            continue;
        f.min = f.count == 0 ? p.min : qMin(f.min, p.min);
        f.max = f.count == 0 ? p.max : qMax(f.max, p.max);
        sum += p.mean * double(p.count);
        f.count += p.count;
    }
    f.mean = f.count > 0 ? sum / double(f.count) : 0;
    return f;
}

// shown: in the window's language, from the alarm's rule and values when
// the event carries them; else (the PDF) the text as it was stored.
QString alarmLine(const StoreEvent &e, bool shown)
{
    const QString time = QDateTime::fromMSecsSinceEpoch(e.timeMs).toString(QStringLiteral("HH:mm:ss"));
    if (shown) {
        if (const auto c = AlarmCondition::fromJson(e.data)) {
            AlarmTransition t;
            t.alarm.condition = *c;
            return QStringLiteral("%1  [%2] %3").arg(time, priorityNameShown(c->priority()), t.textShown());
        }
    }
    return QStringLiteral("%1  %2").arg(time, e.detail);
}
} // namespace

ReportTab::ReportTab(StoreSource store, Dialogs &dialogs, QWidget *parent)
    : QWidget(parent), m_store(std::move(store)), m_dialogs(dialogs)
{
    auto *layout = new QVBoxLayout(this);
    auto *row = new QHBoxLayout;
    m_date = new QDateEdit(QDate::currentDate());
    m_date->setObjectName(QStringLiteral("reportDate"));
    m_date->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    m_date->setCalendarPopup(true);
    auto *makeButton = new QPushButton(QCoreApplication::translate("vx", "生成"));
    makeButton->setObjectName(QStringLiteral("reportMakeButton"));
    auto *pdf = new QPushButton(QCoreApplication::translate("vx", "保存PDF…"));
    pdf->setObjectName(QStringLiteral("reportPdfButton"));
    auto *csv = new QPushButton(QCoreApplication::translate("vx", "保存CSV…"));
    csv->setObjectName(QStringLiteral("reportCsvButton"));
    row->addWidget(new QLabel(QCoreApplication::translate("vx", "日期")));
    row->addWidget(m_date);
    row->addWidget(makeButton);
    row->addStretch(1);
    row->addWidget(pdf);
    row->addWidget(csv);
    layout->addLayout(row);
    m_figures = new QLabel;
    m_figures->setObjectName(QStringLiteral("reportFigures"));
    layout->addWidget(m_figures);
    m_table = new QTableWidget(0, kLayers + 3);
    m_table->setObjectName(QStringLiteral("reportTable"));
    QStringList headings;
    for (int l = 1; l <= kLayers; ++l)
        headings << QCoreApplication::translate("vx", "%1层").arg(l);
    headings << QCoreApplication::translate("vx", "最低") << QCoreApplication::translate("vx", "最高") << QCoreApplication::translate("vx", "平均");
    m_table->setHorizontalHeaderLabels(headings);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    layout->addWidget(m_table, 3);
    m_alarms = new QListWidget;
    m_alarms->setObjectName(QStringLiteral("reportAlarms"));
    layout->addWidget(m_alarms, 1);

    connect(makeButton, &QPushButton::clicked, this, [this] { make(m_date->date()); });
    connect(pdf, &QPushButton::clicked, this, [this] {
        const QString file = m_dialogs.saveFileName({QCoreApplication::translate("vx", "保存日报"), QDir::homePath(), QStringLiteral("PDF (*.pdf)")});
        QString why;
        if (!file.isEmpty() && !savePdf(file, &why))
            m_figures->setText(QCoreApplication::translate("vx", "保存失败：%1").arg(why));
    });
    connect(csv, &QPushButton::clicked, this, [this] {
        const QString file = m_dialogs.saveFileName({QCoreApplication::translate("vx", "保存日报"), QDir::homePath(), QStringLiteral("CSV (*.csv)")});
        QString why;
        if (!file.isEmpty() && !saveCsv(file, &why))
            m_figures->setText(QCoreApplication::translate("vx", "保存失败：%1").arg(why));
    });
}

bool ReportTab::make(const QDate &date)
{
    ReadingStore *store = m_store();
    if (!store) {
        m_figures->setText(QCoreApplication::translate("vx", "数据库不可用"));
        return false;
    }
    m_date->setDate(date);
    m_report = buildDailyReport(*store, date);
    const QList<int> cables = m_report.cables();
    m_table->setRowCount(int(cables.size()));
    QStringList rowNames;
    for (int i = 0; i < cables.size(); ++i) {
        const int c = cables[i];
        rowNames << QCoreApplication::translate("vx", "电缆%1").arg(c);
        for (int l = 1; l <= kLayers; ++l) {
            const PointSummary *p = m_report.at(c, l);
            auto *item = new QTableWidgetItem(p ? DailyReport::number(p->mean) : QString());
            if (p)
                item->setToolTip(QCoreApplication::translate("vx", "最低 %1 °C，最高 %2 °C").arg(DailyReport::number(p->min), DailyReport::number(p->max)));
            m_table->setItem(i, l - 1, item);
        }
        const PointSummary f = cableFigures(m_report, c);
        m_table->setItem(i, kLayers, new QTableWidgetItem(DailyReport::number(f.min)));
        m_table->setItem(i, kLayers + 1, new QTableWidgetItem(DailyReport::number(f.max)));
        m_table->setItem(i, kLayers + 2, new QTableWidgetItem(DailyReport::number(f.mean)));
    }
    m_table->setVerticalHeaderLabels(rowNames);
    m_figures->setText(figuresText(m_report, true));
    m_alarms->clear();
    for (const StoreEvent &e : m_report.alarms)
        m_alarms->addItem(alarmLine(e, true));
    return true;
}

bool ReportTab::saveCsv(const QString &file, QString *error) const
{
    QSaveFile out(file);
    const QByteArray text = m_report.csv();
    if (!out.open(QIODevice::WriteOnly) || out.write(text) != text.size() || !out.commit()) {
        *error = out.errorString();
        return false;
    }
    return true;
}

bool ReportTab::savePdf(const QString &file, QString *error) const
{
    QPdfWriter pdf(file);
    pdf.setPageSize(QPageSize(QPageSize::A4));
    pdf.setPageOrientation(QPageLayout::Landscape);
    pdf.setPageMargins(QMarginsF(10, 10, 10, 10), QPageLayout::Millimeter);
    pdf.setResolution(150);
    pdf.setTitle(QStringLiteral("粮情日报 %1").arg(m_report.date.toString(Qt::ISODate)));
    QPainter p;
    if (!p.begin(&pdf)) {
        *error = QCoreApplication::translate("vx", "无法写入 %1").arg(QDir::toNativeSeparators(file));
        return false;
    }
    const QRect page = p.viewport();
    QFont body(QStringLiteral("WenQuanYi Micro Hei"));
    body.setPixelSize(13);
    QFont title = body;
    title.setPixelSize(22);
    const QList<int> cables = m_report.cables();
    const int tablePages = qMax(1, int((cables.size() + kCablesPerPage - 1) / kCablesPerPage));
    const int columns = 1 + kLayers + 3;
    const int cellW = page.width() / columns;
    const int cellH = 24;
    constexpr int kTop = 72; // below the title and the figures
    // The day's alarms, every one: under the last table while it has room, then on pages of their own.
    const int lastTableRows = int(cables.size()) - (tablePages - 1) * kCablesPerPage;
    const int roomUnderTable = qMax(0, (page.height() - kTop - (lastTableRows + 1) * cellH - cellH / 2 - cellH) / cellH);
    const int perAlarmPage = qMax(1, (page.height() - kTop - cellH) / cellH);
    const int rest = qMax(0, int(m_report.alarms.size()) - roomUnderTable);
    const int pages = tablePages + (rest + perAlarmPage - 1) / perAlarmPage;
    int alarmsDone = 0;
    auto drawAlarms = [&](int y, bool continued) {
        p.drawText(QRect(0, y, page.width(), cellH), Qt::AlignLeft | Qt::AlignVCenter,
                   continued ? QStringLiteral("当日报警（续）") : QStringLiteral("当日报警：%1 条").arg(m_report.alarms.size()));
        y += cellH;
        for (; alarmsDone < m_report.alarms.size() && y + cellH <= page.height(); ++alarmsDone, y += cellH)
            p.drawText(QRect(0, y, page.width(), cellH), Qt::AlignLeft | Qt::AlignVCenter,
                       alarmLine(m_report.alarms[alarmsDone], false));
    };
    for (int n = 0; n < pages; ++n) {
        if (n > 0)
            pdf.newPage();
        p.setFont(title);
        p.drawText(QRect(0, 0, page.width(), 36), Qt::AlignLeft | Qt::AlignVCenter,
                   QStringLiteral("粮情日报 %1").arg(m_report.date.toString(Qt::ISODate)));
        p.setFont(body);
        p.drawText(QRect(0, 0, page.width(), 36), Qt::AlignRight | Qt::AlignVCenter,
                   QStringLiteral("第 %1 / %2 页").arg(n + 1).arg(pages));
        p.drawText(QRect(0, 40, page.width(), 24), Qt::AlignLeft | Qt::AlignVCenter, figuresText(m_report, false));
        int y = kTop;
        if (n >= tablePages) {
            drawAlarms(y, true);
            continue;
        }
        auto cell = [&](int column, const QString &text) {
            const QRect r(column * cellW, y, cellW, cellH);
            p.drawRect(r);
            p.drawText(r, Qt::AlignCenter, text);
        };
        cell(0, QStringLiteral("电缆"));
        for (int l = 1; l <= kLayers; ++l)
            cell(l, QStringLiteral("%1层").arg(l));
        cell(kLayers + 1, QStringLiteral("最低"));
        cell(kLayers + 2, QStringLiteral("最高"));
        cell(kLayers + 3, QStringLiteral("平均"));
        y += cellH;
        for (int i = n * kCablesPerPage; i < qMin(int(cables.size()), (n + 1) * kCablesPerPage); ++i) {
            const int c = cables[i];
            cell(0, QString::number(c));
            for (int l = 1; l <= kLayers; ++l) {
                const PointSummary *s = m_report.at(c, l);
                cell(l, s ? DailyReport::number(s->mean) : QString());
            }
            const PointSummary f = cableFigures(m_report, c);
            cell(kLayers + 1, DailyReport::number(f.min));
            cell(kLayers + 2, DailyReport::number(f.max));
            cell(kLayers + 3, DailyReport::number(f.mean));
            y += cellH;
        }
        if (n == tablePages - 1)
            drawAlarms(y + cellH / 2, false);
    }
    if (!p.end()) {
        *error = QCoreApplication::translate("vx", "无法写入 %1").arg(QDir::toNativeSeparators(file));
        return false;
    }
    return true;
}

} // namespace vx
