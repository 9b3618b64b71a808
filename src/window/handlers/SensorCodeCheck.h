#pragma once

#include "core/sensors/RomCode.h"
#include "window/handlers/TextPane.h"

#include <functional>

class QLabel;

namespace vx {

struct SensorPlace;

// Checks the sensor codes a pane shows (a read's, an imported list's): each
// failing line is coloured with its reason as a tooltip, the text itself
// untouched, and the summary line under the panes counts what was found.
// Duplicates are found within the pane and against the sensor map.
class SensorCodeCheck {
public:
    using MapSource = std::function<QList<SensorPlace>()>;
    SensorCodeCheck(TextPane &pane, QLabel *summary) : m_pane(pane), m_summary(summary) {}
    void setMap(MapSource map) { m_map = std::move(map); }

    // The codes of the pane's quoted code lines, position 1 first.
    static QStringList codesOf(const QString &paneText);
    // address and channel: where the shown codes belong (a read's device and
    // channel, or where a list is to be written); 0 when unknown.
    CodeListCheck check(const QStringList &codes, int address, int channel) const;
    CodeListCheck markPane(int address, int channel);

private:
    TextPane &m_pane;
    QLabel *m_summary;
    MapSource m_map;
};

} // namespace vx
