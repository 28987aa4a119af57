#include "app/records/sqlite_connection.h"

#include <sys/stat.h>

#include <sqlite3.h>

#include <chrono>
#include <thread>

namespace {

constexpr int BusyTimeoutMs = 10000;

void RefuseSpecialFile(const std::string& path)
{
    struct stat st{};
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
        throw ERecordsError("Cannot use " + path + " as a records database: it is not a regular file");
}

// Connections that switch a new file to WAL at the same moment: the one that loses gets
// SQLITE_BUSY at once, without the busy handler being asked, so it waits and asks again.
void WaitForWalMode(sqlite3* db)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(BusyTimeoutMs);
    while (sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr) == SQLITE_BUSY &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

} // namespace

TSqliteConnection::TSqliteConnection(const std::string& path, bool create) : Path(path)
{
    RefuseSpecialFile(path);
    if (sqlite3_open_v2(path.c_str(), &Db, SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0) | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
        const std::string why = Db ? sqlite3_errmsg(Db) : "out of memory";
        sqlite3_close(Db);
        Db = nullptr;
        throw ERecordsError("Cannot open the records database " + path + ": " + why);
    }
    sqlite3_busy_timeout(Db, BusyTimeoutMs);
    try {
        WaitForWalMode(Db);
        Run("PRAGMA journal_mode=WAL", {}, [](const TSqlRow&) {}); // already WAL, or the reason it is not
        Run("PRAGMA synchronous=NORMAL");
    } catch (...) {
        sqlite3_close(Db);
        Db = nullptr;
        throw;
    }
}

TSqliteConnection::~TSqliteConnection()
{
    for (auto& [sql, statement] : Statements)
        sqlite3_finalize(statement);
    sqlite3_close(Db);
}

void TSqliteConnection::Fail(const std::string& what) const
{
    const int code = sqlite3_errcode(Db);
    const std::string text = "Records database " + Path + ": " + what + ": " + sqlite3_errmsg(Db);
    if (code == SQLITE_NOTADB || code == SQLITE_CORRUPT)
        throw ERecordsSchemaError(text);
    throw ERecordsError(text);
}

sqlite3_stmt* TSqliteConnection::Prepared(const std::string& sql)
{
    if (const auto found = Statements.find(sql); found != Statements.end())
        return found->second;
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(Db, sql.c_str(), int(sql.size()), &statement, nullptr) != SQLITE_OK)
        Fail("cannot prepare a statement");
    Statements.emplace(sql, statement);
    return statement;
}

long TSqliteConnection::Run(const std::string& sql, const std::vector<TSqlValue>& params, const TSqlRowHandler& rows)
{
    sqlite3_stmt* statement = Prepared(sql);
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    for (size_t i = 0; i < params.size(); ++i)
        if (params[i])
            sqlite3_bind_text(statement, int(i + 1), params[i]->data(), int(params[i]->size()), SQLITE_STATIC);
    TSqlRow row;
    for (;;) {
        const int step = sqlite3_step(statement);
        if (step == SQLITE_DONE)
            break;
        if (step != SQLITE_ROW) {
            sqlite3_reset(statement);
            Fail("a statement failed");
        }
        if (!rows)
            continue;
        row.assign(size_t(sqlite3_column_count(statement)), std::nullopt);
        for (int c = 0; c < int(row.size()); ++c)
            if (const auto* text = sqlite3_column_text(statement, c))
                row[size_t(c)] = std::string(reinterpret_cast<const char*>(text),
                                             size_t(sqlite3_column_bytes(statement, c)));
        rows(row);
    }
    sqlite3_reset(statement);
    return sqlite3_changes(Db);
}
