#include "app/records/sql_connection.h"

void InTransaction(TSqlConnection& db, const std::function<void()>& body)
{
    db.Run(db.Postgres() ? "BEGIN" : "BEGIN IMMEDIATE");
    try {
        body();
        db.Run("COMMIT");
    } catch (...) {
        try {
            db.Run("ROLLBACK");
        } catch (const std::exception&) {
            // The connection is gone with the transaction: nothing was committed.
        }
        throw;
    }
}
