#include "Statement.h"

#include <sqlite3.h>

#include "SqliteError.h"

namespace corvane::server {

void Statement::Finalizer::operator()(sqlite3_stmt* statement) const
{
    sqlite3_finalize(statement);
}

Statement::Statement(sqlite3* database, std::string_view sql) : m_database(database)
{
    sqlite3_stmt* raw = nullptr;
    const int rc =
        sqlite3_prepare_v2(database, sql.data(), static_cast<int>(sql.size()), &raw, nullptr);
    m_statement.reset(raw);
    if (rc != SQLITE_OK) {
        throw SqliteError("prepare", database);
    }
}

void Statement::reset()
{
    sqlite3_reset(m_statement.get());
    sqlite3_clear_bindings(m_statement.get());
}

Statement& Statement::bind(int index, std::string_view value)
{
    if (sqlite3_bind_text(m_statement.get(), index, value.data(), static_cast<int>(value.size()),
                          SQLITE_TRANSIENT) != SQLITE_OK) {
        throw SqliteError("bind", m_database);
    }
    return *this;
}

Statement& Statement::bind(int index, std::int64_t value)
{
    if (sqlite3_bind_int64(m_statement.get(), index, value) != SQLITE_OK) {
        throw SqliteError("bind", m_database);
    }
    return *this;
}

Statement& Statement::bind(int index, const std::optional<std::string>& value)
{
    return value ? bind(index, std::string_view(*value)) : bindNull(index);
}

Statement& Statement::bindNull(int index)
{
    if (sqlite3_bind_null(m_statement.get(), index) != SQLITE_OK) {
        throw SqliteError("bind", m_database);
    }
    return *this;
}

bool Statement::step()
{
    const int rc = sqlite3_step(m_statement.get());
    if (rc == SQLITE_ROW) {
        return true;
    }
    if (rc == SQLITE_DONE) {
        return false;
    }
    throw SqliteError("step", m_database);
}

void Statement::run()
{
    while (step()) {
    }
}

std::string Statement::text(int column) const
{
    const auto* bytes = sqlite3_column_text(m_statement.get(), column);
    const int size = sqlite3_column_bytes(m_statement.get(), column);
    return bytes ? std::string(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(size))
                 : std::string();
}

std::optional<std::string> Statement::optionalText(int column) const
{
    if (isNull(column)) {
        return std::nullopt;
    }
    return text(column);
}

std::int64_t Statement::integer(int column) const
{
    return sqlite3_column_int64(m_statement.get(), column);
}

bool Statement::isNull(int column) const
{
    return sqlite3_column_type(m_statement.get(), column) == SQLITE_NULL;
}

}  // namespace corvane::server
