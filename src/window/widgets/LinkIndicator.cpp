#include "window/widgets/LinkIndicator.h"

#include <QCoreApplication>

#include <QLabel>
#include <QPainter>
#include <QPixmap>

namespace vx {

namespace {
QPixmap lamp(const QColor &colour)
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(colour.darker(160));
    painter.setBrush(colour);
    painter.drawEllipse(QRectF(1.5, 1.5, 13, 13));
    return pixmap;
}
} // namespace

LinkIndicator::LinkIndicator(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("linkIndicator"));
    setFixedSize(16, 16);
    const struct { const char *name; QColor colour; } images[3] = {
        {"imgNotConnected", QColor(220, 0, 0)},
        {"ImgYellow", QColor(240, 200, 0)},
        {"imgConnected", QColor(0, 180, 0)},
    };
    for (int i = 0; i < 3; ++i) {
        auto *label = new QLabel(this);
        label->setGeometry(0, 0, 16, 16);
        label->setObjectName(QString::fromLatin1(images[i].name));
        label->setPixmap(lamp(images[i].colour));
        label->setToolTip(QCoreApplication::translate("vx", "数据采集通讯状态指示"));
        m_images[i] = label;
    }
    m_images[int(m_front)]->raise();
}

void LinkIndicator::bringToFront(Indicator indicator)
{
    if (indicator == m_front)
        return;
    // The pictures stay shown and the state's is raised in front: showing and
    // hiding them asked for the window's layout twice per exchange.
    m_images[int(indicator)]->raise();
    m_front = indicator;
}

} // namespace vx
