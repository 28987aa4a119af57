#include "app/flash_cli/unit_records.h"

#include <cstdio>

#include "app/records/record_keeper.h"

namespace {

void SayOnStderr(const std::string& line)
{
    std::fprintf(stderr, "%s\n", WithFullStop(line).c_str());
    std::fflush(stderr);
}

} // namespace

TUnitRecords::TUnitRecords(const TCliOptions& options)
{
    if (!options.Records.empty())
        Keeper = std::make_unique<TRecordKeeper>(options.Records, DefaultSpoolPath(), SayOnStderr);
}

TUnitRecords::~TUnitRecords()
{
    if (Keeper)
        Keeper->Forward();
}

void TUnitRecords::Forward()
{
    if (Keeper)
        Keeper->Forward();
}

std::string TUnitRecords::Keep(const TUnitRecord& record)
{
    if (!Keeper)
        return std::string();
    try {
        Keeper->Keep(RowFromReport(record.Json()));
        return std::string();
    } catch (const std::exception& e) {
        return WithFullStop(e.what());
    }
}
