#include "ui/ValueGrid.h"

#include "ui/CachedPanelStyle.h"
#include "ui/Unshaped.h"

#include <QCoreApplication>

#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace vx {

namespace {

// A label sized once for its longest text: a label whose size can change
// lays out the whole window again on every new text.
QLabel *fixedLabel(const QString &text, const QString &longest)
{
    auto *label = new QLabel(text);
    withoutShaping(label);
    label->setFixedSize(label->fontMetrics().horizontalAdvance(longest) + 4, label->sizeHint().height());
    return label;
}

QWidget *buildColumn(ValueGrid &grid, int k)
{
    // Opaque column and frame: a new value repaints the frame behind its box,
    // not the tab page and the window behind that.
    auto *column = new QWidget;
    column->setAutoFillBackground(true);
    auto *layout = new QVBoxLayout(column);
    layout->setContentsMargins(1, 1, 1, 1);
    layout->setSpacing(2);

    auto *frame = new QFrame;
    frame->setObjectName(QStringLiteral("Frame3_%1").arg(k));
    frame->setFrameShape(QFrame::StyledPanel);
    frame->setAutoFillBackground(true);
    frame->setToolTip(QCoreApplication::translate("vx", "设备地址 %1").arg(k + 1));
    auto *rows = new QGridLayout(frame);
    rows->setContentsMargins(3, 3, 3, 3);
    rows->setHorizontalSpacing(2);
    rows->setVerticalSpacing(1);
    for (int p = 1; p <= kPointsPerDevice; ++p) {
        const int index = k * kPointsPerDevice + p - 1;
        auto *label = new QLabel(QStringLiteral("%1#").arg(p));
        label->setObjectName(QStringLiteral("lblDanWei_%1").arg(index));
        auto *box = new QLineEdit(QStringLiteral("0"));
        box->setObjectName(QStringLiteral("txtValue_%1").arg(index));
        box->setReadOnly(true);
        box->setFixedWidth(58);
        box->setAlignment(Qt::AlignRight);
        withoutShaping(box);
        box->setStyle(CachedPanelStyle::shared());
        rows->addWidget(label, p - 1, 0);
        rows->addWidget(box, p - 1, 1);
        grid.lblDanWei[index] = label;
        grid.txtValue[index] = box;
    }
    layout->addWidget(frame);

    auto *stats = new QGroupBox(QCoreApplication::translate("vx", "接收统计"));
    stats->setObjectName(QStringLiteral("frmRecStat_%1").arg(k));
    auto *statsLayout = new QVBoxLayout(stats);
    statsLayout->setContentsMargins(4, 2, 4, 2);
    statsLayout->setSpacing(1);
    auto *counter = fixedLabel(QStringLiteral("0"), QStringLiteral("0000000000"));
    counter->setObjectName(QStringLiteral("lblRCounter_%1").arg(k));
    auto *time = fixedLabel(QStringLiteral("00:00:00"), QStringLiteral("00:00:00"));
    time->setObjectName(QStringLiteral("LBLrecTime_%1").arg(k));
    statsLayout->addWidget(counter);
    statsLayout->addWidget(time);
    grid.lblRCounter[k] = counter;
    grid.LBLrecTime[k] = time;
    layout->addWidget(stats);
    layout->addStretch(1);
    return column;
}

} // namespace

QWidget *ValueGrid::buildTab(int t)
{
    auto *page = new QWidget;
    auto *layout = new QHBoxLayout(page);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(2);
    for (int d = 10 * (t - 1) + 1; d <= 10 * t; ++d)
        layout->addWidget(buildColumn(*this, d - 1));
    layout->addStretch(1);
    return page;
}

void ValueGrid::showValue(int index, const QString &text)
{
    QLineEdit *box = txtValue[index];
    if (box->text() != text) // laying out a box's text is most of a reply's cost
        box->setText(text);
    QPalette palette = box->palette();
    if (palette.color(QPalette::Text) != Qt::red) {
        palette.setColor(QPalette::Text, Qt::red);
        box->setPalette(palette);
    }
}

} // namespace vx
