#pragma once
// --records: every unit's record kept in a database before the unit's result is shown,
// spooled locally while the database cannot take it.
#include <memory>

#include "app/flash_cli/options.h"
#include "app/flash_cli/report.h"

class TRecordKeeper;

class TUnitRecords {
public:
    // Nothing to do without --records. Raises Exception when the target cannot be used
    // (no records database, a newer schema, an SQLite file that cannot be opened).
    explicit TUnitRecords(const TCliOptions& options);
    ~TUnitRecords();
    TUnitRecords(const TUnitRecords&) = delete;
    TUnitRecords& operator=(const TUnitRecords&) = delete;

    // Forwards what the spool holds, before a unit and at the end.
    void Forward();
    // "" when the record is kept (in the database or the spool), else why it is lost.
    std::string Keep(const TUnitRecord& record);

private:
    std::unique_ptr<TRecordKeeper> Keeper;
};
