#include "core/settings/SettingTexts.h"

#include <QDateTime>
#include <QRegularExpression>

namespace vx {

std::optional<QList<int>> parseAddressRanges(const QString &text)
{
    QList<int> addresses;
    for (const QString &part : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QStringList ends = part.trimmed().split(QLatin1Char('-'));
        bool ok1 = false, ok2 = true;
        const int from = ends[0].trimmed().toInt(&ok1);
        const int to = ends.size() == 2 ? ends[1].trimmed().toInt(&ok2) : from;
        if (ends.size() > 2 || !ok1 || !ok2 || from < 1 || to > 247 || from > to)
            return std::nullopt;
        for (int a = from; a <= to; ++a)
            if (!addresses.contains(a))
                addresses << a;
    }
    if (addresses.isEmpty())
        return std::nullopt;
    return addresses;
}

std::optional<qint64> parseByteSize(const QString &text)
{
    static const QRegularExpression form(QStringLiteral("^(\\d{1,12})([kKmMgG]?)$"));
    const auto m = form.match(text.trimmed());
    if (!m.hasMatch())
        return std::nullopt;
    const QString unit = m.captured(2).toLower();
    const int shift = unit == QLatin1String("k") ? 10 : unit == QLatin1String("m") ? 20 : unit == QLatin1String("g") ? 30 : 0;
    const qint64 n = m.captured(1).toLongLong();
    if (n > (qint64(1) << (50 - shift)))
        return std::nullopt; // past a petabyte: a typing slip
    return n << shift;
}

std::optional<qint64> parseTimeArgument(const QString &text)
{
    const QString t = text.trimmed();
    const QDate day = QDate::fromString(t, Qt::ISODate);
    if (day.isValid() && t.size() == 10)
        return QDateTime(day, QTime(0, 0), Qt::LocalTime).toMSecsSinceEpoch();
    for (const char *format : {"yyyy-MM-dd HH:mm", "yyyy-MM-dd HH:mm:ss"}) {
        const QDateTime local = QDateTime::fromString(t, QString::fromLatin1(format));
        if (local.isValid())
            return local.toMSecsSinceEpoch();
    }
    // RFC 3339 needs its offset (or Z): a time without one is read above, as local.
    static const QRegularExpression zone(QStringLiteral("(Z|[+-]\\d\\d:\\d\\d)$"));
    if (t.contains(QLatin1Char('T')) && zone.match(t).hasMatch()) {
        const QDateTime when = QDateTime::fromString(t, Qt::ISODateWithMs);
        if (when.isValid())
            return when.toMSecsSinceEpoch();
    }
    return std::nullopt;
}

std::optional<HostPort> parseHostPort(const QString &text, int defaultPort, bool allowZero)
{
    static const QRegularExpression form(QStringLiteral("^(?:\\[([0-9A-Fa-f:.]+)\\]|([^:\\[\\]\\s/]+))(?::(\\d{1,5}))?$"));
    const auto m = form.match(text.trimmed());
    if (!m.hasMatch())
        return std::nullopt;
    HostPort result;
    result.host = m.captured(1).isEmpty() ? m.captured(2) : m.captured(1);
    result.port = m.captured(3).isEmpty() ? defaultPort : m.captured(3).toInt();
    if (result.port > 65535 || (result.port == 0 && !allowZero))
        return std::nullopt;
    return result;
}

} // namespace vx
