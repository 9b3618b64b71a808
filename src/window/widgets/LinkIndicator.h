#pragma once

#include "core/form/Link.h"

#include <QWidget>

class QLabel;

namespace vx {

// Three 16 x 16 pictures stacked at one place (imgNotConnected red,
// ImgYellow yellow, imgConnected green); the one in front is the state.
// Not a stacked widget, and no picture is hidden: either way each switch
// asked for a layout pass, twice per exchange.
class LinkIndicator : public QWidget {
    Q_OBJECT
public:
    explicit LinkIndicator(QWidget *parent = nullptr);
    void bringToFront(Indicator indicator);
    Indicator front() const { return m_front; }

private:
    QLabel *m_images[3] = {};
    Indicator m_front = Indicator::NotConnected;
};

} // namespace vx
