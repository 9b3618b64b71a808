#pragma once

#include <QPixmap>
#include <QProxyStyle>
#include <QRgb>

#include <map>

namespace vx {

// The application's style, except that the frame of a line edit and of a
// group box is drawn once per size, state and colours and then copied from a
// pixmap. The value boxes repaint on every reply, and drawing their rounded,
// shaded frame afresh each time cost more than the rest of the box; a group
// box behind a label or box that changes is repainted with it, and Fusion
// scales a whole border image for that.
class CachedPanelStyle : public QProxyStyle {
    Q_OBJECT
public:
    using QProxyStyle::QProxyStyle;
    ~CachedPanelStyle() override;

    // One instance for the application, on top of its style, whichever it is.
    static QStyle *shared();

    void drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                       const QWidget *widget = nullptr) const override;

    // Everything a frame's pixels depend on.
    struct PanelKey {
        int element, width, height, ratioPercent, state, direction;
        QRgb base, window, highlight, button;
        bool operator<(const PanelKey &other) const;
    };

private:
    mutable std::map<PanelKey, QPixmap> m_panels;
};

} // namespace vx
