// The communications log: line format, escaping, append, refusal of a second writer.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "framework/file_input.h"
#include "serial/logging.h"

namespace {

namespace fs = std::filesystem;

std::string Contents(const fs::path& p)
{
    return fs::exists(p) ? ReadFileBytes(p.string(), size_t(1) << 30) : std::string();
}

struct TLogFixture : ::testing::Test {
    fs::path dir = fs::temp_directory_path() / ("commslog_" + std::to_string(getpid()));
    fs::path file = dir / "programmer_log.txt";
    std::vector<std::string> errors;
    void SetUp() override
    {
        fs::create_directories(dir);
        fs::remove(file);
        SetCommsLogErrorHook([this](const std::string& m) { errors.push_back(m); });
    }
    void TearDown() override
    {
        CommsLoggingDestroy();
        SetCommsLogErrorHook(nullptr);
        fs::remove_all(dir);
    }
};

TEST(CommsLogEscape, Table)
{
    const struct {
        std::string in, out;
    } table[] = {
        {"ABCDE", "ABCDE"},
        {std::string("\r\n\t\x7f", 4), "\\x0D\\x0A\\x09\\x7F"},
        {"~\\ ", "~\\ "},
        {std::string("c\xde=\x96", 4), "c\\xDE=\\x96"},
        {std::string("\0\x1f\xff", 3), "\\x00\\x1F\\xFF"},
        {"", ""},
    };
    for (auto& row : table)
        EXPECT_EQ(CommsLogEscape(row.in), row.out);
}

TEST_F(TLogFixture, OffWritesNothing)
{
    CommsLog("nothing");
    CommsLogData("COM1", true, "x");
    CommsLoggingDestroy();
    EXPECT_FALSE(fs::exists(file));
    EXPECT_FALSE(CommsLoggingActive());
}

TEST_F(TLogFixture, NewFileFormatAndAppend)
{
    CommsLoggingInit(file.string());
    ASSERT_TRUE(CommsLoggingActive());
    CommsLoggingInit((dir / "other.txt").string()); // already running: nothing
    CommsLogData("COM1", true, "");
    CommsLogData("COM1", false, "c\xde=\x96");
    CommsLoggingDestroy();
    CommsLoggingInit(file.string());
    CommsLog("second start");
    CommsLoggingDestroy();
    EXPECT_FALSE(fs::exists(dir / "other.txt"));

    const std::string text = Contents(file);
    const std::regex line(R"((\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}): ([^\r\n]*)\r\n)");
    std::vector<std::string> texts;
    size_t consumed = 0;
    for (std::sregex_iterator it(text.begin(), text.end(), line), end; it != end; ++it) {
        EXPECT_EQ(size_t(it->position()), consumed);
        consumed += size_t(it->length());
        texts.push_back((*it)[2]);
    }
    EXPECT_EQ(consumed, text.size());
    const std::vector<std::string> expected = {
        "CommsLoggingInit: Log file created",
        "CommsLoggingInit: Logging started",
        "COM1 in: ",
        "COM1 out: c\\xDE=\\x96",
        "CommsLoggingDestroy: Logging stopped",
        "CommsLoggingInit: Logging started",
        "second start",
        "CommsLoggingDestroy: Logging stopped",
    };
    EXPECT_EQ(texts, expected);
    EXPECT_TRUE(errors.empty());
}

TEST_F(TLogFixture, SecondWriterRefusedWithoutLosingTheLog)
{
    {
        std::ofstream(file, std::ios::binary) << "earlier lines\r\n";
    }
    // Another instance holds the log.
    int other = open(file.c_str(), O_WRONLY | O_APPEND);
    ASSERT_GE(other, 0);
    ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    CommsLoggingInit(file.string());
    EXPECT_FALSE(CommsLoggingActive());
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].rfind("Log file " + file.string() + " cannot be opened (", 0), 0u) << errors[0];
    EXPECT_EQ(Contents(file), "earlier lines\r\n");
    close(other);

    // Our own log stays readable by others while we write it.
    CommsLoggingInit(file.string());
    CommsLog("visible");
    EXPECT_NE(Contents(file).find(": visible\r\n"), std::string::npos);
}

TEST_F(TLogFixture, UncreatableFileReported)
{
    CommsLoggingInit((dir / "missing-dir" / "x_log.txt").string());
    EXPECT_FALSE(CommsLoggingActive());
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("cannot be opened (Cannot create file"), std::string::npos) << errors[0];
    CommsLog("ignored"); // off: no effect, no failure
}

// Anything but a regular file is refused at once: a FIFO with or without a reader would block
// the open or swallow the log, a device or a folder is no log.
TEST_F(TLogFixture, NotAFileRefusedWithoutWaiting)
{
    const fs::path fifo = dir / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const struct {
        std::string path, reason;
        bool withReader;
    } table[] = {
        {fifo.string(), "It is a FIFO, not a file", false},
        {fifo.string(), "It is a FIFO, not a file", true},
        {dir.string(), "It is a directory", false},
        {"/dev/null", "It is a device, not a file", false},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.path + (row.withReader ? " with a reader" : ""));
        const int reader = row.withReader ? open(row.path.c_str(), O_RDONLY | O_NONBLOCK) : -1;
        errors.clear();
        CommsLoggingInit(row.path);
        EXPECT_FALSE(CommsLoggingActive());
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0],
                  "Log file " + row.path + " cannot be opened (Cannot open file \"" + row.path + "\". " + row.reason +
                      ")");
        if (row.withReader) {
            char byte;
            EXPECT_EQ(read(reader, &byte, 1), 0) << "nothing written into the FIFO";
            close(reader);
        }
    }
}

TEST(CommsLogFileFor, Table)
{
    const struct {
        std::string path, log;
    } table[] = {
        {"/opt/flash/demo-flash", "/opt/flash/demo-flash_log.txt"},
        {"jobs/unit.exe", "jobs/unit_log.txt"},
        {"/opt/rel.2/job", "/opt/rel.2/job_log.txt"},
        {"C:\\rel.2\\job", "C:\\rel_log.txt"}, // on POSIX '\\' is part of a file's name
        {"", "_log.txt"},
    };
    for (const auto& row : table)
        EXPECT_EQ(CommsLogFileFor(row.path), row.log) << row.path;
}

} // namespace
