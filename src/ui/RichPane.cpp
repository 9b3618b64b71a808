#include "ui/RichPane.h"

#include <QTextCursor>
#include <QTextEdit>

namespace vx {

void RichPane::setText(const QString &text)
{
    m_text = text;
    QString shown = text;
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    m_edit->setPlainText(shown); // the whole text in the base font and default colour
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

void RichPane::setVisible(bool visible)
{
    m_edit->setVisible(visible);
}

} // namespace vx
