#pragma once

#include "core/store/ReadingStore.h"

#include <QDebug>

// A store from its location text (a file or a postgresql:// URL) as a site;
// nothing, and the reason in the test's log, when it cannot be opened.
inline std::unique_ptr<vx::ReadingStore> openStoreAt(const QString &location, const QString &site)
{
    QString why;
    const auto parsed = vx::parseStoreLocation(location, &why);
    auto store = parsed ? vx::ReadingStore::open(*parsed, site, &why) : nullptr;
    if (!store)
        qWarning() << location << why;
    return store;
}
