#include "yield_table.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace {

// The nearest-rank percentile of sorted values.
double Percentile(const std::vector<double>& sorted, double p)
{
    if (sorted.empty())
        return 0;
    const size_t rank = size_t(std::ceil(p / 100.0 * double(sorted.size())));
    return sorted[std::clamp<size_t>(rank, 1, sorted.size()) - 1];
}

} // namespace

std::vector<TYieldGroup> YieldGroups(TRecordStore& store, const TRecordFilter& filter, const std::string& by)
{
    struct TCollect {
        long Passed = 0;
        std::vector<double> Durations;
    };
    std::map<std::string, TCollect> groups;
    store.Samples(filter, by, [&](const TYieldSample& s) {
        TCollect& c = groups[s.Group];
        c.Passed += s.Passed ? 1 : 0;
        c.Durations.push_back(s.Duration);
    });
    std::vector<TYieldGroup> result;
    for (auto& [name, c] : groups) {
        std::sort(c.Durations.begin(), c.Durations.end());
        result.push_back({name, long(c.Durations.size()), c.Passed, Percentile(c.Durations, 50),
                          Percentile(c.Durations, 95)});
    }
    return result;
}

std::vector<double> Durations(TRecordStore& store, const TRecordFilter& filter)
{
    std::vector<double> all;
    store.Samples(filter, "day", [&](const TYieldSample& s) { all.push_back(s.Duration); });
    return all;
}
