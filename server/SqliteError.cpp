#include "SqliteError.h"

#include <sqlite3.h>

namespace corvane::server {

SqliteError::SqliteError(const std::string& step, sqlite3* database)
    : Error("sqlite " + step + " failed: " +
            (database ? std::string(sqlite3_errmsg(database)) : std::string("out of memory")))
{
}

}  // namespace corvane::server
