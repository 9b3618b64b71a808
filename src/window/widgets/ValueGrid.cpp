#include "window/widgets/ValueGrid.h"

#include "window/widgets/CachedPanelStyle.h"
#include "window/widgets/FlatBackdrop.h"
#include "window/widgets/Unshaped.h"

#include <QCoreApplication>

#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QHash>
#include <QLineEdit>
#include <QPainter>
#include <QPaintEvent>
#include <QPixmap>
#include <QStaticText>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTextLayout>
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
        auto *box = new ValueBox(QStringLiteral("0"));
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
    FlatBackdrop::apply(counter); // both change with every reply of this column's device
    FlatBackdrop::apply(time);
    statsLayout->addWidget(counter);
    statsLayout->addWidget(time);
    grid.lblRCounter[k] = counter;
    grid.LBLrecTime[k] = time;
    layout->addWidget(stats);
    layout->addStretch(1);
    return column;
}

} // namespace

// Values repeat, in a box and across boxes. Bounded: a few thousand values
// cover a store's range.
struct ValueBox::LaidOutTexts {
    // A box's text as the line edit lays it out: one line, trailing blanks kept.
    struct Text {
        QStaticText glyphs;
        int widthUsed = 0; // the line edit's measure of its text: natural width, rounded, plus one
        int height = 0;    // the text's bounding height, at least a line's
        int ascentShift = 0;
    };
    QHash<QString, Text> texts;
    QFont font;
    Qt::LayoutDirection direction = Qt::LeftToRight;

    const Text &of(const QString &text, const QFont &textFont, Qt::LayoutDirection textDirection);
};

const ValueBox::LaidOutTexts::Text &ValueBox::LaidOutTexts::of(const QString &text, const QFont &textFont, Qt::LayoutDirection textDirection)
{
    if (!(textFont == font) || textDirection != direction || texts.size() >= 4096) {
        texts.clear();
        font = textFont;
        direction = textDirection;
    }
    auto it = texts.constFind(text);
    if (it != texts.constEnd())
        return *it;
    QTextOption option;
    option.setTextDirection(direction);
    option.setFlags(QTextOption::IncludeTrailingSpaces);
    QTextLayout layout(text, font);
    layout.setTextOption(option);
    layout.beginLayout();
    const QTextLine line = layout.createLine();
    layout.endLayout();
    const QFontMetrics metrics(font);
    Text laid;
    laid.widthUsed = qRound(line.naturalTextWidth()) + 1;
    laid.height = qMax(metrics.boundingRect(text).height(), metrics.height());
    laid.ascentShift = qRound(line.ascent()) - metrics.ascent();
    laid.glyphs.setText(text);
    laid.glyphs.setTextFormat(Qt::PlainText);
    laid.glyphs.setTextOption(option);
    laid.glyphs.prepare(QTransform(), font);
    return *texts.insert(text, laid);
}

namespace {

// The line edit's own margins around its text line.
constexpr int kLineEditHorizontalMargin = 2;

} // namespace

ValueBox::ValueBox(const QString &text, QWidget *parent) : QLineEdit(text, parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    static std::weak_ptr<LaidOutTexts> shared; // the boxes alive share one
    m_texts = shared.lock();
    if (!m_texts) {
        m_texts = std::make_shared<LaidOutTexts>();
        shared = m_texts;
    }
}

bool ValueBox::paintsItself() const
{
    // Only the line edit's vertically centred, left-to-right case is drawn as it would.
    const Qt::Alignment vertical = alignment() & Qt::AlignVertical_Mask;
    return !m_asLineEdit && !hasFocus() && !hasSelectedText() && echoMode() == QLineEdit::Normal && !text().isEmpty()
        && isReadOnly() && styleSheet().isEmpty() && actions().isEmpty() && (!vertical || vertical == Qt::AlignVCenter)
        && layoutDirection() == Qt::LeftToRight;
}

void ValueBox::showText(const QString &text)
{
    if (!m_unlaidOut && !isVisible() && echoMode() == QLineEdit::Normal) {
        setEchoMode(QLineEdit::NoEcho);
        m_unlaidOut = true;
    }
    setText(text);
}

void ValueBox::layOutAgain()
{
    if (m_unlaidOut) {
        m_unlaidOut = false;
        setEchoMode(QLineEdit::Normal);
    }
}

void ValueBox::showEvent(QShowEvent *event)
{
    layOutAgain(); // before anything asks where its characters are
    QLineEdit::showEvent(event);
}

void ValueBox::paintEvent(QPaintEvent *event)
{
    layOutAgain(); // painted out of sight: grabbed or rendered
    QPainter painter(this);
    // What the parent would have painted here: its background, a flat fill
    // (the column frame fills itself, tinted while its cable is silent).
    if (const QWidget *parent = parentWidget()) {
        painter.setBrushOrigin(-pos());
        painter.fillRect(event->rect(), parent->palette().brush(parent->backgroundRole()));
        painter.setBrushOrigin(QPoint());
    }
    if (!paintsItself()) {
        painter.end();
        QLineEdit::paintEvent(event);
        return;
    }
    // As the line edit places its text.
    const Qt::Alignment aligned = QStyle::visualAlignment(layoutDirection(), alignment());
    QStyleOptionFrame panel;
    initStyleOption(&panel);
    QRect contents = style()->subElementRect(QStyle::SE_LineEditContents, &panel, this).marginsRemoved(textMargins());
    const LaidOutTexts::Text &laid = m_texts->of(text(), font(), layoutDirection());
    const int top = contents.y() + (contents.height() - laid.height + 1) / 2;
    const QRect line(contents.x() + kLineEditHorizontalMargin, top, contents.width() - 2 * kLineEditHorizontalMargin,
                     laid.height);
    if (laid.widthUsed > line.width()) { // scrolled: the line edit's own affair
        painter.end();
        QLineEdit::paintEvent(event);
        return;
    }
    int scroll = 0;
    switch (aligned & Qt::AlignHorizontal_Mask & ~Qt::AlignAbsolute) {
    case Qt::AlignRight: scroll = laid.widthUsed - line.width() + 1; break;
    case Qt::AlignHCenter: scroll = (laid.widthUsed - line.width()) / 2; break;
    default: break;
    }
    style()->drawPrimitive(QStyle::PE_PanelLineEdit, &panel, &painter, this);
    painter.setClipRect(contents);
    painter.setPen(palette().text().color());
    painter.drawStaticText(line.topLeft() - QPoint(scroll, laid.ascentShift), laid.glyphs);
}

void ValueBox::paintAsLineEditOnce()
{
    if (!paintsItself() || !isVisible())
        return;
    m_asLineEdit = true;
    QPixmap scratch(size());
    render(&scratch);
    m_asLineEdit = false;
}

void ValueBox::mousePressEvent(QMouseEvent *event)
{
    paintAsLineEditOnce();
    QLineEdit::mousePressEvent(event);
}

void ValueBox::mouseDoubleClickEvent(QMouseEvent *event)
{
    paintAsLineEditOnce();
    QLineEdit::mouseDoubleClickEvent(event);
}

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
    ValueBox *box = txtValue[index];
    if (box->text() != text) // laying out a box's text is most of a reply's cost
        box->showText(text);
    QPalette palette = box->palette();
    if (palette.color(QPalette::Text) != Qt::red) {
        palette.setColor(QPalette::Text, Qt::red);
        box->setPalette(palette);
    }
}

void ValueGrid::setReplyCount(int column, const QString &text)
{
    lblRCounter[std::size_t(column)]->setText(text);
}

void ValueGrid::setReplyTime(int column, const QString &text)
{
    LBLrecTime[std::size_t(column)]->setText(text);
}

void ValueGrid::zeroAll()
{
    for (QLabel *counter : lblRCounter)
        counter->setText(QStringLiteral("0"));
    for (QLineEdit *box : txtValue)
        box->setText(QStringLiteral("0"));
}

} // namespace vx
