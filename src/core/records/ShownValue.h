#pragma once

#include <QByteArray>
#include <QString>

namespace vx {

// A value from a file, an option or the wire as it may be echoed in one line
// of a message: quoted, control characters escaped, cut to maxChars with the
// full length said. Hostile input (a 10 MB option, a 200 MB log line) never
// makes a 10 MB message.
QString shownValue(const QString &value, int maxChars = 80);
QString shownValue(const QByteArray &latin1, int maxChars = 80);

} // namespace vx
