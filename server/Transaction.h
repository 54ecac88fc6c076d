#pragma once

namespace corvane::server {

class Database;

// BEGIN IMMEDIATE on construction; rolls back on destruction unless commit() ran.
// Same thread rules as the Database.
class Transaction {
public:
    explicit Transaction(Database& database);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    void commit();

private:
    Database& m_database;
    bool m_done = false;
};

}  // namespace corvane::server
