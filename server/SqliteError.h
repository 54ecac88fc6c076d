#pragma once

#include <string>

#include "Platform/Error.h"

struct sqlite3;

namespace corvane::server {

// A failed SQLite call; the description names the step and carries SQLite's message.
class SqliteError : public Error {
public:
    SqliteError(const std::string& step, sqlite3* database);
};

}  // namespace corvane::server
