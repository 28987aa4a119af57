// moravent-records over SQLite and PostgreSQL alike: import, list, yield, show, and the
// databases it must refuse.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "app/records/sqlite_connection.h"
#include "records_rig.h"

using namespace clitest;
using namespace recordstest;
using json = nlohmann::json;

namespace {

struct TKnown {
    const char* Day;
    const char* Station;
    const char* Result;
    const char* Phase;
    double Duration;
};

// Two days of two stations with known yield and durations; a skipped fixture held no unit.
const TKnown KnownSet[] = {
    {"2026-12-01", "s1", "ok", "done", 10},       {"2026-12-01", "s1", "ok", "done", 20},
    {"2026-12-01", "s1", "failed", "erase", 30},  {"2026-12-02", "s2", "ok", "done", 5},
    {"2026-12-02", "s2", "ok", "done", 7},        {"2026-12-02", "s2", "failed", "program", 9},
    {"2026-12-02", "s2", "failed", "verify", 11}, {"2026-12-02", "s2", "skipped", "connect", 0},
};

std::string KnownReport(const TempDir& dir)
{
    const std::string path = dir / "known.jsonl";
    std::ofstream out(path);
    int n = 0;
    for (const TKnown& k : KnownSet) {
        char time[64];
        std::snprintf(time, sizeof time, "%sT10:00:%02d.000+01:00", k.Day, n++);
        json r = {{"time_start", time},
                  {"time_end", time},
                  {"duration_s", k.Duration},
                  {"station", k.Station},
                  {"port", "/dev/ttyUSB0"},
                  {"job", {{"title", "Job A"}, {"image_sha256", "ab12"}}},
                  {"phase", k.Phase},
                  {"result", k.Result},
                  {"error", std::string(k.Result) == "ok" ? json(nullptr) : json("Erase Failed.")}};
        if (n > 1) // the first as a report from before record ids
            r["record_id"] = "00000000-0000-4000-8000-00000000000" + std::to_string(n);
        out << r.dump() << "\n";
    }
    return path;
}

} // namespace

TEST(RecordsTool, ImportTwiceThenYieldListAndShowAgree)
{
    for (const std::string& backend : Backends()) {
        SCOPED_TRACE(backend);
        TempDir dir;
        const std::string db = NewTarget(backend, dir, "records"), report = KnownReport(dir);
        EXPECT_EQ(Records({"import", report, "--db", db}).Out, report + ": 8 records, 8 added, 0 there already\n");
        EXPECT_EQ(Records({"import", report, "--db", db}).Out, report + ": 8 records, 0 added, 8 there already\n");

        struct {
            TArgs Args;
            json Expected;
        } yields[] = {
            {{"--by", "day"},
             json::parse(R"([{"day":"2026-12-01","units":3,"passed":2,"failed":1,"yield_percent":66.7,"median_s":20.0,"p95_s":30.0},
                             {"day":"2026-12-02","units":4,"passed":2,"failed":2,"yield_percent":50.0,"median_s":7.0,"p95_s":11.0}])")},
            {{"--by", "phase", "--result", "failed"},
             json::parse(R"([{"phase":"erase","units":1,"passed":0,"failed":1,"yield_percent":0.0,"median_s":30.0,"p95_s":30.0},
                             {"phase":"program","units":1,"passed":0,"failed":1,"yield_percent":0.0,"median_s":9.0,"p95_s":9.0},
                             {"phase":"verify","units":1,"passed":0,"failed":1,"yield_percent":0.0,"median_s":11.0,"p95_s":11.0}])")},
            {{"--by", "station", "--since", "2026-12-02"},
             json::parse(R"([{"station":"s2","units":4,"passed":2,"failed":2,"yield_percent":50.0,"median_s":7.0,"p95_s":11.0}])")},
        };
        for (const auto& y : yields) {
            TArgs args = {"yield", "--json", "--db", db};
            args.insert(args.end(), y.Args.begin(), y.Args.end());
            const Outcome o = Records(args);
            EXPECT_EQ(json::parse(o.Out), y.Expected) << Joined(args) << o.Err;
        }

        const Outcome csv = Records({"list", "--csv", "--station", "s2", "--result", "failed", "--db", db});
        EXPECT_EQ(Lines(csv.Out).size(), 3u) << csv.Out; // heading and two units
        const Outcome shown = Records({"show", "00000000-0000-4000-8000-000000000003", "--db", db});
        EXPECT_EQ(json::parse(shown.Out)["result"], "failed") << shown.Err;
        EXPECT_EQ(Records({"show", "no-such-id", "--db", db}).Exit, 1);
    }
}

// What is no records database of ours is refused with the reason, and nothing is changed.
TEST(RecordsTool, ForeignAndNewerDatabasesAreRefused)
{
    TempDir dir;
    std::ofstream(dir / "garbage.sqlite") << "not a database at all, but long enough to look like a header";
    fs::create_directories(dir / "folder.sqlite");
    struct {
        std::string Backend, Target, Setup, Message;
    } rows[] = {
        {"sqlite", dir / "garbage.sqlite", "", "file is not a database"},
        {"sqlite", dir / "folder.sqlite", "", "it is not a regular file"},
        {"sqlite", "/dev/null", "", "it is not a regular file"},
        {"sqlite", dir / "missing.sqlite", "", "unable to open database file"},
        {"sqlite", "", "UPDATE moravent_schema SET version = 99", "has schema version 99, newer than this program's 1"},
        {"postgresql", "", "UPDATE moravent_schema SET version = 99", "has schema version 99, newer than this program's 1"},
        {"postgresql", "", "CREATE TABLE unit_records (x INTEGER)", "not a records database"},
    };
    const std::vector<std::string> backends = Backends();
    for (const auto& row : rows) {
        if (std::find(backends.begin(), backends.end(), row.Backend) == backends.end())
            continue;
        SCOPED_TRACE(row.Backend + " " + row.Setup);
        std::string target = row.Target;
        if (target.empty()) {
            target = NewTarget(row.Backend, dir, "newer");
            if (row.Setup.rfind("UPDATE", 0) == 0) {
                EXPECT_EQ(Records({"import", KnownReport(dir), "--db", target}).Exit, 0);
            }
            if (row.Backend == "postgresql")
                TPgServer::Get()->Run(target, {row.Setup});
            else
                TSqliteConnection(target.substr(7)).Run(row.Setup);
        }
        const Outcome o = Records({"list", "--db", target});
        EXPECT_EQ(o.Exit, 1);
        EXPECT_NE(o.Err.find(row.Message), std::string::npos) << o.Err;
    }
}
