#pragma once
// An SQLite database file: WAL, so readers and several stations on one computer share it,
// and a busy time-out, so a writer waits for another instead of failing.
#include <map>
#include <memory>

#include "app/records/sql_connection.h"

struct sqlite3;
struct sqlite3_stmt;

class TSqliteConnection : public TSqlConnection {
public:
    // Creates the file when it does not exist; raises ERecordsError naming it (a directory,
    // device or FIFO is refused).
    // create false: a file that does not exist is an error.
    explicit TSqliteConnection(const std::string& path, bool create = true);
    ~TSqliteConnection() override;

    long Run(const std::string& sql, const std::vector<TSqlValue>& params = {},
             const TSqlRowHandler& rows = {}) override;
    std::string Placeholder(int n) const override { return "?" + std::to_string(n); }
    bool Postgres() const override { return false; }
    std::string Name() const override { return Path; }

private:
    sqlite3_stmt* Prepared(const std::string& sql);
    [[noreturn]] void Fail(const std::string& what) const;

    std::string Path;
    sqlite3* Db = nullptr;
    std::map<std::string, sqlite3_stmt*> Statements;
};
