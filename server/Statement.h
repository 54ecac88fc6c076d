#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace corvane::server {

// One prepared SQLite statement. Bind parameters count from 1, columns from 0.
// Used under the owning Database's lock only (the Store's mutex).
class Statement {
public:
    Statement(sqlite3* database, std::string_view sql);

    // Clears the previous run and its bindings.
    void reset();

    Statement& bind(int index, std::string_view value);
    Statement& bind(int index, const std::string& value)
    {
        return bind(index, std::string_view(value));
    }
    Statement& bind(int index, std::int64_t value);
    Statement& bind(int index, const std::optional<std::string>& value);
    Statement& bindNull(int index);

    // Advances to the next row; false when the statement is done.
    bool step();
    // Runs a statement that returns no rows.
    void run();

    std::string text(int column) const;
    std::optional<std::string> optionalText(int column) const;
    std::int64_t integer(int column) const;
    bool isNull(int column) const;

private:
    struct Finalizer {
        void operator()(sqlite3_stmt* statement) const;
    };

    sqlite3* m_database;
    std::unique_ptr<sqlite3_stmt, Finalizer> m_statement;
};

}  // namespace corvane::server
