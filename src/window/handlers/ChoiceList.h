#pragma once

#include <QString>

namespace vx {

// A list to choose from that also takes typed text (the port and baud-rate
// lists), as the port settings use it. The window implements it over its
// combo boxes and tells the handler when the operator chose an item.
class ChoiceList {
public:
    virtual ~ChoiceList() = default;
    virtual int count() const = 0;
    virtual QString itemText(int index) const = 0;
    virtual int currentIndex() const = 0;
    // The item chosen from the list, or -1 once the operator typed instead.
    virtual int listIndex() const = 0;
    virtual int findItem(const QString &text) const = 0;
    // Selects an item as if the operator had chosen it (no notice of it).
    virtual void choose(int index) = 0;
    virtual void setItemToolTip(int index, const QString &text) = 0;
    virtual void setListToolTip(const QString &text) = 0;
};

} // namespace vx
