#pragma once
// The filters list, yield and report share: --since, --until, --station, --job,
// --unit-serial, --operator, --result.
#include "app/records/record_store.h"
#include "framework/cmdline.h"

void AddFilterOptions(TCommandLine& cmd);
// Raises EUsageError for a time or result it cannot read.
TRecordFilter FilterFrom(const TCommandLine& cmd);

// Milliseconds since 1970 UTC of a local "2026-12-08" or "2026-12-08T14:00[:00]"; raises EUsageError.
int64_t LocalTimeMs(const std::string& text, const std::string& option);
