#include "Database.h"

#include <sqlite3.h>

#include "SqliteError.h"

namespace corvane::server {

void Database::Closer::operator()(sqlite3* database) const
{
    sqlite3_close_v2(database);
}

Database::Database(const std::filesystem::path& file)
{
    sqlite3* raw = nullptr;
    const int rc =
        sqlite3_open_v2(file.c_str(), &raw,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    m_database.reset(raw);
    if (rc != SQLITE_OK) {
        throw SqliteError("open " + file.string(), raw);
    }
    sqlite3_busy_timeout(raw, 5000);
    // WAL with full sync: a kill at any moment leaves the last committed transaction intact.
    execute("PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL; PRAGMA foreign_keys=ON;");
}

void Database::execute(std::string_view sql)
{
    const std::string text(sql);
    char* message = nullptr;
    if (sqlite3_exec(m_database.get(), text.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
        const std::string reason = message ? message : "unknown error";
        sqlite3_free(message);
        throw Error("sqlite exec failed: " + reason);
    }
}

Statement& Database::statement(const std::string& sql)
{
    auto found = m_statements.find(sql);
    if (found == m_statements.end()) {
        found = m_statements.emplace(sql, std::make_unique<Statement>(m_database.get(), sql)).first;
    }
    found->second->reset();
    return *found->second;
}

}  // namespace corvane::server
