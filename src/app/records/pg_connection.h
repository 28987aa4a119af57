#pragma once
// A PostgreSQL server through libpq: a postgresql:// URI or libpq's keywords, libpq's
// environment (PGHOST, PGUSER, ...) for the rest.
#include <map>

#include "app/records/sql_connection.h"

struct pg_conn;

class TPgConnection : public TSqlConnection {
public:
    // Raises ERecordsError when the server cannot be reached or refuses the login.
    explicit TPgConnection(const std::string& target);
    ~TPgConnection() override;

    long Run(const std::string& sql, const std::vector<TSqlValue>& params = {},
             const TSqlRowHandler& rows = {}) override;
    std::string Placeholder(int n) const override { return "$" + std::to_string(n); }
    bool Postgres() const override { return true; }
    std::string Name() const override { return Shown; }

private:
    std::string Prepared(const std::string& sql, int params);

    std::string Shown;
    pg_conn* Conn = nullptr;
    std::map<std::string, std::string> Statements; // sql: its prepared statement's name
};

// A target libpq is meant for: a postgresql:// or postgres:// URI, or keywords ("host=... dbname=...").
bool IsPostgresTarget(const std::string& target);
