#pragma once

#include <QFont>
#include <QPixmap>
#include <QProxyStyle>
#include <QRgb>

#include <array>
#include <map>
#include <vector>

namespace vx {

// The application's style, except that the frame of a line edit and a whole
// group box (frame and title) are drawn once per size, state, colours and text
// and then copied from a pixmap. The value boxes repaint on every reply, and
// drawing their rounded, shaded frame afresh each time cost more than the rest
// of the box; a group box behind a label or box that changes is repainted with
// it, and Fusion scales a whole border image and lays out the title for that.
class CachedPanelStyle : public QProxyStyle {
    Q_OBJECT
public:
    using QProxyStyle::QProxyStyle;
    ~CachedPanelStyle() override;

    // One instance for the application, on top of its style, whichever it is.
    static QStyle *shared();

    void drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                       const QWidget *widget = nullptr) const override;
    // A whole group box (frame and title) from a pixmap: the title's layout
    // and its text cost far more than copying, and a group box is repainted
    // behind every child that changes.
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex *option, QPainter *painter,
                            const QWidget *widget = nullptr) const override;

    // Everything a frame's pixels depend on.
    struct PanelKey {
        int element, width, height, ratioPercent, state, direction;
        QRgb base, window, highlight, button;
        bool operator<(const PanelKey &other) const;
    };

private:
    mutable std::map<PanelKey, QPixmap> m_panels;
    // Group boxes seen, found by a linear search: a handful in a window.
    struct GroupBoxPicture {
        std::array<int, 13> numbers;
        qint64 palette = 0;
        QString text;
        QFont font;
        QPixmap picture;
    };
    mutable std::vector<GroupBoxPicture> m_groupBoxes;
};

} // namespace vx
