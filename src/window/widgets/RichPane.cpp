#include "window/widgets/RichPane.h"

#include <QTextBlock>

#include <QFontMetricsF>
#include <QTextBlockFormat>
#include <QTextCursor>
#include <QTextEdit>
#include <QTextLayout>

#include <cmath>

namespace vx {

namespace {

// The tallest line a pane in this font lays out, normal or bold: Chinese
// glyphs ("[无效]", "通道") come from a fallback font whose line is taller
// than the base font's.
qreal tallestLine(QFont font)
{
    qreal tallest = 0;
    for (bool bold : {false, true}) {
        font.setBold(bold);
        tallest = qMax(tallest, QFontMetricsF(font).lineSpacing());
        QTextLayout layout(QStringLiteral("28 FF [无效] 通道01"), font);
        layout.beginLayout();
        const QTextLine line = layout.createLine();
        layout.endLayout();
        if (line.isValid())
            tallest = qMax(tallest, line.height());
    }
    return std::ceil(tallest);
}

} // namespace

void RichPane::setText(const QString &text)
{
    m_text = text;
    QString shown = text;
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    m_edit->setPlainText(shown); // the whole text in the base font and default colour
    fixLineHeight();
}

void RichPane::fixLineHeight()
{
    // Every line of both panes gets the same fixed height, so a position
    // number stays beside its code whatever fonts the glyphs fall back to.
    QTextBlockFormat format;
    format.setLineHeight(tallestLine(m_edit->document()->defaultFont()), QTextBlockFormat::FixedHeight);
    QTextCursor cursor(m_edit->document());
    cursor.select(QTextCursor::Document);
    cursor.mergeBlockFormat(format);
}

bool RichPane::baseBold() const
{
    return m_edit->font().bold();
}

void RichPane::setBaseBold(bool bold)
{
    QFont font = m_edit->font();
    font.setBold(bold);
    m_edit->setFont(font);
    m_edit->document()->setDefaultFont(font);
    fixLineHeight();
}

void RichPane::colourFrom(int index, const QColor &colour, std::optional<bool> bold)
{
    // The document holds one character per line end where the text holds two.
    int position = 0;
    for (int i = 0; i < index && i < m_text.size(); ++i) {
        if (m_text[i] == QLatin1Char('\r') && i + 1 < m_text.size() && m_text[i + 1] == QLatin1Char('\n'))
            continue;
        ++position;
    }
    QTextCursor cursor(m_edit->document());
    cursor.setPosition(qMin(position, m_edit->document()->characterCount() - 1));
    cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    QTextCharFormat format;
    format.setForeground(colour);
    if (bold)
        format.setFontWeight(*bold ? QFont::Bold : QFont::Normal);
    cursor.mergeCharFormat(format);
}

void RichPane::markLine(int line, const QColor &colour, const QString &toolTip)
{
    const QTextBlock block = m_edit->document()->findBlockByNumber(line);
    if (!block.isValid())
        return;
    QTextCursor cursor(block);
    cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    QTextCharFormat format;
    format.setForeground(colour);
    format.setToolTip(toolTip);
    cursor.mergeCharFormat(format);
}

void RichPane::setVisible(bool visible)
{
    m_edit->setVisible(visible);
}

QString RichPane::plainText() const
{
    return m_edit->toPlainText();
}

} // namespace vx
