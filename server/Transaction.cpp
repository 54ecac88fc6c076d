#include "Transaction.h"

#include "Database.h"

namespace corvane::server {

Transaction::Transaction(Database& database) : m_database(database)
{
    m_database.execute("BEGIN IMMEDIATE");
}

Transaction::~Transaction()
{
    if (!m_done) {
        try {
            m_database.execute("ROLLBACK");
        } catch (...) {
            // A failed rollback leaves SQLite to roll back on the next open; nothing else to do.
        }
    }
}

void Transaction::commit()
{
    m_database.execute("COMMIT");
    m_done = true;
}

}  // namespace corvane::server
