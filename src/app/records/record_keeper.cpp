#include "app/records/record_keeper.h"

#include <filesystem>

#include "app/records/pg_connection.h"

namespace {

// Forwarded in batches, each one transaction, so a long outage does not make one huge one.
constexpr long ForwardBatch = 500;

} // namespace

TRecordKeeper::TRecordKeeper(std::string target, std::string spoolPath, std::function<void(const std::string&)> say)
    : Target(std::move(target)), SpoolPath(std::move(spoolPath)), Say(std::move(say))
{
    try {
        Store = OpenRecordStore(Target);
    } catch (const ERecordsSchemaError&) {
        throw;
    } catch (const ERecordsError& e) {
        if (!IsPostgresTarget(Target))
            throw;
        Outage(e.what());
    }
    Forward();
}

TRecordKeeper::~TRecordKeeper() = default;

void TRecordKeeper::Outage(const std::string& why)
{
    Store.reset();
    if (!InOutage)
        Say("Records database unavailable (" + why + "): records are spooled in " + SpoolPath +
            " until it answers again");
    InOutage = true;
}

bool TRecordKeeper::Connected()
{
    if (Store)
        return true;
    try {
        Store = OpenRecordStore(Target);
        return true;
    } catch (const ERecordsSchemaError& e) {
        Outage(e.what());
    } catch (const ERecordsError& e) {
        Outage(e.what());
    }
    return false;
}

TRecordStore& TRecordKeeper::Spool()
{
    if (!SpoolStore)
        SpoolStore = OpenRecordStore("sqlite:" + SpoolPath);
    return *SpoolStore;
}

bool TRecordKeeper::Keep(const TRecordRow& row)
{
    std::string targetWhy;
    if (Connected()) {
        try {
            Store->Insert({row});
            return true;
        } catch (const ERecordsError& e) {
            targetWhy = e.what();
            Outage(targetWhy);
        }
    }
    try {
        Spool().Insert({row});
        return false;
    } catch (const ERecordsError& e) {
        throw ERecordLost("Record not kept: " + (targetWhy.empty() ? std::string("the records database is unavailable")
                                                                   : targetWhy) +
                          "; the spool failed too: " + e.what());
    }
}

void TRecordKeeper::Forward()
{
    if (!SpoolStore && !std::filesystem::exists(SpoolPath))
        return;
    long forwarded = 0;
    try {
        for (std::vector<TRecordRow> rows; !(rows = Spool().Oldest(ForwardBatch)).empty();) {
            if (!Connected())
                return;
            try {
                Store->Insert(rows);
            } catch (const ERecordsError& e) {
                Outage(e.what());
                return;
            }
            // Removed only once they are in the database: a failure between the two
            // forwards them again, and the database keeps the first.
            Spool().Remove(rows);
            forwarded += long(rows.size());
        }
    } catch (const ERecordsError& e) {
        if (!SpoolBroken)
            Say("Spooled records not forwarded: " + std::string(e.what()));
        SpoolBroken = true;
        return;
    }
    if (forwarded > 0)
        Say("Records database answers again: " + std::to_string(forwarded) + " spooled record" +
            (forwarded == 1 ? "" : "s") + " forwarded");
    InOutage = InOutage && !Store;
}
