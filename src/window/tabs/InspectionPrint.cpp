#include "window/tabs/InspectionPrint.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>

namespace vx {

namespace {
QString figure(const std::optional<double> &v)
{
    return v ? QString::number(*v, 'f', 1) : QStringLiteral("--");
}

} // namespace

bool writeInspectionPdf(const QString &file, const QList<InspectionEntry> &entries, const Depot &depot, QString *error)
{
    // The table is the book's own, in Chinese whatever the window's language.
    QPdfWriter pdf(file);
    pdf.setPageSize(QPageSize(QPageSize::A4));
    pdf.setPageMargins(QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter);
    pdf.setResolution(150);
    pdf.setTitle(QStringLiteral("粮情检查记录"));
    QPainter p;
    if (!p.begin(&pdf)) {
        *error = QCoreApplication::translate("vx", "无法写入 %1").arg(QDir::toNativeSeparators(file));
        return false;
    }
    const QRect page = p.viewport();
    QFont body(QStringLiteral("WenQuanYi Micro Hei"));
    body.setPixelSize(18);
    QFont title = body;
    title.setPixelSize(32);
    const int rowH = 34, w = page.width();
    for (int n = 0; n < entries.size(); ++n) {
        const InspectionEntry &e = entries[n];
        const DepotBin *bin = depot.bin(e.bin);
        if (n > 0)
            pdf.newPage();
        p.setFont(title);
        p.drawText(QRect(0, 0, w, 50), Qt::AlignCenter, QStringLiteral("粮情检查记录"));
        p.setFont(body);
        int y = 70;
        // Label and value cells, four pairs a row.
        auto pairs = [&](const QList<QPair<QString, QString>> &cells) {
            const int cw = w / (2 * int(cells.size()));
            for (int i = 0; i < cells.size(); ++i) {
                const QRect label(2 * i * cw, y, cw, rowH), value((2 * i + 1) * cw, y, cw, rowH);
                p.drawRect(label);
                p.drawRect(value);
                p.drawText(label, Qt::AlignCenter, cells[i].first);
                p.drawText(value, Qt::AlignCenter, cells[i].second);
            }
            y += rowH;
        };
        pairs({{QStringLiteral("仓号"), bin ? bin->name : QString::number(e.bin)},
               {QStringLiteral("仓型"), bin ? binKindName(bin->kind) : QString()},
               {QStringLiteral("品种"), bin ? bin->grain : QString()}});
        pairs({{QStringLiteral("储粮等级"), bin ? storageClassName(bin->storageClass) : QString()},
               {QStringLiteral("入仓日期"), bin && bin->intake.isValid() ? bin->intake.toString(Qt::ISODate) : QString()},
               {QStringLiteral("检查日期"), e.date.toString(Qt::ISODate)}});
        pairs({{QStringLiteral("检查人"), e.inspector},
               {QStringLiteral("全仓平均"), figure(e.mean) + QStringLiteral(" °C")},
               {QStringLiteral("上下层温差"), figure(e.topBottom) + QStringLiteral(" °C")}});
        pairs({{QStringLiteral("最高"), figure(e.max) + QStringLiteral(" °C")},
               {QStringLiteral("位置"), e.maxCable ? QStringLiteral("电缆%1 层%2").arg(e.maxCable).arg(e.maxPoint) : QString()},
               {QStringLiteral("最低"), figure(e.min) + QStringLiteral(" °C")}});
        y += rowH / 2;
        // Layer means, nine layers a row.
        p.drawText(QRect(0, y, w, rowH), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("各层平均温度（°C）"));
        y += rowH;
        const int perRow = 9, cw = w / (perRow + 1);
        for (int first = 0; first < kLayers; first += perRow) {
            for (int row = 0; row < 2; ++row) {
                const QRect head(0, y, cw, rowH);
                p.drawRect(head);
                p.drawText(head, Qt::AlignCenter, row == 0 ? QStringLiteral("层") : QStringLiteral("平均"));
                for (int i = 0; i < perRow && first + i < kLayers; ++i) {
                    const QRect cell((i + 1) * cw, y, cw, rowH);
                    p.drawRect(cell);
                    p.drawText(cell, Qt::AlignCenter,
                               row == 0 ? QString::number(first + i + 1) : figure(e.layerMeans.value(first + i)));
                }
                y += rowH;
            }
        }
        y += rowH / 2;
        p.drawText(QRect(0, y, w, rowH), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("检查情况"));
        y += rowH;
        const QRect notes(0, y, w, std::max(rowH * 4, page.height() - y - 2 * rowH));
        p.drawRect(notes);
        p.drawText(notes.adjusted(10, 10, -10, -10), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, e.observations);
        p.drawText(QRect(0, page.height() - rowH, w, rowH), Qt::AlignRight | Qt::AlignVCenter,
                   QStringLiteral("记录于 %1%2")
                       .arg(QDateTime::fromMSecsSinceEpoch(e.timeMs).toString(QStringLiteral("yyyy-MM-dd HH:mm")),
                            e.corrects ? QStringLiteral("（更正 %1 的记录）")
                                             .arg(QDateTime::fromMSecsSinceEpoch(e.corrects).toString(QStringLiteral("yyyy-MM-dd HH:mm")))
                                       : QString()));
    }
    if (entries.isEmpty())
        p.drawText(page, Qt::AlignCenter, QStringLiteral("尚无检查记录"));
    return p.end();
}

bool writeInspectionCsv(const QString &file, const QList<InspectionEntry> &entries, const Depot &depot, QString *error)
{
    QSaveFile out(file);
    const QByteArray text = inspectionCsv(entries, depot);
    if (!out.open(QIODevice::WriteOnly) || out.write(text) != text.size() || !out.commit()) {
        *error = out.errorString();
        return false;
    }
    return true;
}

} // namespace vx
