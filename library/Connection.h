#pragma once

// The library's connection, shared by the files that make up the Library class.

#include "Sqlite.h"
#include "library/Library.h"

namespace library {

struct Library::Connection {
    sql::Database db;
};

// "/a/b" and "/a/b/c" are under "/a/b"; "/a/bc" is not. The bounds of the paths under a
// folder, for a range query on an index: [folder + "/", folder + "0").
inline std::string lowerBoundUnder(const std::string& folder) { return folder == "/" ? "/" : folder + "/"; }
inline std::string upperBoundUnder(const std::string& folder) { return folder == "/" ? "0" : folder + "0"; }

}  // namespace library
