// The headless programmer as a production station: several ports at once, one worker per
// port, a record of every unit appended to one report file, JSON events.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <nlohmann/json.hpp>

#include "cli_rig.h"
#include "flash_rig.h"

using namespace flashtest;
using namespace clitest;
using json = nlohmann::json;

namespace {

struct Unit {
    std::function<void(unitsim::SimConfig&)> Setup;
    std::string Result, Phase, Method, Error; // Error: "" for null, else a part of the message
};

std::vector<json> JsonLines(const std::string& text)
{
    std::vector<json> lines;
    for (const std::string& line : Lines(text))
        lines.push_back(json::parse(line)); // throws, failing the test, on a line that is no JSON
    return lines;
}

bool FlashHolds(const unitsim::UnitSimulator& sim, const std::vector<uint8_t>& image)
{
    const std::vector<uint8_t> flash = sim.Flash();
    return flash.size() >= image.size() && std::equal(image.begin(), image.end(), flash.begin());
}

// The worker a station started for port, found among the children of station.
pid_t WorkerOf(pid_t station, const std::string& port)
{
    for (const auto& entry : fs::directory_iterator("/proc")) {
        if (entry.path().filename().string().find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::ifstream stat(entry.path() / "stat");
        std::string text((std::istreambuf_iterator<char>(stat)), {});
        const size_t close = text.rfind(')');
        if (close == std::string::npos)
            continue;
        std::istringstream rest(text.substr(close + 2));
        char state;
        pid_t ppid = 0;
        rest >> state >> ppid;
        std::ifstream cmd(entry.path() / "cmdline");
        const std::string args((std::istreambuf_iterator<char>(cmd)), {});
        if (ppid == station && args.find(std::string(1, '\0') + port + '\0') != std::string::npos)
            return std::stoi(entry.path().filename().string());
    }
    return -1;
}

} // namespace

// Three runs append to one report: several ports with one failing unit and one reached only
// by the boot method, one port as it has always run, two ports with JSON events.
TEST(Station, EveryUnitOnItsOwnAndARecordOfEach)
{
    TempDir dir;
    const std::vector<uint8_t> image = Pattern(16 * 128, 5);
    const std::string programmer = BuildJob(dir, image, ", \"identifier\": \"MV-100 rev B\"");
    const json job = json::parse(RunProgram(MORAVENT_JOB, Args({"show", programmer})).Out);
    EXPECT_TRUE(job["template_version"].is_string()) << job; // the headless programmer carries its version
    const std::string report = dir / "report.jsonl";
    const auto erase = [](auto& c) { c.eraseVerdict = '%'; };
    const auto bootOnly = [](auto& c) { c.applicationRunning = false, c.bootAnswerFrom = 2; };
    const auto wrongSeed = [](auto& c) { c.seed = 7; };
    const auto current = [&](unitsim::SimConfig& c) {
        c.initialFlash.assign(size_t(c.flashLength), 0xFF);
        std::copy(image.begin(), image.end(), c.initialFlash.begin());
    };
    const auto oneBlockDiffers = [&](unitsim::SimConfig& c) {
        current(c);
        c.initialFlash[9 * 128] ^= 0x80;
    };
    struct Run {
        std::vector<std::string> Args;
        std::vector<Unit> Units;
    } runs[] = {
        {{"--no-progress", "--log", dir / "comms.txt"},
         {{{}, "ok", "done", "user", ""},
          {erase, "failed", "erase", "user", "Erase Failed: Device Failure."},
          {bootOnly, "ok", "done", "boot", ""}}},
        {{}, {{{}, "ok", "done", "user", ""}}},
        {{"--json", "--method", "user"},
         {{wrongSeed, "failed", "connect", "", "Flash uP does not match definition."}, {{}, "ok", "done", "user", ""}}},
        {{"--verify-only", "--method", "user", "--no-progress"},
         {{current, "ok", "done", "user", ""},
          {oneBlockDiffers, "failed", "verify", "user", "Verify Failed at address 0x00000480 (1152)."}}},
    };
    std::vector<std::string> before;
    for (const Run& run : runs) {
        std::vector<std::unique_ptr<unitsim::UnitSimulator>> sims;
        TArgs args = Args({"--report", report});
        args.insert(args.end(), run.Args.begin(), run.Args.end());
        for (const Unit& u : run.Units) {
            unitsim::SimConfig cfg;
            if (u.Setup)
                u.Setup(cfg);
            sims.push_back(std::make_unique<unitsim::UnitSimulator>(cfg));
            sims.back()->Start();
            args.insert(args.end(), {"--port", sims.back()->SlavePath()});
        }
        const Outcome o = RunProgram(programmer, args);
        SCOPED_TRACE(Joined(args) + "\n" + o.Err);
        const bool anyFailed =
            std::any_of(run.Units.begin(), run.Units.end(), [](auto& u) { return u.Result != "ok"; });
        EXPECT_EQ(o.Exit, anyFailed ? 1 : 0);

        // Earlier records stay as they were; this run added one line per unit.
        const std::vector<uint8_t> bytes = ReadFile(report);
        const std::vector<std::string> lines = Lines(std::string(bytes.begin(), bytes.end()));
        ASSERT_EQ(lines.size(), before.size() + run.Units.size());
        EXPECT_TRUE(std::equal(before.begin(), before.end(), lines.begin()));
        for (size_t i = 0; i < run.Units.size(); ++i) {
            const Unit& u = run.Units[i];
            const std::string port = sims[i]->SlavePath();
            const auto found = std::find_if(lines.begin() + long(before.size()), lines.end(),
                                            [&](const std::string& l) { return json::parse(l)["port"] == port; });
            ASSERT_NE(found, lines.end()) << port;
            const json r = json::parse(*found);
            EXPECT_EQ(r["result"], u.Result) << *found;
            EXPECT_EQ(r["phase"], u.Phase) << *found;
            EXPECT_EQ(r["method"], u.Method.empty() ? json(nullptr) : json(u.Method)) << *found;
            EXPECT_EQ(r["error"], u.Error.empty() ? json(nullptr) : json(u.Error)) << *found;
            EXPECT_EQ(r["unit"]["name"], "MORAVENT SIM UNIT");
            EXPECT_EQ(r["job"]["image_sha256"], job["image_sha256"]);
            EXPECT_EQ(r["job"]["identifier"], "MV-100 rev B");
            EXPECT_EQ(r["job"]["image_length"], image.size());
            EXPECT_EQ(r["usb"], nullptr);
            EXPECT_GE(r["duration_s"].get<double>(), 0.0);
            EXPECT_EQ(r["time_start"].get<std::string>().size(), 29u) << r["time_start"]; // ms and offset
            EXPECT_EQ(FlashHolds(*sims[i], image), u.Result == "ok") << port;
            EXPECT_EQ(r["mode"], std::count(args.begin(), args.end(), "--verify-only") ? "verify" : "program");
            EXPECT_EQ(r["round"], 1);
            EXPECT_EQ(r["fixture"], nullptr);
            if (r["mode"] == "verify") {
                EXPECT_EQ(sims[i]->Stats().erases, 0) << port;
            }
        }
        before = lines;

        if (run.Units.size() == 1) {
            EXPECT_EQ(o.Out, "Unit Successfully Programmed!\n"); // the single-port texts, unchanged
            EXPECT_EQ(Told(o.Err), "");
        } else if (std::count(args.begin(), args.end(), "--json") > 0) {
            // Every port's events begin with start and end with its one end.
            const std::vector<json> events = JsonLines(o.Out);
            for (const auto& sim : sims) {
                std::vector<std::string> kinds;
                for (const json& e : events)
                    if (e.value("port", "") == sim->SlavePath()) // the summary has none
                        kinds.push_back(e["event"]);
                ASSERT_GE(kinds.size(), 3u);
                EXPECT_EQ(kinds.front(), "start");
                EXPECT_EQ(kinds.back(), "end");
                EXPECT_EQ(std::count(kinds.begin(), kinds.end(), "end"), 1);
            }
            for (const json& e : events)
                EXPECT_EQ(e["time"].get<std::string>().size(), 29u) << e;
            const json& summary = events.back();
            EXPECT_EQ(summary["event"], "summary");
            EXPECT_EQ(summary["programmed"], 1);
            EXPECT_EQ(summary["failed"], 1);
            EXPECT_EQ(summary["yield"], 0.5);
        } else if (std::count(args.begin(), args.end(), "--log") > 0) {
            EXPECT_NE(o.Out.find("Unit Successfully Programmed!"), std::string::npos) << o.Out;
            EXPECT_NE(o.Out.find("\nUnits: 3  Programmed: 2  Failed: 1  Cancelled: 0  Yield: 66.7%  Wall time: "),
                      std::string::npos)
                << o.Out;
            for (const auto& sim : sims) {
                const std::string name = sim->SlavePath().substr(5); // pts/N
                EXPECT_TRUE(fs::exists(dir / ("comms_pts_" + name.substr(4) + ".txt"))) << name;
            }
        }
    }
}

// A worker killed outright is that unit's failure, with the reason; the other units go on.
// Then Ctrl-C cancels the rest cleanly: the transfer ends with the abort marker.
TEST(Station, AKilledWorkerIsItsUnitsFailureAndCtrlCCancelsTheRest)
{
    TempDir dir;
    const std::vector<uint8_t> image = Pattern(64 * 128, 7);
    const std::string programmer = BuildJob(dir, image);
    std::vector<std::unique_ptr<unitsim::UnitSimulator>> sims;
    TArgs args = Args({"--report", dir / "report.jsonl", "--no-progress", "--method", "user"});
    for (int i = 0; i < 3; ++i) {
        unitsim::SimConfig cfg;
        cfg.blockDelayMs = 60; // about 4 s of programming
        sims.push_back(std::make_unique<unitsim::UnitSimulator>(cfg));
        sims.back()->Start();
        args.insert(args.end(), {"--port", sims.back()->SlavePath()});
    }
    TChildProcess station(programmer, args);
    ASSERT_TRUE(station.Started());
    const pid_t pid = station.Pid();
    // Without a terminal the station says each phase on a line of its own.
    const std::string& err = station.Err();
    const auto waitFor = [&](const std::string& line) { return station.WaitForError(line, 10000); };
    // Every port programming, so each is cancelled in that phase whatever the load on the machine.
    for (const auto& sim : sims)
        ASSERT_TRUE(waitFor(sim->SlavePath() + ": program\n")) << err;
    const pid_t victim = WorkerOf(pid, sims[0]->SlavePath());
    ASSERT_GT(victim, 0);
    ::kill(victim, SIGKILL);
    ASSERT_TRUE(waitFor(sims[0]->SlavePath() + ": failed: ")) << err;
    ::kill(pid, SIGINT);
    ASSERT_TRUE(station.WaitForFinished(30000));
    EXPECT_EQ(station.ExitCode(), 1);

    const std::vector<uint8_t> bytes = ReadFile(dir / "report.jsonl");
    const std::vector<json> records = JsonLines(std::string(bytes.begin(), bytes.end()));
    ASSERT_EQ(records.size(), 3u) << err;
    for (const json& r : records) {
        const bool killed = r["port"] == sims[0]->SlavePath();
        EXPECT_EQ(r["result"], killed ? "failed" : "cancelled") << r;
        EXPECT_EQ(r["phase"], "program") << r;
        const std::string error = r["error"];
        EXPECT_NE(error.find(killed ? "signal 9" : "Programming Aborted by User."), std::string::npos) << r;
    }
    for (size_t i = 1; i < sims.size(); ++i) {
        EXPECT_EQ(sims[i]->Stats().programs, 0);
        EXPECT_TRUE(sims[i]->Violations().empty()) << sims[i]->Trace();
    }
}

// The job is read once: a release engineer's new build put in place between two rounds of
// --loop (atomically, as moravent-job build does) reaches neither the units nor the records
// of this station, which go on with the job they started with.
TEST(Station, TheLoopProgramsTheJobItHashed)
{
    TempDir dir;
    const std::vector<uint8_t> imageA = Pattern(8 * 128, 1), imageB = Pattern(8 * 128, 2);
    const std::string programmer = BuildJob(dir, imageA);
    const json jobA = json::parse(RunProgram(MORAVENT_JOB, Args({"show", programmer})).Out);
    TempDir other;
    const std::string newBuild = BuildJob(other, imageB);
    unitsim::SimConfig cfg;
    unitsim::UnitSimulator sim(cfg);
    sim.Start();
    // --loop needs a terminal: script(1) lends one, its input a FIFO the test answers through.
    ASSERT_EQ(::mkfifo((dir / "keys").c_str(), 0600), 0);
    const std::string command = std::string(MORAVENT_FLASH_CLI) + " --loop --no-progress --port " + sim.SlavePath() +
        " --report " + dir / "report.jsonl" + " --job " + programmer;
    TChildProcess station("sh", Args({"-c", "exec script -qefc \"$0\" /dev/null < \"$1\"", command, dir / "keys"}));
    ASSERT_TRUE(station.Started());
    std::ofstream keys(dir / "keys");
    const std::string prompt = "Press Enter to program the next units, q to quit: ";
    ASSERT_TRUE(station.WaitForOutput(prompt, 30000)) << station.Out();
    fs::rename(newBuild, programmer);
    keys << "\n" << std::flush;
    ASSERT_TRUE(station.WaitForOutput("Programmed: 2", 30000)) << station.Out();
    keys << "q\n" << std::flush;
    ASSERT_TRUE(station.WaitForFinished(30000));
    EXPECT_EQ(station.ExitCode(), 0) << station.Out();

    EXPECT_TRUE(FlashHolds(sim, imageA)) << "the unit got the job the records name";
    const std::vector<uint8_t> bytes = ReadFile(dir / "report.jsonl");
    const std::vector<json> records = JsonLines(std::string(bytes.begin(), bytes.end()));
    ASSERT_EQ(records.size(), 2u);
    for (const json& r : records)
        EXPECT_EQ(r["job"]["image_sha256"], jobA["image_sha256"]);
}

// A line's station from its file (paths relative to it): named fixtures; between rounds the
// operator retries the failed one, names one, mistypes one. Each record says its fixture and
// round; a key the file should not have is named.
TEST(Station, TheOperatorRetriesOrNamesFixturesOfAStationFile)
{
    TempDir dir;
    BuildJob(dir, Pattern(8 * 128, 4));
    unitsim::SimConfig good, bad;
    bad.eraseVerdict = '%';
    unitsim::UnitSimulator a(good), b(bad);
    a.Start();
    b.Start();
    const json line = {{"job", "programmer"}, {"report", "report.jsonl"}, {"method", "user"},
                       {"fixtures", {{"A1", a.SlavePath()}, {"A2", b.SlavePath()}}}};
    std::ofstream(dir / "line.json") << line.dump();
    std::ofstream(dir / "typo.json") << json{{"fixture", "A1"}}.dump();
    const Outcome typo = RunProgram(MORAVENT_FLASH_CLI, Args({"--station", dir / "typo.json"}));
    EXPECT_EQ(typo.Exit, 2);
    EXPECT_NE(typo.Err.find("key 'fixture': unknown key (job, fixtures,"), std::string::npos) << typo.Err;

    ASSERT_EQ(::mkfifo((dir / "keys").c_str(), 0600), 0);
    const std::string command = std::string(MORAVENT_FLASH_CLI) + " --loop --no-progress --station " + dir / "line.json";
    TChildProcess station("sh", Args({"-c", "exec script -qefc \"$0\" /dev/null < \"$1\"", command, dir / "keys"}));
    ASSERT_TRUE(station.Started());
    std::ofstream keys(dir / "keys");
    const struct {
        std::string Keys, Then;
    } steps[] = {
        {"", "To program again: A2 (r: only those; fixture names: only the ones named)"},
        {"r\n", "Programmed: 1  Failed: 2  Cancelled: 0  Yield: 33.3%"},
        {"a1 A3\n", "No fixture A3 (fixtures: A1 A2)."},
        {"A1\n", "Programmed: 2  Failed: 2  Cancelled: 0  Yield: 50.0%"},
    };
    for (const auto& step : steps) {
        keys << step.Keys << std::flush;
        ASSERT_TRUE(station.WaitForOutput(step.Then, 30000)) << station.Out();
    }
    keys << "q\n" << std::flush;
    ASSERT_TRUE(station.WaitForFinished(30000));
    EXPECT_EQ(station.ExitCode(), 1) << station.Out();
    EXPECT_NE(station.Out().find("Units: 2  Programmed: 1  Failed: 1  Cancelled: 0  Yield: 50.0%  Wall time: "),
              std::string::npos)
        << station.Out();

    const std::vector<uint8_t> bytes = ReadFile(dir / "report.jsonl");
    std::vector<std::string> seen;
    for (const json& r : JsonLines(std::string(bytes.begin(), bytes.end())))
        seen.push_back(r["fixture"].get<std::string>() + " " + std::to_string(r["round"].get<int>()) + " " +
                       r["result"].get<std::string>());
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, (std::vector<std::string>{"A1 1 ok", "A1 3 ok", "A2 1 failed", "A2 2 failed"}));
}

// A report that cannot take records stops everything before a unit is touched, and a FIFO
// does not hang the open.
TEST(Station, AReportThatCannotBeWrittenTouchesNoUnit)
{
    TempDir dir;
    const std::string programmer = BuildJob(dir, Pattern(1024));
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0644), 0);
    unitsim::SimConfig cfg;
    unitsim::UnitSimulator a(cfg), b(cfg);
    a.Start();
    b.Start();
    const std::string fifo = dir / "fifo";
    const std::string folder = dir / "";
    struct Case {
        TArgs Args;
        std::string Err;
    } cases[] = {
        {Args({"--report", fifo, "--port", a.SlavePath()}),
         "Cannot open report file " + fifo + " (it is a FIFO, not a file)\n"},
        {Args({"--report", folder, "--port", a.SlavePath(), "--port", b.SlavePath()}),
         "Cannot open report file " + folder + " (it is a directory)\n"},
        {Args({"--port", a.SlavePath(), "--port", "B9=usb:NO-SUCH-SERIAL"}),
         "The station did not start: B9 cannot be opened (--skip-missing starts without it).\n"},
    };
    for (const Case& c : cases) {
        const Outcome o = RunProgram(programmer, c.Args);
        EXPECT_EQ(o.Exit, 1);
        EXPECT_EQ(o.Err.substr(o.Err.rfind('\n', o.Err.size() - 2) + 1), c.Err) << o.Err;
    }
    EXPECT_EQ(a.Stats().userConnects + b.Stats().userConnects, 0);
}

// A line is whole or absent: a disk that fills mid-line gets it taken back, and a fragment a
// writer left behind is never continued by the next record.
TEST(Station, AReportLineIsWholeOrAbsent)
{
    TempDir dir;
    const std::string programmer = BuildJob(dir, Pattern(1024));
    const std::string report = dir / "report.jsonl";
    std::ofstream(report) << "{\"earlier\": 1}\n";
    const auto before = fs::file_size(report);
    unitsim::SimConfig cfg;
    unitsim::UnitSimulator sim(cfg);
    sim.Start();
    const TArgs run = Args({programmer, "--port", sim.SlavePath(), "--report", report});
    TArgs full = Args({"--fsize=" + std::to_string(before + 100)}); // room for 100 bytes more
    full.insert(full.end(), run.begin(), run.end());
    const Outcome o = RunProgram("prlimit", full);
    EXPECT_EQ(o.Exit, 1);
    EXPECT_EQ(Lines(o.Err).back(), "Cannot write report file " + report + " (the disk is full)");
    EXPECT_EQ(o.Out, "");
    EXPECT_EQ(fs::file_size(report), before);

    std::ofstream(report, std::ios::app) << "{\"cut\": ";
    const Outcome ok = RunProgram(programmer, TArgs(run.begin() + 1, run.end()));
    EXPECT_EQ(ok.Exit, 0) << ok.Err;
    const std::vector<uint8_t> bytes = ReadFile(report);
    const std::vector<std::string> lines = Lines(std::string(bytes.begin(), bytes.end()));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], "{\"cut\": ");
    EXPECT_EQ(json::parse(lines[2])["result"], "ok");
}

// Two stations append to one report at once, each line whole; with --skip-missing a selector
// that matches no adapter sits out, recorded as skipped.
TEST(Station, TwoStationsAppendToOneReport)
{
    TempDir dir;
    const std::vector<uint8_t> image = Pattern(32 * 128, 3);
    const std::string programmer = BuildJob(dir, image);
    const std::string report = dir / "report.jsonl";
    unitsim::SimConfig cfg;
    unitsim::UnitSimulator a(cfg), b(cfg), c(cfg);
    for (auto* sim : {&a, &b, &c})
        sim->Start();
    const TArgs stations[] = {
        Args({"--report", report, "--port", a.SlavePath(), "--port", "B9=usb:NO-SUCH-SERIAL", "--skip-missing"}),
        Args({"--report", report, "--port", b.SlavePath(), "--port", c.SlavePath()}),
    };
    std::vector<std::unique_ptr<TChildProcess>> running;
    for (const TArgs& args : stations)
        running.push_back(StartProgram(programmer, args));
    for (auto& p : running)
        ASSERT_TRUE(p->WaitForFinished(60000));
    EXPECT_EQ(running[0]->ExitCode(), 0) << running[0]->Err();
    EXPECT_EQ(running[1]->ExitCode(), 0) << running[1]->Err();

    const std::vector<uint8_t> bytes = ReadFile(report);
    const std::vector<json> records = JsonLines(std::string(bytes.begin(), bytes.end()));
    ASSERT_EQ(records.size(), 4u);
    for (const json& r : records) {
        const bool unmatched = r["port"] == "usb:NO-SUCH-SERIAL";
        EXPECT_EQ(r["result"], unmatched ? "skipped" : "ok") << r;
        EXPECT_EQ(r["fixture"], unmatched ? json("B9") : json(nullptr)) << r;
        if (unmatched) {
            EXPECT_EQ(r["error"].get<std::string>().rfind("No USB serial adapter with ", 0), 0u) << r;
        }
    }
    for (auto* sim : {&a, &b, &c})
        EXPECT_TRUE(FlashHolds(*sim, image));
}
