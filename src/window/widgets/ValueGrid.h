#pragma once

#include "core/form/FormState.h"
#include "window/handlers/GridView.h"

#include <QLineEdit>
#include <QString>

#include <array>
#include <memory>

class QLabel;
class QWidget;

namespace vx {

// A value box paints its column's flat background under its rounded corners
// itself and so counts as opaque: a new value repaints the box alone, where
// before it repainted the column behind it and everything up to the window
// with it, in one region with every other box that changed.
// Unfocused and without a selection it draws its text as a line edit does
// (same place, same glyphs) from a text laid out once per value and font
// for every box: laying out and drawing the text each time was most of what
// repainting a box cost. Anything else is painted by the line edit itself.
class ValueBox : public QLineEdit {
public:
    explicit ValueBox(const QString &text, QWidget *parent = nullptr);

    // False when the line edit's own painting is used (a focused box, a
    // selection, a text wider than the box, ...).
    bool paintsItself() const;

    // A new value. A line edit lays out its text on every setText, and three
    // of the four tabs of boxes are out of sight: a box out of sight keeps
    // its text without laying it out (echo off) until it is shown or painted.
    void showText(const QString &text);

protected:
    void showEvent(QShowEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

    // Texts laid out once for every box of a window, kept while a box lives:
    // what they hold refers to fonts, which must go before the application.
    struct LaidOutTexts;

private:
    // The line edit keeps, from its last paint, where its text is; a click
    // finds the character under it from that.
    void paintAsLineEditOnce();
    void layOutAgain();
    bool m_asLineEdit = false;
    bool m_unlaidOut = false; // echo turned off by showText, not by a caller
    std::shared_ptr<LaidOutTexts> m_texts;
};

// The value grid of tabs 1 to 4: ten device columns per tab, 18 measuring
// points per column, a reply counter and a reply time under each column.
// Point p (1..18) of device d (1..40) is txtValue[(d - 1) * 18 + (p - 1)].
struct ValueGrid final : GridView {
    std::array<ValueBox *, kValueBoxes> txtValue{};
    std::array<QLabel *, kValueBoxes> lblDanWei{};
    std::array<QLabel *, kDeviceColumns> lblRCounter{};
    std::array<QLabel *, kDeviceColumns> LBLrecTime{};

    static constexpr int boxIndex(int device, int point) { return gridIndex(device, point); }

    // Builds the page of tab t (1..4): devices 10(t-1)+1 .. 10t, lowest at the left.
    QWidget *buildTab(int t);

    void showValue(int index, const QString &text) override;
    void setReplyCount(int column, const QString &text) override;
    void setReplyTime(int column, const QString &text) override;
    void zeroAll() override;
};

} // namespace vx
