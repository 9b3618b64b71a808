#include "window/widgets/CachedPanelStyle.h"

#include <QCoreApplication>
#include <QPainter>
#include <QPointer>
#include <QPixmap>
#include <QStyleOption>

#include <algorithm>
#include <tuple>

namespace vx {

namespace {

using PanelKey = CachedPanelStyle::PanelKey;

PanelKey keyOf(QStyle::PrimitiveElement element, const QStyleOption &option, qreal ratio)
{
    const QPalette &p = option.palette;
    const QStyle::State relevant = option.state
        & (QStyle::State_Enabled | QStyle::State_HasFocus | QStyle::State_MouseOver | QStyle::State_ReadOnly
           | QStyle::State_Sunken | QStyle::State_Active);
    return {int(element), option.rect.width(), option.rect.height(), int(ratio * 100), int(relevant), int(option.direction),
            p.color(QPalette::Base).rgba(), p.color(QPalette::Window).rgba(), p.color(QPalette::Highlight).rgba(),
            p.color(QPalette::Button).rgba()};
}

// Frames of every size, state and colours seen; a handful in practice.
constexpr std::size_t kMaxPanels = 64;

// A transparent pixmap of size drawn by draw(), with the painter's font, pen,
// brush, hints and direction.
template <typename Draw>
QPixmap picture(const QSize &size, qreal ratio, const QPainter *like, Draw draw)
{
    QPixmap pixmap((QSizeF(size) * ratio).toSize());
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setFont(like->font());
    p.setPen(like->pen());
    p.setBrush(like->brush());
    p.setRenderHints(like->renderHints());
    p.setLayoutDirection(like->layoutDirection());
    draw(p);
    return pixmap;
}

} // namespace

bool CachedPanelStyle::PanelKey::operator<(const PanelKey &o) const
{
    return std::tie(element, width, height, ratioPercent, state, direction, base, window, highlight, button)
        < std::tie(o.element, o.width, o.height, o.ratioPercent, o.state, o.direction, o.base, o.window, o.highlight, o.button);
}

CachedPanelStyle::~CachedPanelStyle() = default;

QStyle *CachedPanelStyle::shared()
{
    static QPointer<CachedPanelStyle> style;
    if (!style) {
        style = new CachedPanelStyle;
        style->setParent(QCoreApplication::instance());
    }
    return style;
}

void CachedPanelStyle::drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                                     const QWidget *widget) const
{
    if ((element != PE_PanelLineEdit && element != PE_FrameGroupBox) || !option || option->rect.isEmpty()) {
        QProxyStyle::drawPrimitive(element, option, painter, widget);
        return;
    }
    const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
    const PanelKey key = keyOf(element, *option, ratio);
    auto it = m_panels.find(key);
    if (it == m_panels.end()) {
        if (m_panels.size() >= kMaxPanels)
            m_panels.clear();
        const QPixmap panel = picture(option->rect.size(), ratio, painter, [&](QPainter &p) {
            // The same option, drawn at the pixmap's origin.
            QStyleOptionFrame frame;
            if (const auto *given = qstyleoption_cast<const QStyleOptionFrame *>(option))
                frame = *given;
            else
                static_cast<QStyleOption &>(frame) = *option;
            frame.rect = QRect(QPoint(0, 0), option->rect.size());
            QProxyStyle::drawPrimitive(element, &frame, &p, widget);
        });
        it = m_panels.emplace(key, panel).first;
    }
    painter->drawPixmap(option->rect.topLeft(), it->second);
}

void CachedPanelStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex *option, QPainter *painter,
                                          const QWidget *widget) const
{
    const auto *box = qstyleoption_cast<const QStyleOptionGroupBox *>(option);
    if (control != CC_GroupBox || !box || box->rect.isEmpty() || !painter->device()) {
        QProxyStyle::drawComplexControl(control, option, painter, widget);
        return;
    }
    const qreal ratio = painter->device()->devicePixelRatioF();
    // Everything the pixels depend on: the option, and the painter's font and hints.
    GroupBoxPicture wanted;
    wanted.numbers = {box->rect.width(), box->rect.height(), int(ratio * 100), int(box->state), int(box->subControls),
                      int(box->activeSubControls), int(box->features), int(box->textAlignment), box->lineWidth,
                      box->midLineWidth, int(box->direction), int(box->textColor.rgba()), int(painter->renderHints())};
    wanted.palette = box->palette.cacheKey();
    wanted.text = box->text;
    wanted.font = painter->font();
    auto it = std::find_if(m_groupBoxes.begin(), m_groupBoxes.end(), [&](const GroupBoxPicture &known) {
        return known.numbers == wanted.numbers && known.palette == wanted.palette && known.text == wanted.text
            && known.font == wanted.font;
    });
    if (it == m_groupBoxes.end()) {
        if (m_groupBoxes.size() >= kMaxPanels)
            m_groupBoxes.clear();
        wanted.picture = picture(box->rect.size(), ratio, painter, [&](QPainter &p) {
            QStyleOptionGroupBox atOrigin = *box;
            atOrigin.rect = QRect(QPoint(0, 0), box->rect.size());
            QProxyStyle::drawComplexControl(control, &atOrigin, &p, widget);
        });
        m_groupBoxes.push_back(wanted);
        it = m_groupBoxes.end() - 1;
    }
    painter->drawPixmap(box->rect.topLeft(), it->picture);
}

} // namespace vx
