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

// PostgreSQL ranks on the server; percentile_disc is the nearest rank.
std::vector<TYieldGroup> ServerYieldGroups(TRecordStore& store, const TRecordFilter& filter, const std::string& by)
{
    std::vector<TSqlValue> params;
    const std::string group = GroupExpression(by);
    const std::string sql = "SELECT " + group +
                            ", count(*), count(*) FILTER (WHERE result = 'ok'),"
                            " percentile_disc(0.5) WITHIN GROUP (ORDER BY duration_s),"
                            " percentile_disc(0.95) WITHIN GROUP (ORDER BY duration_s) FROM unit_records" +
                            store.Where(filter, params) + " GROUP BY 1 ORDER BY 1";
    std::vector<TYieldGroup> result;
    store.Db().Run(sql, params, [&](const TSqlRow& r) {
        result.push_back({r[0].value_or(""), std::atol(r[1]->c_str()), std::atol(r[2]->c_str()),
                          std::atof(r[3]->c_str()), std::atof(r[4]->c_str())});
    });
    return result;
}

} // namespace

std::vector<TYieldGroup> YieldGroups(TRecordStore& store, const TRecordFilter& filter, const std::string& by)
{
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
