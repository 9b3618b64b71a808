#pragma once

#include "core/Link.h"

#include <QStackedWidget>

class QLabel;

namespace vx {

// Three 16 x 16 pictures stacked at one place (imgNotConnected red,
// ImgYellow yellow, imgConnected green); the one in front is the state.
class LinkIndicator : public QStackedWidget {
    Q_OBJECT
public:
    explicit LinkIndicator(QWidget *parent = nullptr);
    void bringToFront(Indicator indicator);
    Indicator front() const;

private:
    QLabel *m_images[3] = {};
};

} // namespace vx
