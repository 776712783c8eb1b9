// The ledger's schema and how a database file is brought to it. The schema version is the
// file's PRAGMA user_version: 0 for a new (empty) file, then the version of the last step
// applied. Each step takes the schema from the version before it to its own; the steps a file
// lacks run in one write transaction together with its new user_version, so a failed or
// interrupted migration leaves the file as it was. A file at a version
// newer than the last step is refused: a newer rankcheck wrote it, and this one would misread it.
//
// To change the schema, append a step to SchemaSteps(); never edit a step that has shipped.
//
// Free functions; the connection's thread.
#pragma once

#include <span>

#include "ledger/sqlite_db.h"

namespace rankcheck::ledger {

struct SchemaStep {
    int version;      // the version the step leads to: 1, 2, ...
    const char* sql;  // run with SqliteDb::Exec
};

// This program's steps, in order; the last one's version is the schema this program uses.
std::span<const SchemaStep> SchemaSteps();

// The file's user_version.
int SchemaVersion(SqliteDb& db);

// Applies the steps the file lacks and returns the version it is at afterwards. Raises
// SqliteError when the file is newer than `steps` knows, or when the steps are not numbered
// 1, 2, ... in order.
int MigrateSchema(SqliteDb& db, std::span<const SchemaStep> steps);

}  // namespace rankcheck::ledger
