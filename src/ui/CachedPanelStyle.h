#pragma once

#include <QPixmap>
#include <QProxyStyle>
#include <QRgb>

#include <map>

namespace vx {

// The application's style, except that the frame of a line edit is drawn
// once per size, state and colours and then copied from a pixmap. The value
// boxes repaint on every reply, and drawing their rounded, shaded frame
// afresh each time cost more than the rest of the box.
class CachedPanelStyle : public QProxyStyle {
    Q_OBJECT
public:
    using QProxyStyle::QProxyStyle;
    ~CachedPanelStyle() override;

    void drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                       const QWidget *widget = nullptr) const override;

    // Everything a frame's pixels depend on.
    struct PanelKey {
        int width, height, ratioPercent, state, direction;
        QRgb base, window, highlight, button;
        bool operator<(const PanelKey &other) const;
    };

private:
    mutable std::map<PanelKey, QPixmap> m_panels;
};

} // namespace vx
