// The headless programmer as a user runs it: jobs stamped by moravent-job, the unit
// simulated (in-process, or the moravent-unitsim command for the end-to-end run).
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "cli_rig.h"
#include "flash_rig.h"
#include "framework/file_input.h"
#include "serial/CPort.h"
#include "serial/serial_platform.h"
#include "storage/block_writer.h"
#include "storage/storeexe.h"

namespace fs = std::filesystem;
using namespace flashtest;
using namespace clitest;

// A usage error is one line and a pointer to --help, not the whole help.
TEST(Cli, UsageErrorsExitTwo)
{
    const struct {
        TArgs Args;
        std::string Error;
    } cases[] = {
        {{}, "--port is required"},
        {Args({"--method", "auto"}), "--port is required"},
        {Args({"--port"}), "option --port needs a value"},
        {Args({"--port="}), "option --port has an empty value"},
        {Args({"--port", ""}), "option --port has an empty value"},
        {Args({"--port", "/dev/x", "extra"}), "unknown argument 'extra'"},
        {Args({"--port", "/dev/x", "--method", "fast"}), "--method must be auto, user or boot, not 'fast'"},
        {Args({"--port", "/dev/x", "--bogus"}), "unknown argument '--bogus'"},
        {Args({"--list-ports", "--port", "/dev/x"}), "--list-ports takes no other options"},
        {Args({"--list-ports", "--report", "r.jsonl"}), "--list-ports takes no other options"},
        {Args({"--port", "/dev/x", "--report"}), "option --report needs a value"},
        {Args({"--port", "/dev/x", "--port", "/dev/y", "--port", "/dev/x"}), "--port /dev/x is given twice"},
        {Args({"--port", "/dev/x", "--loop"}), // standard input is no terminal
         "--loop needs a terminal on standard input (Enter starts the next units)"},
        {Args({"--port", "/dev/x", "--identify", "--skip-if-current"}),
         "--identify and --skip-if-current cannot be given together"},
        {Args({"--list-ports", "--verify-only"}), "--list-ports takes no other options"},
        {Args({"--port", "A1=/dev/x", "--port", "A1=/dev/y"}), "fixture A1 is named twice"},
        {Args({"--port", "Q=/dev/x"}), "fixture name Q is one of the operator's keys (r, q); choose another"},
        {Args({"--port", "A1="}), "--port A1= names no port"},
        {Args({"--station", "/nonexistent/line.json"}),
         "Cannot open station file /nonexistent/line.json (No such file or directory)"},
    };
    for (const auto& c : cases) {
        const Outcome o = RunProgram(MORAVENT_FLASH_CLI, c.Args);
        EXPECT_EQ(o.Exit, 2) << Joined(c.Args);
        EXPECT_EQ(o.Err,
                  "moravent-flash-cli: " + c.Error + "\nTry 'moravent-flash-cli --help' for more information.\n");
        EXPECT_TRUE(o.Out.empty());
    }
    EXPECT_EQ(RunProgram(MORAVENT_FLASH_CLI, Args({"--help"})).Exit, 0);
    EXPECT_EQ(RunProgram(MORAVENT_FLASH_CLI, Args({"--list-ports"})).Exit, 0);
}

TEST(Cli, InvalidJobsAreReportedAsNoValidImage)
{
    TempDir dir;
    WriteFile(dir / "plain.bin", std::vector<uint8_t>(1000, 0x41));
    std::ofstream(dir / "job.json") << "  {\"image\": \"image.bin\"}\n";
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    // Refused by its size alone, before anything is read.
    ASSERT_EQ(::truncate(WriteEmpty(dir / "huge.bin").c_str(), (off_t(256) << 20) + 1), 0);
    const std::string self = MORAVENT_FLASH_CLI;
    struct Case {
        TArgs Args;
        std::string Err;
    } cases[] = {
        // The unstamped program carries a zero block.
        {Args({"--port", "/dev/null"}),
         "This program carries no job: give it one with --job FILE (a programmer made by 'moravent-job build'), or "
         "stamp one into a copy of it with 'moravent-job build JOB.json -o OUT --template " +
             self + "'.\nNo Valid FLASH Image Present! (Stored data is not valid).\n"},
        {Args({"--port", "/dev/null", "--job", self}),
         self + " carries no job: stamp one into a copy of it with 'moravent-job build JOB.json -o OUT --template " +
             self + "'.\nNo Valid FLASH Image Present! (Stored data is not valid).\n"},
        {Args({"--port", "/dev/null", "--job", dir / "job.json"}),
         dir / "job.json" + " is a job file, not a programmer made from one: build one with 'moravent-job build " +
             dir / "job.json" +
             " -o OUT' and give OUT to --job.\nNo Valid FLASH Image Present! (No stored data block in " +
             dir / "job.json" + ").\n"},
        {Args({"--port", "/dev/null", "--job", dir / "huge.bin"}),
         "No Valid FLASH Image Present! (Cannot read job file " + (dir / "huge.bin") +
             " (268435457 bytes, more than the 268435456-byte limit)).\n"},
        {Args({"--port", "/dev/null", "--job", dir / "plain.bin"}),
         "No Valid FLASH Image Present! (No stored data block in " + (dir / "plain.bin") + ").\n"},
        {Args({"--port", "/dev/null", "--job", dir / "missing.bin"}),
         "No Valid FLASH Image Present! (Cannot open job file " + (dir / "missing.bin") +
             " (No such file or directory)).\n"},
        // Never a blocking open or an endless read: a device, a FIFO, a directory.
        {Args({"--port", "/dev/null", "--job", "/dev/zero"}),
         "No Valid FLASH Image Present! (Cannot read job file /dev/zero (it is a device, not a file)).\n"},
        {Args({"--port", "/dev/null", "--job", dir / "fifo"}),
         "No Valid FLASH Image Present! (Cannot read job file " + (dir / "fifo") + " (it is a FIFO, not a file)).\n"},
        {Args({"--port", "/dev/null", "--job", "/etc"}),
         "No Valid FLASH Image Present! (Cannot read job file /etc (it is a directory)).\n"},
    };
    for (const Case& c : cases) {
        const Outcome o = RunProgram(MORAVENT_FLASH_CLI, c.Args);
        EXPECT_EQ(o.Exit, 1);
        EXPECT_EQ(o.Err, c.Err);
        EXPECT_TRUE(o.Out.empty());
    }
}

// A job whose image can never be programmed leaves the unit untouched: nothing is sent.
TEST(Cli, ImageNotAWholeNumberOfBlocksNeverTouchesTheUnit)
{
    TempDir dir;
    const std::string programmer = BuildJob(dir, Pattern(300));
    unitsim::SimConfig cfg;
    unitsim::UnitSimulator sim(cfg);
    sim.Start();
    const Outcome o = RunProgram(programmer, Args({"--port", sim.SlavePath(), "--no-progress"}));
    EXPECT_EQ(o.Exit, 1);
    EXPECT_EQ(o.Err, "Buffer size is not a multiple of the programming block size.\n");
    EXPECT_EQ(sim.Stats().userConnects, 0);
    EXPECT_EQ(sim.Stats().erases, 0);
}

// A stored empty image is programmed as the job says (erase, nothing written), but the run
// says so before it touches the unit.
TEST(Cli, AJobWithoutAnImageSaysSo)
{
    TempDir dir;
    const std::string programmer = BuildJob(dir, {}, ", \"allow_empty_image\": true");
    unitsim::SimConfig cfg;
    unitsim::UnitSimulator sim(cfg);
    sim.Start();
    const Outcome o = RunProgram(programmer, Args({"--port", sim.SlavePath()}));
    EXPECT_EQ(o.Exit, 0) << o.Err;
    EXPECT_EQ(Told(o.Err),
              "Note: the job carries no image: the unit's flash region is erased and nothing is programmed.\n");
    EXPECT_EQ(sim.Stats().erases, 1);
}

TEST(Cli, AutoFallsBackToTheBootMethodWithTheNotice)
{
    TempDir dir;
    const std::vector<uint8_t> image = Pattern(2048, 3);
    const std::string programmer = BuildJob(dir, image);
    unitsim::SimConfig cfg;
    cfg.applicationRunning = false;
    cfg.bootAnswerFrom = 2;
    unitsim::UnitSimulator sim(cfg);
    sim.Start();
    const Outcome o = RunProgram(MORAVENT_FLASH_CLI,
                                 Args({"--port", sim.SlavePath(), "--job", programmer, "--log", dir / "comms.txt"}));
    EXPECT_EQ(o.Exit, 0) << o.Err;
    EXPECT_EQ(o.Out, "Unit Successfully Programmed!\n");
    // Without a terminal a line at each phase shows where the run is.
    const std::string port = sim.SlavePath();
    EXPECT_EQ(o.Err,
              port +
                  ": connect\n"
                  "User Connect Method Failed (No reply to start command).\n"
                  "Now Trying Boot Method: Turn unit off.\n"
                  "Reset the Unit\n" +
                  port + ": erase\n" + port + ": program\n" + port + ": verify\n" + port + ": finish\n");
    const std::vector<uint8_t> flash = sim.Flash();
    EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
    EXPECT_TRUE(sim.Violations().empty()) << sim.Trace();
    const std::vector<uint8_t> log = ReadFile(dir / "comms.txt");
    const std::string text(log.begin(), log.end());
    EXPECT_NE(text.find("TFlashFDTDevice.BootConnect: Got connect response"), std::string::npos);
    EXPECT_NE(text.find("CommsLoggingDestroy: Logging stopped"), std::string::npos);
}

TEST(Cli, FailuresGiveTheMessageWithTheFullStopRule)
{
    TempDir dir;
    const std::string programmer = BuildJob(dir, Pattern(1024), ", \"log\": true");
    struct Case {
        const char* Method;
        std::function<void(unitsim::SimConfig&)> Setup;
        std::string Err;
    } cases[] = {
        {"user", [](auto& c) { c.eraseVerdict = '%'; }, "Erase Failed: Device Failure.\n"},
        {"user", [](auto& c) { c.verify.failBlock = 3; }, "Verify Failed at address 0x00000100 (256).\n"},
        {"user", [](auto& c) { c.seed = 1; },
         "The unit reports name \"MORAVENT SIM UNIT\", seed 0x0001, start 0x00001800, length 256000; the job "
         "expects seed 0x0081, start 0x00001800, length 256000.\nFlash uP does not match definition.\n"},
        {"boot",
         [](auto& c) {
             c.fault(unitsim::Reply::Connect) = {unitsim::FaultKind::Wrong, 0};
         },
         "Reset the Unit\nUnexpected reply to connect command.\n"},
    };
    for (const Case& c : cases) {
        unitsim::SimConfig cfg;
        c.Setup(cfg);
        unitsim::UnitSimulator sim(cfg);
        sim.Start();
        const Outcome o = RunProgram(programmer, Args({"--port", sim.SlavePath(), "--method", c.Method}));
        EXPECT_EQ(o.Exit, 1);
        EXPECT_EQ(Told(o.Err), c.Err);
        EXPECT_TRUE(o.Out.empty());
    }
    // The record's log switch writes the log beside the job, named after it.
    EXPECT_TRUE(fs::exists(dir / "programmer_log.txt"));
}

TEST(Cli, CtrlCDuringTheBootConnectCancels)
{
    TempDir dir;
    const std::string programmer = BuildJob(dir, Pattern(1024));
    unitsim::SimConfig cfg;
    cfg.bootAnswerFrom = 0;
    unitsim::UnitSimulator sim(cfg);
    sim.Start();
    const Outcome o = RunProgram(programmer, Args({"--port", sim.SlavePath(), "--method", "boot"}), 1500);
    EXPECT_EQ(o.Exit, 1);
    EXPECT_EQ(Told(o.Err), "Reset the Unit\nConnect Cancelled by User.\n");
    EXPECT_LT(sim.Stats().bootAttempts, 100);
}

TEST(Cli, CtrlCDuringTheTransferAbortsIt)
{
    TempDir dir;
    const std::string programmer = BuildJob(dir, Pattern(64 * 128));
    unitsim::SimConfig cfg;
    cfg.blockDelayMs = 50; // about 3 s of programming
    unitsim::UnitSimulator sim(cfg);
    sim.Start();
    const Outcome o = RunProgram(programmer, Args({"--port", sim.SlavePath(), "--method", "user"}), 2500);
    EXPECT_EQ(o.Exit, 1);
    EXPECT_EQ(Told(o.Err), "Programming Aborted by User.\n");
    EXPECT_EQ(sim.Stats().programs, 0);
    EXPECT_TRUE(sim.Violations().empty()) << sim.Trace();
}

// A record whose image length lies outside the image region is refused before the port
// is touched, whatever the length says.
TEST(Cli, ImageLengthOutsideTheRegionIsRefused)
{
    TempDir dir;
    const std::string programmer = BuildJob(dir, Pattern(1024));
    std::vector<uint8_t> bytes = ReadFile(programmer);
    std::string exe(bytes.begin(), bytes.end());
    const std::vector<size_t> at = FindStoredBlock(exe);
    ASSERT_EQ(at.size(), 1u);
    const auto* payload = reinterpret_cast<const uint8_t*>(exe.data() + at[0] + layout::PayloadOffset);
    unitsim::SimConfig cfg;
    unitsim::UnitSimulator sim(cfg);
    sim.Start();
    for (int32_t length : {-1, layout::ImageRegionSize + 1}) {
        std::vector<uint8_t> record(payload, payload + layout::PayloadSize);
        PutI32(record, layout::ImageLength, length);
        std::string patched = exe;
        StampBlock(patched, at[0], record);
        std::ofstream(programmer, std::ios::binary | std::ios::trunc) << patched;
        const Outcome o = RunProgram(programmer, Args({"--port", sim.SlavePath()}));
        EXPECT_EQ(o.Exit, 1);
        EXPECT_NE(o.Err.find(std::to_string(length)), std::string::npos) << o.Err;
    }
    EXPECT_EQ(sim.Stats().userConnects, 0);
    EXPECT_TRUE(sim.Trace().find("host>") == std::string::npos);
}

// A port that cannot be opened says why on the lines before the error line: the explanation
// holds each expected text, in order. A name with a '/' is a path from the current folder, a
// bare name one there when /dev has none.
TEST(Cli, OpenFailuresExplainThemselves)
{
    TempDir dir;
    const std::string programmer = BuildJob(dir, Pattern(1024));
    unitsim::SimConfig cfg;
    unitsim::UnitSimulator sim(cfg);
    sim.Start();
    const std::string link = dir / "ttyFIXTURE";
    fs::create_symlink(sim.SlavePath(), link);
    std::ofstream(dir / "notes.txt") << "not a port";
    TComPort holder;
    // Another program holds the port under a command line longer than the line allows.
    const std::string holderCommand = "fixture-holder --station 3 --unit-serial A50285BI --operator line-2 --shift "
                                      "night --notes " +
        std::string(60, 'x');
    std::unique_ptr<TChildProcess> otherHolder;
    const auto holdByAnotherProgram = [&] {
        otherHolder = StartProgram(
            "bash",
            Args({"-c", "exec 3<>\"$0\" && flock 3 && echo held && exec -a \"$1\" sleep 60", link, holderCommand}));
        ASSERT_EQ(otherHolder->ReadLine(5000), "held") << otherHolder->Err();
    };
    const std::string notTerminal = " is not a serial port (not a terminal device).";
    struct Case {
        const char* Name;
        std::function<void()> Setup, Undo;
        std::string Port;
        bool AsOtherUser, InDir;
        int SystemError;
        std::vector<std::string> Explained;
    } cases[] = {
        {"permission",
         [&] { ::chmod(sim.SlavePath().c_str(), 0600); },
         [&] { ::chmod(sim.SlavePath().c_str(), 0620); },
         link,
         true,
         false,
         EACCES,
         {"Permission denied: " + link + " (" + sim.SlavePath() + ") belongs to root, group ",
          "the udev rules in " + UdevRulesPath() + " do it", "sudo usermod -aG dialout \"$USER\""}},
        {"busy",
         [&] { holder.SetPort(link), holder.OpenPort(); },
         [&] { holder.ClosePort(); },
         link,
         false,
         false,
         EBUSY,
         {link + " is held by process " + std::to_string(::getpid()) + " ("}},
        {"busy, a bare name in the current folder, the holder by its command",
         holdByAnotherProgram,
         [&] { otherHolder.reset(); },
         "ttyFIXTURE",
         false,
         true,
         EBUSY,
         {"ttyFIXTURE is held by process ", " (" + (holderCommand + " 60").substr(0, 97) + "...)"}},
        {"busy, a path from the current folder",
         [&] { holder.SetPort(link), holder.OpenPort(); },
         [&] { holder.ClosePort(); },
         "./ttyFIXTURE",
         false,
         true,
         EBUSY,
         {"./ttyFIXTURE is held by process "}},
        {"missing", [] {}, [] {}, "/dev/ttyNOSUCH7", false, false, ENOENT, {"There is no serial port /dev/ttyNOSUCH7"}},
        {"not a tty", [] {}, [] {}, dir / "notes.txt", false, false, ENOTTY, {dir / "notes.txt" + notTerminal}},
        {"not a tty, a path from the current folder",
         [] {},
         [] {},
         "./notes.txt",
         false,
         true,
         ENOTTY,
         {"./notes.txt" + notTerminal}},
        {"not a tty, a bare name in the current folder",
         [] {},
         [] {},
         "notes.txt",
         false,
         true,
         ENOTTY,
         {"notes.txt" + notTerminal}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        if (c.AsOtherUser && ::geteuid() != 0) {
            std::fprintf(stderr, "skipping the %s row: it needs root to run as another user\n", c.Name);
            continue;
        }
        c.Setup();
        TArgs command = Args({programmer, "--port", c.Port, "--method", "boot"});
        if (c.AsOtherUser)
            command.insert(command.begin(), {"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"});
        if (c.InDir)
            command.insert(command.begin(), {"env", "-C", dir / ""});
        const Outcome o = RunProgram(command[0], TArgs(command.begin() + 1, command.end()));
        c.Undo();
        EXPECT_EQ(o.Exit, 1);
        std::vector<std::string> lines = Lines(o.Err);
        ASSERT_GE(lines.size(), 2u) << o.Err;
        EXPECT_EQ(lines.back(), "Unable to open com port (win error code: " + std::to_string(c.SystemError) + ")");
        lines.pop_back();
        const std::string explanation = Joined(lines);
        size_t at = 0;
        for (const std::string& text : c.Explained) {
            at = explanation.find(text, at);
            ASSERT_NE(at, std::string::npos) << text << "\nin: " << o.Err;
        }
    }
    EXPECT_EQ(sim.Stats().bootAttempts, 0);
}

// A log that is no file is refused at once, and the run goes on without one: a FIFO given
// with --log, or one where the job's log switch puts the log.
TEST(Cli, LogsThatAreNoFilesAreRefusedAndTheRunGoesOn)
{
    TempDir dir;
    const std::string programmer = BuildJob(dir, Pattern(1024), ", \"log\": true");
    unitsim::SimConfig cfg;
    unitsim::UnitSimulator sim(cfg);
    sim.Start();
    for (const std::string& log : {dir / "comms.fifo", dir / "programmer_log.txt"}) {
        SCOPED_TRACE(log);
        ASSERT_EQ(::mkfifo(log.c_str(), 0600), 0);
        TArgs args = Args({"--port", sim.SlavePath(), "--method", "user"});
        if (log == dir / "comms.fifo")
            args.insert(args.end(), {"--log", log});
        const Outcome o = RunProgram(programmer, args);
        EXPECT_EQ(o.Exit, 0) << o.Err;
        EXPECT_EQ(o.Out, "Unit Successfully Programmed!\n");
        // The phase lines follow: the run went on without its log.
        EXPECT_EQ(Lines(o.Err).at(0),
                  "Log file " + log + " cannot be opened (Cannot open file \"" + log + "\". It is a FIFO, not a file)")
            << o.Err;
        fs::remove(log);
    }
}

// --port usb:SERIAL and usb-path:PATH never guess: no match is an error naming what is there.
TEST(Cli, UsbSelectorsThatMatchNothingAreRefused)
{
    for (const std::string selector : {"usb:NO-SUCH-SERIAL", "usb-path:9-9.9"}) {
        const Outcome o = RunProgram(MORAVENT_FLASH_CLI, Args({"--port", selector}));
        EXPECT_EQ(o.Exit, 1);
        EXPECT_EQ(o.Err.rfind("No USB serial adapter with ", 0), 0u) << o.Err;
        EXPECT_EQ(Lines(o.Err).size(), 1u) << o.Err;
    }
    const Outcome list = RunProgram(MORAVENT_FLASH_CLI, Args({"--list-ports", "--json"}));
    EXPECT_EQ(list.Exit, 0);
    EXPECT_EQ(list.Out.rfind("[", 0), 0u) << list.Out;
    const std::vector<std::string> keys = {"name",    "path",   "driver",   "vid", "pid",   "manufacturer",
                                           "product", "serial", "usb_path", "bus", "pci_id"};
    for (const auto& port : nlohmann::ordered_json::parse(list.Out)) {
        std::vector<std::string> found;
        for (const auto& item : port.items())
            found.push_back(item.key());
        EXPECT_EQ(found, keys) << port.dump();
    }
}

// End to end with the real executables: job builder, simulator command and programmer.
// Each mode against units that carry the image, carry none, differ in one block, are another
// device or never answer: what the unit went through, the last line and the record.
TEST(Cli, RunModesTouchTheFlashOnlyWhenTheyMust)
{
    TempDir dir;
    const std::vector<uint8_t> image = Pattern(2048, 5);
    const std::string programmer = BuildJob(dir, image);
    enum Flash { Fresh, Current, OneBlockDiffers };
    const std::string identity = "The unit reports name \"MORAVENT SIM UNIT\", seed 0x0081, start 0x00001800, "
                                 "length 256000: it matches the job.\n";
    const std::string current = "The unit already carries the job's image.\n";
    const std::string programmed = "Unit Successfully Programmed!\n";
    const std::string differs = "Verify Failed at address 0x00000280 (640).";
    struct Case {
        const char* Mode;
        Flash State;
        std::function<void(unitsim::SimConfig&)> Setup;
        int Exit;
        std::string Out, Err;
        int Erases, Verifies, Finishes;
        const char* Phase;
        bool Programmed;
    } cases[] = {
        {"--identify", Current, {}, 0, identity, "", 0, 0, 0, "done", false},
        {"--identify", Fresh, [](auto& c) { c.seed = 1; }, 1, "",
         "The unit reports name \"MORAVENT SIM UNIT\", seed 0x0001, start 0x00001800, length 256000; the job "
         "expects seed 0x0081, start 0x00001800, length 256000.\nFlash uP does not match definition.\n",
         0, 0, 0, "connect", false},
        {"--identify", Fresh, [](auto& c) { c.applicationRunning = false; }, 1, "",
         "No reply to start command.\n", 0, 0, 0, "connect", false},
        {"--verify-only", Current, {}, 0, current, "", 0, 1, 1, "done", false},
        {"--verify-only", Fresh, {}, 1, "", "Verify Failed at address 0x00000000 (0).\n", 0, 0, 0, "verify", false},
        {"--verify-only", OneBlockDiffers, {}, 1, "", differs + "\n", 0, 0, 0, "verify", false},
        {"--skip-if-current", Current, {}, 0, current, "", 0, 1, 1, "done", false},
        {"--skip-if-current", OneBlockDiffers, {}, 0, programmed,
         "The unit's flash differs from the job's image: " + differs + " Programming it.\n", 1, 1, 1, "done", true},
    };
    for (const Case& c : cases) {
        unitsim::SimConfig cfg;
        if (c.State != Fresh) {
            cfg.initialFlash.assign(size_t(cfg.flashLength), 0xFF);
            std::copy(image.begin(), image.end(), cfg.initialFlash.begin());
        }
        if (c.State == OneBlockDiffers)
            cfg.initialFlash[5 * 128 + 7] ^= 0x01;
        if (c.Setup)
            c.Setup(cfg);
        unitsim::UnitSimulator sim(cfg);
        sim.Start();
        const std::string report = dir / (std::string(c.Mode + 2) + std::to_string(int(c.State)) + ".jsonl");
        const Outcome o = RunProgram(programmer, Args({"--port", sim.SlavePath(), "--method", "user", c.Mode,
                                                      "--report", report}));
        const std::string what = std::string(c.Mode) + " on flash " + std::to_string(int(c.State));
        EXPECT_EQ(o.Exit, c.Exit) << what << o.Err;
        EXPECT_EQ(o.Out, c.Out) << what;
        EXPECT_EQ(Told(o.Err), c.Err) << what;
        const unitsim::SimStats stats = sim.Stats();
        EXPECT_EQ(stats.erases, c.Erases) << what;
        EXPECT_EQ(stats.verifies, c.Verifies) << what;
        EXPECT_EQ(stats.finishes, c.Finishes) << what;
        if (c.State != Fresh) {
            const std::vector<uint8_t> flash = sim.Flash();
            EXPECT_EQ(std::equal(image.begin(), image.end(), flash.begin()), c.State == Current || c.Programmed)
                << what;
        }
        const std::vector<uint8_t> bytes = ReadFile(report);
        const nlohmann::json r = nlohmann::json::parse(Lines(std::string(bytes.begin(), bytes.end())).at(0));
        EXPECT_EQ(r["mode"], c.Mode[2] == 'i' ? "identify" : c.Mode[2] == 'v' ? "verify" : "program") << what;
        EXPECT_EQ(r["phase"], c.Phase) << what;
        EXPECT_EQ(r["programmed"], c.Programmed) << what;
        EXPECT_TRUE(sim.Violations().empty()) << what << sim.Trace();
    }
}

TEST(Cli, EndToEndWithTheSimulatorCommand)
{
    TempDir dir;
    const std::vector<uint8_t> image = Pattern(16 * 1024, 9);
    const std::string programmer = BuildJob(dir, image);

    TChildProcess unit(MORAVENT_UNITSIM, Args({"--dump", dir / "dump.bin", "--exit-after-finish"}));
    ASSERT_TRUE(unit.Started());
    const std::string port = unit.ReadLine(5000);
    ASSERT_FALSE(port.empty());

    const Outcome o = RunProgram(programmer, Args({"--port", port}));
    EXPECT_EQ(o.Exit, 0) << o.Err;
    EXPECT_EQ(o.Out, "Unit Successfully Programmed!\n");
    EXPECT_EQ(Told(o.Err), ""); // no terminal: no progress bar
    ASSERT_TRUE(unit.WaitForFinished(10000));
    EXPECT_EQ(unit.ExitCode(), 0) << unit.Err();
    const std::vector<uint8_t> dump = ReadFile(dir / "dump.bin");
    ASSERT_GE(dump.size(), image.size());
    EXPECT_TRUE(std::equal(image.begin(), image.end(), dump.begin()));
}
