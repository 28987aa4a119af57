#pragma once
// One self-contained HTML page for a shift or a week: the figures, charts of yield per day,
// failures by phase and the duration distribution, and the failed units.
#include "app/records/record_store.h"

// Writes file whole or not at all; raises ERecordsError naming it.
void WriteHtmlReport(TRecordStore& store, const TRecordFilter& filter, const std::string& file);
