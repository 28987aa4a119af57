#pragma once
// What a station does with a unit's record: into the records database, or, while that
// cannot be reached or fails, into a local spool that is forwarded when it answers again.
// Records are forwarded by id, so one that reached the database before a failure is not
// added twice.
#include <functional>
#include <memory>

#include "app/records/record_store.h"

// Neither the database nor the spool took a record; the message says why for both.
MORAVENT_EXCEPTION(ERecordLost, ERecordsError);

class TRecordKeeper {
public:
    // say: the lines for the operator (an outage, once; records forwarded). Raises
    // ERecordsSchemaError when the target is no records database or a newer one, and
    // ERecordsError when an SQLite target cannot be opened; a server that cannot be reached
    // is an outage instead.
    TRecordKeeper(std::string target, std::string spoolPath, std::function<void(const std::string&)> say);
    ~TRecordKeeper();

    // True when the record is in the database, false when spooled. Raises ERecordLost.
    bool Keep(const TRecordRow& row);
    // Forwards what the spool holds when the database answers; a failure leaves it spooled.
    void Forward();

private:
    bool Connected();
    void Outage(const std::string& why);
    TRecordStore& Spool();

    std::string Target, SpoolPath;
    std::function<void(const std::string&)> Say;
    std::unique_ptr<TRecordStore> Store, SpoolStore;
    bool InOutage = false;
    bool SpoolBroken = false; // said once
};

// The spool of this user's stations: $XDG_STATE_HOME/moravent/records-spool.sqlite, or
// ~/.local/state/moravent/ without XDG_STATE_HOME. Creates the folder; raises ERecordsError.
std::string DefaultSpoolPath();
