#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "Statement.h"

struct sqlite3;

namespace corvane::server {

// One SQLite connection in WAL mode with a cache of prepared statements.
// Not thread-safe: the Store serialises every use behind its mutex.
class Database {
public:
    explicit Database(const std::filesystem::path& file);
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // Runs one or more statements without results (schema, pragmas, BEGIN/COMMIT).
    void execute(std::string_view sql);

    // The cached prepared statement for this SQL text, reset and without bindings.
    Statement& statement(const std::string& sql);

private:
    struct Closer {
        void operator()(sqlite3* database) const;
    };

    std::unique_ptr<sqlite3, Closer> m_database;
    std::map<std::string, std::unique_ptr<Statement>, std::less<>> m_statements;
};

}  // namespace corvane::server
