#pragma once

#include <QColor>
#include <QObject>
#include <QVector>

class QWidget;

namespace vx {

// Makes a widget that changes on every reply (a counter, a status text) count
// as opaque when what lies behind it is one flat colour (inside a group box,
// away from its frame and title): the widget fills its rectangle with that
// colour before it paints, and a new text repaints it alone. Left as it is,
// every new text repainted the group box behind it too, and Qt worked out
// one region from the window down for all such widgets together.
// What lies behind is found by drawing the widget's ancestors there, once,
// and again whenever the widget, an ancestor or their palettes, styles or
// fonts change; when it is not one colour the widget is painted as before.
class FlatBackdrop : public QObject {
    Q_OBJECT
public:
    static void apply(QWidget *widget);
    // The colour found, invalid while the backdrop is not flat or not yet known.
    static QColor colourBehind(const QWidget *widget);

    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    explicit FlatBackdrop(QWidget *widget);
    QVector<qint64> keyNow() const;
    void refresh();
    QColor findColour() const;

    QWidget *m_widget;
    QVector<qint64> m_key; // what m_colour was found for
    QColor m_colour;
};

} // namespace vx
