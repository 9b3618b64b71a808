#include "window/widgets/FlatBackdrop.h"

#include <QEvent>
#include <QGroupBox>
#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <QWidget>

#include <vector>

namespace vx {

namespace {

bool paintsAllOfItself(const QWidget *widget)
{
    return widget->isWindow() || widget->testAttribute(Qt::WA_OpaquePaintEvent)
        || (widget->autoFillBackground() && widget->palette().brush(widget->backgroundRole()).isOpaque());
}

} // namespace

void FlatBackdrop::apply(QWidget *widget)
{
    if (!widget->findChild<FlatBackdrop *>(QString(), Qt::FindDirectChildrenOnly))
        new FlatBackdrop(widget);
}

QColor FlatBackdrop::colourBehind(const QWidget *widget)
{
    const auto *backdrop = widget->findChild<FlatBackdrop *>(QString(), Qt::FindDirectChildrenOnly);
    return backdrop ? backdrop->m_colour : QColor();
}

FlatBackdrop::FlatBackdrop(QWidget *widget) : QObject(widget), m_widget(widget)
{
    widget->installEventFilter(this);
}

QVector<qint64> FlatBackdrop::keyNow() const
{
    // Everything up to the window that what is drawn behind the widget depends on.
    QVector<qint64> key;
    key.reserve(m_key.size() > 0 ? m_key.size() : 96);
    key << qint64(m_widget->window()->isActiveWindow());
    for (const QWidget *w = m_widget; w; w = w->isWindow() ? nullptr : w->parentWidget()) {
        const QRect g = w->geometry();
        // A new font reaches the widget as an event (see eventFilter), and
        // hashing fonts on every paint cost more than the rest of this key.
        key << g.x() << g.y() << g.width() << g.height() << w->palette().cacheKey() << qint64(quintptr(w->style()))
            << qint64(w->isEnabled()) << qint64(w->autoFillBackground()) << qint64(w->backgroundRole());
        if (const auto *box = qobject_cast<const QGroupBox *>(w))
            key << qint64(qHash(box->title())) << qint64(box->isCheckable()) << qint64(box->isChecked());
    }
    return key;
}

QColor FlatBackdrop::findColour() const
{
    // The ancestors, from the first that paints all of itself down to the
    // parent, each drawn without its children where the widget is.
    std::vector<const QWidget *> chain;
    for (const QWidget *w = m_widget->parentWidget(); w; w = w->parentWidget()) {
        chain.push_back(w);
        if (paintsAllOfItself(w))
            break;
    }
    if (chain.empty() || !paintsAllOfItself(chain.back()))
        return {};
    // A sibling below the widget or below an ancestor, overlapping it, would
    // be drawn behind it too: not a flat backdrop then.
    for (const QWidget *child = m_widget; child != chain.back(); child = child->parentWidget()) {
        const QWidget *parent = child->parentWidget();
        const QRect where(child->mapTo(parent, QPoint()), child->size());
        for (const QObject *o : parent->children()) {
            if (o == child)
                break;
            const auto *sibling = qobject_cast<const QWidget *>(o);
            if (sibling && sibling->isVisible() && !sibling->isWindow() && sibling->geometry().intersects(where))
                return {};
        }
    }
    const qreal ratio = m_widget->devicePixelRatioF();
    QImage behind((QSizeF(m_widget->size()) * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
    behind.setDevicePixelRatio(ratio);
    behind.fill(Qt::transparent);
    {
        QPainter painter(&behind);
        for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
            const QWidget *ancestor = *it;
            const QRect where(m_widget->mapTo(ancestor, QPoint()), m_widget->size());
            const QWidget::RenderFlags flags = it == chain.rbegin() ? QWidget::DrawWindowBackground : QWidget::RenderFlags();
            const_cast<QWidget *>(ancestor)->render(&painter, QPoint(), QRegion(where), flags);
        }
    }
    const QRgb first = behind.pixel(0, 0);
    if (qAlpha(first) != 255)
        return {};
    for (int y = 0; y < behind.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(behind.constScanLine(y));
        for (int x = 0; x < behind.width(); ++x)
            if (line[x] != first)
                return {};
    }
    return QColor::fromRgba(first);
}

void FlatBackdrop::refresh()
{
    QVector<qint64> key = keyNow();
    if (key == m_key)
        return;
    m_key = std::move(key);
    const QColor colour = findColour();
    const bool wasOpaque = m_colour.isValid();
    m_colour = colour;
    m_widget->setAttribute(Qt::WA_OpaquePaintEvent, colour.isValid());
    if (wasOpaque && !colour.isValid() && m_widget->parentWidget()) // what was skipped behind it, drawn after all
        m_widget->parentWidget()->update(m_widget->geometry());
}

bool FlatBackdrop::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_widget)
        return false;
    switch (event->type()) {
    case QEvent::FontChange: // the widget's, or one it inherits
    case QEvent::StyleChange:
        m_key.clear();
        break;
    case QEvent::Show:
        refresh();
        break;
    case QEvent::Paint:
        refresh();
        if (m_colour.isValid()) {
            QPainter painter(m_widget);
            painter.fillRect(static_cast<QPaintEvent *>(event)->rect(), m_colour);
        }
        break;
    default:
        break;
    }
    return false;
}

} // namespace vx
