#pragma once

#include <QColor>
#include <QString>

#include <optional>

class QTextEdit;

namespace vx {

// A read-only rich-text pane (txtSn, txtShowID) as the serial-number
// handlers use it: its whole text (CR LF line ends) is set at once in the
// pane's base font and default colour, and a range can then be coloured.
class RichPane {
public:
    explicit RichPane(QTextEdit *edit) : m_edit(edit) {}

    QString text() const { return m_text; }
    void setText(const QString &text);
    void append(const QString &text) { setText(m_text + text); }

    bool baseBold() const;
    void setBaseBold(bool bold);

    // Colours the text from character index (CR LF counting as two) to the
    // end, and sets its weight when bold is given.
    void colourFrom(int index, const QColor &colour, std::optional<bool> bold = std::nullopt);

    // Colours one block (line, 0-based) and gives it a tooltip; the text stays as it is.
    void markLine(int line, const QColor &colour, const QString &toolTip);

    void setVisible(bool visible);
    QTextEdit *widget() const { return m_edit; }

private:
    void fixLineHeight();

    QTextEdit *m_edit;
    QString m_text;
};

} // namespace vx
