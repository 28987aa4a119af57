#pragma once
// Yield figures per group: units, passed, failed, yield, median and 95th-percentile duration.
#include <string>
#include <vector>

#include "app/records/record_store.h"

struct TYieldGroup {
    std::string Group;
    long Units = 0, Passed = 0;
    double Median = 0, P95 = 0; // seconds
    long Failed() const { return Units - Passed; }
    double Yield() const { return Units > 0 ? 100.0 * double(Passed) / double(Units) : 0.0; }
};

// Groups sorted by name; percentiles by nearest rank.
std::vector<TYieldGroup> YieldGroups(TRecordStore& store, const TRecordFilter& filter, const std::string& by);

// The duration of every record that filter selects.
std::vector<double> Durations(TRecordStore& store, const TRecordFilter& filter);
