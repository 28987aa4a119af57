#include "yield_table.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
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

// The nearest-rank percentile of durations counted by millisecond.
double Percentile(const std::map<long long, long>& counts, long total, double p)
{
    const long rank = std::max(1L, long(std::ceil(p / 100.0 * double(total))));
    long seen = 0;
    for (const auto& [ms, n] : counts)
        if ((seen += n) >= rank)
            return double(ms) / 1000.0;
    return 0;
}

// PostgreSQL counts on the server: durations are kept to the millisecond, so counting each
// group's distinct ones loses nothing and sends a few thousand rows instead of a million.
std::vector<TYieldGroup> ServerYieldGroups(TRecordStore& store, const TRecordFilter& filter, const std::string& by)
{
    std::vector<TSqlValue> params;
    const std::string sql = "SELECT " + GroupExpression(by) +
                            ", round(duration_s * 1000)::bigint, count(*), count(*) FILTER (WHERE result = 'ok')"
                            " FROM unit_records" +
                            store.Where(filter, params) + " GROUP BY 1, 2";
    struct TCounts {
        long Units = 0, Passed = 0;
        std::map<long long, long> Durations;
    };
    std::map<std::string, TCounts> groups;
    store.Db().Run(sql, params, [&](const TSqlRow& r) {
        TCounts& g = groups[r[0].value_or("")];
        const long n = std::atol(r[2]->c_str());
        g.Units += n;
        g.Passed += std::atol(r[3]->c_str());
        g.Durations[std::atoll(r[1]->c_str())] += n;
    });
    std::vector<TYieldGroup> result;
    for (const auto& [name, g] : groups)
        result.push_back({name, g.Units, g.Passed, Percentile(g.Durations, g.Units, 50),
                          Percentile(g.Durations, g.Units, 95)});
    return result;
}

} // namespace

std::vector<TYieldGroup> YieldGroups(TRecordStore& store, const TRecordFilter& given, const std::string& by)
{
    TRecordFilter filter = given;
    filter.UnitsOnly = true;
    if (store.Db().Postgres())
        return ServerYieldGroups(store, filter, by);
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
