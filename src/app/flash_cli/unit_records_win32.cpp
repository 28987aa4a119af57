#include "app/flash_cli/unit_records.h"

#include "framework/cmdline.h"

// The Windows build keeps the report file only.
class TRecordKeeper { };

TUnitRecords::TUnitRecords(const TCliOptions& options)
{
    if (!options.Records.empty())
        throw EUsageError("--records is not available on Windows yet: use --report");
}

TUnitRecords::~TUnitRecords() = default;

void TUnitRecords::Forward() { }

std::string TUnitRecords::Keep(const TUnitRecord&)
{
    return std::string();
}
