#pragma once

#include "window/handlers/TextPane.h"

#include <QColor>
#include <QString>

#include <optional>

class QTextEdit;

namespace vx {

// The serial-number handlers' text pane over a QTextEdit. Each handler has a
// pane object of its own over the same edit, as it always had: each keeps
// the text it last set.
class RichPane final : public TextPane {
public:
    explicit RichPane(QTextEdit *edit) : m_edit(edit) {}

    QString text() const override { return m_text; }
    void setText(const QString &text) override;
    QString plainText() const override;

    bool baseBold() const;
    void setBaseBold(bool bold) override;
    void colourFrom(int index, const QColor &colour, std::optional<bool> bold = std::nullopt) override;
    void markLine(int line, const QColor &colour, const QString &toolTip) override;
    void setVisible(bool visible) override;
    QTextEdit *widget() const { return m_edit; }

private:
    void fixLineHeight();

    QTextEdit *m_edit;
    QString m_text;
};

} // namespace vx
