#pragma once
// The records of units in SQLite or PostgreSQL, one schema for both: created and upgraded
// here, its version checked, a newer one refused rather than guessed at.
#include <memory>
#include <optional>

#include "app/records/record_row.h"

inline constexpr int RecordsSchemaVersion = 1;

// What list, yield and a report ask for; empty fields do not filter.
struct TRecordFilter {
    std::optional<int64_t> SinceMs, UntilMs; // start at or after, before
    std::string Station, Job, UnitSerial, Operator, Result; // Job: the title or the image's SHA-256
    bool UnitsOnly = false; // leaves out fixtures a station skipped: no unit sat in them
};

// One unit as yield counts it.
struct TYieldSample {
    std::string Group;
    bool Passed = false;
    double Duration = 0;
};

class TRecordStore {
public:
    // Creates the schema when the database is empty. Raises ERecordsSchemaError for a newer
    // schema or a database that holds other tables of these names.
    explicit TRecordStore(std::unique_ptr<TSqlConnection> db);

    TSqlConnection& Db() { return *FDb; }
    // In one transaction; a record whose id is there already is left as it is. Returns
    // how many were added.
    long Insert(const std::vector<TRecordRow>& rows);
    // Newest first; limit 0 for all.
    std::vector<TRecordRow> List(const TRecordFilter& filter, long limit);
    // The oldest records first (the spool forwards them so).
    std::vector<TRecordRow> Oldest(long limit);
    std::optional<TRecordRow> Find(const std::string& recordId);
    void Remove(const std::vector<TRecordRow>& rows);
    // group: "day", "station", "job", "operator" or "phase".
    void Samples(const TRecordFilter& filter, const std::string& group,
                 const std::function<void(const TYieldSample&)>& each);

    // " WHERE ..." for filter ("" for none), its values appended to params.
    std::string Where(const TRecordFilter& filter, std::vector<TSqlValue>& params) const;

private:
    void EnsureSchema();
    int StoredVersion();

    std::unique_ptr<TSqlConnection> FDb;
};

// The SQL expression a yield grouping ("day": the station's local day, "station", "job",
// "operator", "phase") groups by; raises ERecordsError for another.
std::string GroupExpression(const std::string& group);

// "sqlite:PATH" or a path: SQLite; a postgresql:// URI or libpq's keywords: PostgreSQL.
// create false: an SQLite file that does not exist is an error. Raises ERecordsError.
std::unique_ptr<TRecordStore> OpenRecordStore(const std::string& target, bool create = true);
