#pragma once

// The database's tables, by version. The version is the database's user_version; each
// step takes a database of the version before it to its own, inside the transaction that
// also sets the new version, so a database is always at one version or the next.

#include "Sqlite.h"

namespace library {

constexpr int kSchemaVersion = 1;

// Brings a database of version `from` (0: new and empty) to kSchemaVersion. False, with
// the database's error, when a step fails; the database is then still at a version.
bool migrateSchema(sql::Database& db, int from);

}  // namespace library
