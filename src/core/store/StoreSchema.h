#pragma once

#include "core/store/StoreLocation.h"

#include <QSqlDatabase>
#include <QStringList>

namespace vx {

// One step of the schema: the statements that take version n - 1 to version n.
struct Migration {
    int version;
    QStringList statements;
};

// The ordered steps for an engine; the last one's version is what this program writes.
QList<Migration> storeMigrations(StoreLocation::Engine engine);

// What to do with a database found at version `found` when the program knows `known`.
struct SchemaPlan {
    bool refused = false;   // the database is newer than the program: leave it alone
    QList<int> toApply;     // versions, in order
};
SchemaPlan planSchema(int found, const QList<Migration> &migrations);

// Brings the database to the last version of `migrations`, one transaction a
// step, safe against another program doing the same at once; refuses a newer
// database without changing it. False and *error on failure.
bool migrateSchema(QSqlDatabase &db, const QList<Migration> &migrations, QString *error);

} // namespace vx
