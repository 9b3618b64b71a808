#include "core/store/StoreLocation.h"

#include <QUrl>
#include <QUrlQuery>

namespace vx {

QString StoreLocation::display() const
{
    if (engine == Engine::SQLite)
        return file;
    return QStringLiteral("postgresql://%1@%2:%3/%4").arg(user, host).arg(port).arg(database);
}

std::optional<StoreLocation> parseStoreLocation(const QString &text, QString *error)
{
    StoreLocation location;
    const QString trimmed = text.trimmed();
    if (!trimmed.startsWith(QLatin1String("postgresql://"), Qt::CaseInsensitive)
        && !trimmed.startsWith(QLatin1String("postgres://"), Qt::CaseInsensitive)) {
        if (trimmed.isEmpty()) {
            *error = QStringLiteral("no database named");
            return std::nullopt;
        }
        location.file = trimmed;
        return location;
    }
    location.engine = StoreLocation::Engine::PostgreSQL;
    const QUrl url(trimmed, QUrl::StrictMode);
    if (!url.isValid()) {
        *error = QStringLiteral("\"%1\" is not a URL like postgresql://user@host:5432/dbname").arg(trimmed);
        return std::nullopt;
    }
    location.user = url.userName(QUrl::FullyDecoded);
    location.password = url.password(QUrl::FullyDecoded);
    location.host = url.host(QUrl::FullyDecoded);
    location.port = url.port(5432);
    location.database = url.path(QUrl::FullyDecoded).mid(1);
    // libpq's own way to name a socket directory: ?host=/run/postgresql
    const QUrlQuery query(url);
    if (query.hasQueryItem(QStringLiteral("host")))
        location.host = query.queryItemValue(QStringLiteral("host"), QUrl::FullyDecoded);
    if (location.host.isEmpty() || location.database.isEmpty() || location.database.contains(QLatin1Char('/'))) {
        *error = QStringLiteral("\"%1\" does not name a host and a database, like postgresql://user@host:5432/dbname")
                     .arg(location.display());
        return std::nullopt;
    }
    return location;
}

} // namespace vx
