#pragma once

#include <QColor>
#include <QString>

#include <optional>

namespace vx {

// A read-only rich-text pane (txtSn, txtShowID) as the serial-number
// handlers use it: its whole text (CR LF line ends) is set at once in the
// pane's base font and default colour, and a range can then be coloured.
// The window implements it over its text edits.
class TextPane {
public:
    virtual ~TextPane() = default;
    // The text as last set (CR LF line ends).
    virtual QString text() const = 0;
    virtual void setText(const QString &text) = 0;
    void append(const QString &more) { setText(text() + more); }
    // What the pane shows, lines split by LF.
    virtual QString plainText() const = 0;
    virtual void setBaseBold(bool bold) = 0;
    // Colours the text from character index (CR LF counting as two) to the
    // end, and sets its weight when bold is given.
    virtual void colourFrom(int index, const QColor &colour, std::optional<bool> bold = std::nullopt) = 0;
    // Colours one block (line, 0-based) and gives it a tooltip; the text stays as it is.
    virtual void markLine(int line, const QColor &colour, const QString &toolTip) = 0;
    virtual void setVisible(bool visible) = 0;
};

} // namespace vx
