#include "ui/CachedPanelStyle.h"

#include <QCoreApplication>
#include <QPainter>
#include <QPointer>
#include <QPixmap>
#include <QStyleOption>

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
        QPixmap panel((QSizeF(option->rect.size()) * ratio).toSize());
        panel.setDevicePixelRatio(ratio);
        panel.fill(Qt::transparent);
        QPainter p(&panel);
        // The same option, drawn at the pixmap's origin.
        QStyleOptionFrame frame;
        if (const auto *given = qstyleoption_cast<const QStyleOptionFrame *>(option))
            frame = *given;
        else
            static_cast<QStyleOption &>(frame) = *option;
        frame.rect = QRect(QPoint(0, 0), option->rect.size());
        QProxyStyle::drawPrimitive(element, &frame, &p, widget);
        p.end();
        it = m_panels.emplace(key, panel).first;
    }
    painter->drawPixmap(option->rect.topLeft(), it->second);
}

} // namespace vx
