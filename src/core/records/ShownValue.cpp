#include "core/records/ShownValue.h"

namespace vx {

QString shownValue(const QString &value, int maxChars)
{
    QString shown;
    for (const QChar c : value.left(maxChars)) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            shown += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    shown = QLatin1Char('"') + shown + QLatin1Char('"');
    if (value.size() > maxChars)
        shown += QStringLiteral(" (%1 characters in all)").arg(value.size());
    return shown;
}

QString shownValue(const QByteArray &latin1, int maxChars)
{
    QString shown = shownValue(QString::fromLatin1(latin1.left(maxChars)), maxChars);
    if (latin1.size() > maxChars)
        shown += QStringLiteral(" (%1 bytes in all)").arg(latin1.size());
    return shown;
}

} // namespace vx
