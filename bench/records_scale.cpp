// The records at a factory's scale, in SQLite and in PostgreSQL (a server of its own with
// durable commits, where the postgresql package is installed):
//  - KeepRecord: one unit's record kept as a station keeps it, one transaction each; compare
//    with programming one unit (about 1 s for a small job unpaced, tens of seconds for a
//    full flash at the line rate: see bench_station);
//  - List, Yield: the moravent-records program run to its end over 1,000,000 generated
//    records (the goal: under 1 s each). List asks for one station's day and the newest
//    1000 records; Yield groups all of them by day, and by station.
// Generating the million records takes a few seconds per database.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "app/records/record_keeper.h"
#include "app/records/record_store.h"

namespace {

namespace fs = std::filesystem;
constexpr long Million = 1000000;

struct TDatabases {
    fs::path Dir;
    std::string Sqlite, Postgres; // "" where there is none
    TDatabases()
    {
        Dir = fs::temp_directory_path() / ("bench_records_" + std::to_string(::getpid()));
        fs::create_directories(Dir);
        Sqlite = "sqlite:" + (Dir / "records.sqlite").string();
        const std::string command =
            "PG_SCRATCH_DURABLE=1 " + std::string(PG_SCRATCH_SERVER) + " start " + (Dir / "pg").string();
        if (FILE* p = ::popen(command.c_str(), "r")) {
            char line[512] = {};
            const bool read = std::fgets(line, sizeof line, p) != nullptr;
            if (::pclose(p) == 0 && read) {
                Postgres = line;
                Postgres.erase(Postgres.find_last_not_of('\n') + 1);
            }
        }
    }
    ~TDatabases()
    {
        if (!Postgres.empty() && std::system((std::string(PG_SCRATCH_SERVER) + " stop " + (Dir / "pg").string()).c_str()) != 0)
            std::fprintf(stderr, "the benchmark's server did not stop\n");
        fs::remove_all(Dir);
    }
    const std::string& Of(int backend) const { return backend == 0 ? Sqlite : Postgres; }
};

TDatabases& Databases()
{
    static TDatabases databases;
    return databases;
}

TRecordRow SampleRow(long n)
{
    TRecordRow r;
    r.RecordId = "bench-" + std::to_string(::getpid()) + "-" + std::to_string(n);
    r.StartMs = 1796000000000 + n;
    r.TimeStart = r.TimeEnd = "2026-12-08T14:03:27.412+01:00";
    r.Duration = 21.5;
    r.Station = "station-1";
    r.Port = "/dev/ttyUSB0";
    r.Operator = "anna";
    r.UnitSerial = "SN" + std::to_string(n);
    r.JobTitle = "MV-100 firmware 4.2";
    r.ImageSha256 = std::string(64, 'a');
    r.Result = "ok";
    r.Phase = "done";
    r.Report = std::string(900, ' '); // a report object's usual size
    return r;
}

// A million records a minute apart over two years, 8 stations, 5 operators, 3 jobs, 5% failed,
// generated inside the database.
void Generate(TRecordStore& store)
{
    const bool pg = store.Db().Postgres();
    const std::string series =
        pg ? "generate_series(1::bigint, 1000000) AS s(x)"
           : "(WITH RECURSIVE s(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM s WHERE x < 1000000) SELECT x FROM s)";
    const std::string ms = "(1735689600000 + x * 60000)";
    const std::string iso =
        pg ? "to_char(to_timestamp(" + ms + " / 1000.0) AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"+00:00\"')"
           : "strftime('%Y-%m-%dT%H:%M:%S.000+00:00', " + ms + " / 1000, 'unixepoch')";
    const std::string cat = " || ";
    store.Db().Run(std::string("INSERT INTO unit_records (") + RecordColumns + ") SELECT 'gen-'" + cat + "x, " + ms +
                   ", " + iso + ", " + iso + ", 20 + (x % 100) / 10.0, 'station-'" + cat + "(x % 8), '/dev/ttyUSB'" +
                   cat + "(x % 4), 'op'" + cat + "(x % 5), 'SN'" + cat + "x, 'Job '" + cat + "(x % 3), 'sha'" + cat +
                   "(x % 3), CASE WHEN x % 20 = 0 THEN 'failed' ELSE 'ok' END,"
                   " CASE WHEN x % 20 = 0 THEN 'program' ELSE 'done' END,"
                   " CASE WHEN x % 20 = 0 THEN 'Program Failed.' END FROM " + series);
    // Reports of a usual size, so that scans pay for what real records hold.
    store.Db().Run("INSERT INTO unit_reports (record_id, report) SELECT record_id, " +
                   std::string(pg ? "repeat('0', 900)" : "substr(hex(zeroblob(450)), 1, 900)") + " FROM unit_records WHERE record_id LIKE 'gen-%'");
    store.Db().Run(pg ? "ANALYZE unit_records" : "ANALYZE");
}

void KeepRecord(benchmark::State& state)
{
    const std::string target = Databases().Of(int(state.range(0)));
    if (target.empty())
        return state.SkipWithError("PostgreSQL server not installed");
    TRecordKeeper keeper(target, (Databases().Dir / "spool.sqlite").string(), [](const std::string&) {});
    long n = 0;
    for (auto _ : state)
        keeper.Keep(SampleRow(++n));
}

void RunRecords(benchmark::State& state, const std::string& args)
{
    const std::string target = Databases().Of(int(state.range(0)));
    if (target.empty())
        return state.SkipWithError("PostgreSQL server not installed");
    static bool generated[2] = {false, false};
    if (!generated[state.range(0)]) {
        generated[state.range(0)] = true; // once, also when it fails
        try {
            Generate(*OpenRecordStore(target));
        } catch (const std::exception& e) {
            return state.SkipWithError(e.what());
        }
    }
    const std::string command = std::string(MORAVENT_RECORDS) + " " + args + " --db '" + target + "' >/dev/null 2>&1";
    for (auto _ : state)
        if (std::system(command.c_str()) != 0)
            return state.SkipWithError(("failed: " + command).c_str());
}

} // namespace

BENCHMARK(KeepRecord)->Arg(0)->Arg(1)->ArgName("pg")->Unit(benchmark::kMicrosecond)->MinTime(2);
BENCHMARK_CAPTURE(RunRecords, list_station_day, "list --station station-3 --since 2026-06-01 --until 2026-06-02")
    ->Arg(0)->Arg(1)->ArgName("pg")->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK_CAPTURE(RunRecords, list_newest, "list")->Arg(0)->Arg(1)->ArgName("pg")->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK_CAPTURE(RunRecords, yield_by_day, "yield --by day")->Arg(0)->Arg(1)->ArgName("pg")->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(RunRecords, yield_by_station, "yield --by station")->Arg(0)->Arg(1)->ArgName("pg")->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_MAIN();
