#pragma once
// Running the headless programmer as a user does, against in-process simulated units: jobs
// stamped by moravent-job into a copy of it, programs run to their end (one at a time or
// several at once), temporary directories. Needs MORAVENT_JOB and MORAVENT_FLASH_CLI.
#include <gtest/gtest.h>

#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "child_process.h"
#include "framework/file_input.h"

namespace clitest {

namespace fs = std::filesystem;

struct Outcome {
    int Exit = -1;
    std::string Out, Err;
};

using TArgs = std::vector<std::string>;

inline TArgs Args(std::initializer_list<std::string> a)
{
    return a;
}

inline std::string Joined(const TArgs& args)
{
    std::string s;
    for (const std::string& a : args)
        s += (s.empty() ? "" : " ") + a;
    return s;
}

// Starts a program with standard input from /dev/null; Finish collects it.
inline std::unique_ptr<TChildProcess> StartProgram(const std::string& program, const TArgs& args)
{
    auto p = std::make_unique<TChildProcess>(program, args);
    EXPECT_TRUE(p->Started()) << program;
    return p;
}

inline Outcome Finish(TChildProcess& p, int timeoutMs = 60000)
{
    EXPECT_TRUE(p.WaitForFinished(timeoutMs));
    return {p.ExitCode(), p.Out(), p.Err()};
}

// Runs a program to its end (the event loop of this thread is not needed meanwhile:
// in-process simulators serve on their own threads).
inline Outcome RunProgram(const std::string& program, const TArgs& args, int interruptAfterMs = -1)
{
    const std::unique_ptr<TChildProcess> p = StartProgram(program, args);
    if (interruptAfterMs >= 0 && !p->WaitForFinished(interruptAfterMs))
        ::kill(p->Pid(), SIGINT);
    return Finish(*p);
}

class TempDir {
public:
    TempDir()
    {
        Path = fs::temp_directory_path() / ("flashcli_" + std::to_string(::getpid()) + "_" + std::to_string(++N()));
        fs::remove_all(Path);
        fs::create_directories(Path);
    }
    ~TempDir() { fs::remove_all(Path); }
    std::string operator/(const std::string& name) const { return (Path / name).string(); }

private:
    static int& N()
    {
        static int n = 0;
        return n;
    }
    fs::path Path;
};

inline void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// Stamps a job (raw image, typical settings, extra JSON keys) into a copy of the CLI.
inline std::string BuildJob(const TempDir& dir, const std::vector<uint8_t>& image, const std::string& extra = "")
{
    WriteFile(dir / "image.bin", image);
    std::ofstream(dir / "job.json")
        << "{\"title\": \"Test Job\", \"flash_start\": 6144, \"flash_length\": 256000, \"flash_check_seed\": 129,"
           " \"program_serial\": {\"baud\": 57600, \"data_bits\": 8, \"stop_bits\": 1, \"parity\": \"none\"},"
           " \"image\": \"image.bin\""
        << extra << "}";
    const Outcome built = RunProgram(
        MORAVENT_JOB, Args({"build", dir / "job.json", "-o", dir / "programmer", "--template", MORAVENT_FLASH_CLI}));
    EXPECT_EQ(built.Exit, 0) << built.Err;
    return dir / "programmer";
}

inline std::string WriteEmpty(const std::string& path)
{
    std::ofstream{path};
    return path;
}

inline std::vector<uint8_t> ReadFile(const std::string& path)
{
    const std::string bytes = ReadFileBytes(path, size_t(1) << 30);
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

inline std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// Standard error without the phase lines a run writes when it draws no progress bar
// ("/dev/pts/3: erase"): what the run told besides where it was.
inline std::string Told(const std::string& err)
{
    std::string kept;
    for (const std::string& line : Lines(err)) {
        const size_t colon = line.rfind(": ");
        const std::string tail = colon == std::string::npos ? "" : line.substr(colon + 2);
        if (tail != "connect" && tail != "erase" && tail != "program" && tail != "verify" && tail != "finish")
            kept += line + "\n";
    }
    return kept;
}

} // namespace clitest
