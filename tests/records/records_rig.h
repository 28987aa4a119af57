#pragma once
// Records databases for the tests: SQLite files in a temporary folder and, where the
// PostgreSQL server is installed, one throw-away server for the whole run with a database
// per test.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/records/pg_connection.h"
#include "cli_rig.h"

namespace recordstest {

class TPgServer {
public:
    // The one server of this run, started on first use; nullptr (said once) where none is installed.
    static TPgServer* Get();
    ~TPgServer();
    // A new empty database; libpq keywords that reach it as user.
    std::string NewDatabase(const std::string& user = "postgres");
    // Runs statements as the server's superuser in database (keywords from NewDatabase).
    void Run(const std::string& target, const std::vector<std::string>& statements);
    void Stop();
    void Start();

private:
    clitest::TempDir Dir;
    std::string Keywords; // the postgres database as its superuser
    int Databases = 0;
};

// The backends a test runs on: "sqlite" always, "postgresql" where a server is.
std::vector<std::string> Backends();

// A new empty records target of backend, in dir for SQLite.
std::string NewTarget(const std::string& backend, const clitest::TempDir& dir, const std::string& name);

// Runs moravent-records.
clitest::Outcome Records(const clitest::TArgs& args);

} // namespace recordstest
