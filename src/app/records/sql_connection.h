#pragma once
// One database connection as the record store needs it: statements with parameters,
// prepared once and kept, every value passed and read as text (NULL as no value).
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "framework/exceptions.h"

// The database cannot be reached or refused a statement; the message names which and why.
MORAVENT_EXCEPTION(ERecordsError, Exception);
// The records database is no such database or has a schema this program does not know.
MORAVENT_EXCEPTION(ERecordsSchemaError, ERecordsError);

using TSqlValue = std::optional<std::string>;
using TSqlRow = std::vector<TSqlValue>;
using TSqlRowHandler = std::function<void(const TSqlRow&)>;

class TSqlConnection {
public:
    virtual ~TSqlConnection() = default;
    // Runs sql with params bound to its placeholders (Placeholder(1), ...); each row of
    // the result goes to rows. Returns how many rows it inserted, changed or deleted.
    // Raises ERecordsError.
    virtual long Run(const std::string& sql, const std::vector<TSqlValue>& params = {},
                     const TSqlRowHandler& rows = {}) = 0;
    // The n-th parameter's placeholder, from 1.
    virtual std::string Placeholder(int n) const = 0;
    virtual bool Postgres() const = 0;
    // What a message names: the file, or the server without its password.
    virtual std::string Name() const = 0;
};

// Runs body in one transaction; rolled back when body raises.
void InTransaction(TSqlConnection& db, const std::function<void()>& body);
