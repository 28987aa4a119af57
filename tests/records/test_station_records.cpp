// A station keeping its units' records: several stations on one database, the server going
// away and coming back, a station killed while it commits, a role that may only insert.
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

#include <nlohmann/json.hpp>

#include "app/records/record_store.h"
#include "flash_rig.h"
#include "records_rig.h"

using namespace clitest;
using namespace recordstest;
using json = nlohmann::json;

namespace {

using TSims = std::vector<std::unique_ptr<unitsim::UnitSimulator>>;

// A station run's arguments for count new simulated units, which sims keeps serving.
TArgs StationArgs(TSims& sims, int count, const std::string& target, const std::string& report, int blockDelayMs = 0)
{
    TArgs args = {"--records", target, "--report", report, "--no-progress", "--operator", "tester"};
    for (int i = 0; i < count; ++i) {
        unitsim::SimConfig cfg;
        cfg.blockDelayMs = blockDelayMs;
        sims.push_back(std::make_unique<unitsim::UnitSimulator>(cfg));
        sims.back()->Start();
        args.insert(args.end(), {"--port", sims.back()->SlavePath()});
    }
    return args;
}

// The record ids a report file holds.
std::multiset<std::string> ReportIds(const std::string& report)
{
    std::multiset<std::string> ids;
    for (const std::string& line : Lines(ReadFileBytes(report, size_t(1) << 24)))
        ids.insert(json::parse(line)["record_id"].get<std::string>());
    return ids;
}

std::multiset<std::string> DatabaseIds(const std::string& target)
{
    std::multiset<std::string> ids;
    for (const TRecordRow& row : OpenRecordStore(target)->List({}, 0))
        ids.insert(row.RecordId);
    return ids;
}

size_t Count(const std::string& text, const std::string& part)
{
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

// Each test's own spool.
class StationRecords : public ::testing::Test {
protected:
    void SetUp() override { ::setenv("XDG_STATE_HOME", (Dir / "state").c_str(), 1); }
    std::string Spool() { return Dir / "state/moravent/records-spool.sqlite"; }
    TempDir Dir;
};

} // namespace

// Every unit once in the database, the same ids as the report files hold.
TEST_F(StationRecords, TwoStationsWriteOneDatabaseAtOnce)
{
    const std::string programmer = BuildJob(Dir, flashtest::Pattern(8 * 128, 3));
    for (const std::string& backend : Backends()) {
        SCOPED_TRACE(backend);
        const std::string target = NewTarget(backend, Dir, "shared");
        TSims sims;
        TChildProcess a(programmer, StationArgs(sims, 3, target, Dir / (backend + "a.jsonl")));
        TChildProcess b(programmer, StationArgs(sims, 3, target, Dir / (backend + "b.jsonl")));
        const Outcome oa = Finish(a), ob = Finish(b);
        EXPECT_EQ(oa.Exit, 0) << oa.Err;
        EXPECT_EQ(ob.Exit, 0) << ob.Err;
        std::multiset<std::string> expected = ReportIds(Dir / (backend + "a.jsonl"));
        expected.merge(ReportIds(Dir / (backend + "b.jsonl")));
        EXPECT_EQ(expected.size(), 6u);
        EXPECT_EQ(DatabaseIds(target), expected);
    }
}

// The server stops while the units program: their records are spooled, said once, and
// arrive exactly once when it is back, also when a forward is repeated.
TEST_F(StationRecords, AServerGoneMidRoundLosesAndDoublesNothing)
{
    TPgServer* server = TPgServer::Get();
    if (!server)
        GTEST_SKIP() << "PostgreSQL server not installed";
    const std::string programmer = BuildJob(Dir, flashtest::Pattern(32 * 128, 4));
    const std::string target = server->NewDatabase();
    TSims sims;
    TChildProcess station(programmer, StationArgs(sims, 3, target, Dir / "report.jsonl", 40));
    for (const auto& sim : sims)
        ASSERT_TRUE(station.WaitForError(sim->SlavePath() + ": program\n", 20000)) << station.Err();
    server->Stop();
    const Outcome o = Finish(station);
    server->Start();
    EXPECT_EQ(o.Exit, 0) << o.Err;
    EXPECT_EQ(Count(o.Err, "records are spooled in " + Spool()), 1u) << o.Err;
    EXPECT_TRUE(DatabaseIds(target).empty());

    fs::copy_file(Spool(), Dir / "spool-copy.sqlite");
    const Outcome sync = Records({"sync", "--db", target});
    EXPECT_EQ(sync.Exit, 0) << sync.Err;
    EXPECT_NE(sync.Err.find("3 spooled records forwarded"), std::string::npos) << sync.Err;
    // As if the spool had not been emptied after the records reached the server.
    fs::copy_file(Dir / "spool-copy.sqlite", Spool(), fs::copy_options::overwrite_existing);
    fs::remove(Spool() + "-wal");
    fs::remove(Spool() + "-shm");
    EXPECT_EQ(Records({"sync", "--db", target}).Exit, 0);
    EXPECT_EQ(DatabaseIds(target), ReportIds(Dir / "report.jsonl"));
}

// Killed while its forward of the spool waits inside a transaction: nothing of it is in the
// database, the spool still holds it, and the next start forwards it.
TEST_F(StationRecords, AStationKilledInACommitForwardsOnItsNextStart)
{
    TPgServer* server = TPgServer::Get();
    if (!server)
        GTEST_SKIP() << "PostgreSQL server not installed";
    const std::string programmer = BuildJob(Dir, flashtest::Pattern(8 * 128, 5));
    const std::string target = server->NewDatabase();
    TSims sims;
    EXPECT_EQ(RunProgram(programmer, StationArgs(sims, 1, target, Dir / "first.jsonl")).Exit, 0); // creates the schema
    server->Stop();
    EXPECT_EQ(RunProgram(programmer, StationArgs(sims, 2, target, Dir / "spooled.jsonl")).Exit, 0);
    server->Start();

    TPgConnection holder(target);
    holder.Run("BEGIN");
    holder.Run("LOCK TABLE unit_records IN ACCESS EXCLUSIVE MODE");
    TChildProcess killed(programmer, StationArgs(sims, 1, target, Dir / "killed.jsonl"));
    // Another connection watches: within a transaction the activity view does not change.
    TPgConnection watcher(target);
    std::string waiting;
    for (int i = 0; i < 200 && waiting.empty(); ++i) {
        watcher.Run("SELECT query FROM pg_stat_activity WHERE wait_event_type = 'Lock'", {}, [&](const TSqlRow& r) {
            waiting = r[0].value_or("");
        });
        ::usleep(50000);
    }
    EXPECT_NE(waiting.find("INSERT"), std::string::npos) << killed.Err();
    ::kill(killed.Pid(), SIGKILL);
    EXPECT_TRUE(killed.WaitForFinished(10000));
    holder.Run("ROLLBACK");
    EXPECT_EQ(DatabaseIds(target), ReportIds(Dir / "first.jsonl"));

    const Outcome next = RunProgram(programmer, StationArgs(sims, 1, target, Dir / "next.jsonl"));
    EXPECT_EQ(next.Exit, 0) << next.Err;
    std::multiset<std::string> all = ReportIds(Dir / "first.jsonl");
    all.merge(ReportIds(Dir / "spooled.jsonl"));
    all.merge(ReportIds(Dir / "next.jsonl"));
    EXPECT_EQ(DatabaseIds(target), all);
}

// Neither the server nor the spool (a file that is no database) takes the records: every
// unit fails with the reason, also one the worker programmed, and the run says so in its status.
TEST_F(StationRecords, ARecordKeptNowhereFailsItsUnit)
{
    const std::string programmer = BuildJob(Dir, flashtest::Pattern(8 * 128, 7));
    fs::create_directories(fs::path(Spool()).parent_path());
    std::ofstream(Spool()) << "garbage where the spool belongs, long enough to be taken for a header";
    TSims sims;
    for (int ports : {1, 2}) {
        const Outcome o = RunProgram(programmer, StationArgs(sims, ports, "host=/nonexistent dbname=records",
                                                             Dir / "report.jsonl"));
        EXPECT_EQ(o.Exit, 1) << o.Err;
        EXPECT_NE(o.Err.find("Record not kept: "), std::string::npos) << o.Err;
        EXPECT_NE(o.Err.find("the spool failed too: "), std::string::npos) << o.Err;
    }
    for (const std::string& line : Lines(ReadFileBytes(Dir / "report.jsonl", size_t(1) << 24))) {
        const json r = json::parse(line);
        EXPECT_EQ(r["result"], "failed") << line;
        EXPECT_EQ(r["error"].get<std::string>().rfind("Record not kept: ", 0), 0u) << line;
    }
}

// The roles the manual page sets up: a station may insert and nothing else; quality may read.
TEST_F(StationRecords, AnInsertOnlyRoleIsEnoughForAStation)
{
    TPgServer* server = TPgServer::Get();
    if (!server)
        GTEST_SKIP() << "PostgreSQL server not installed";
    const std::string programmer = BuildJob(Dir, flashtest::Pattern(8 * 128, 6));
    const std::string owner = server->NewDatabase();
    EXPECT_EQ(Records({"init", "--db", owner}).Exit, 0);
    server->Run(owner, {"DO $$ BEGIN IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'moravent_station') THEN"
                        " CREATE ROLE moravent_station LOGIN; CREATE ROLE moravent_quality LOGIN; END IF; END $$",
                        "GRANT SELECT ON moravent_schema TO moravent_station, moravent_quality",
                        "GRANT INSERT ON unit_records, unit_reports TO moravent_station",
                        "GRANT SELECT ON unit_records, unit_reports TO moravent_quality"});
    const std::string station = owner.substr(0, owner.find("user=")) + "user=moravent_station" +
                                owner.substr(owner.find(' ', owner.find("user=")));
    const std::string quality = owner.substr(0, owner.find("user=")) + "user=moravent_quality" +
                                owner.substr(owner.find(' ', owner.find("user=")));
    TSims sims;
    const Outcome o = RunProgram(programmer, StationArgs(sims, 2, station, Dir / "report.jsonl"));
    EXPECT_EQ(o.Exit, 0) << o.Err;
    EXPECT_EQ(o.Err.find("spooled"), std::string::npos) << o.Err;
    EXPECT_EQ(DatabaseIds(owner), ReportIds(Dir / "report.jsonl"));
    EXPECT_EQ(Records({"list", "--db", quality}).Exit, 0);
    const Outcome reads = Records({"list", "--db", station});
    EXPECT_EQ(reads.Exit, 1);
    EXPECT_NE(reads.Err.find("permission denied"), std::string::npos) << reads.Err;
}
