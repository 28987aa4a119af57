// The Win32 serial backend as Wine runs it, against a pseudo-terminal linked as COM7 whose
// far end (pty_peer.py) echoes, swallows 'x' and tells the bit rate on "?B"; COM9 does not exist.
// Also the communications log's Windows rules: both separators, and no devices or folders.
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "serial/comms.h"
#include "serial/logging.h"
#include "serial/serial_platform.h"

int ListRegistryPorts(std::vector<TPlatformPort>& ports, const char* keyPath);

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point t)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

TLineSettings Line(uint32_t rate)
{
    TLineSettings s;
    s.BaudRate = rate;
    s.Flags = lsBinary | (uint32_t(dtrEnable) << 4);
    s.XonLim = s.XoffLim = 1024;
    s.ByteSize = 8;
    s.XonChar = 17;
    s.XoffChar = 19;
    return s;
}

TTimeoutSettings ReplyTimeouts(int32_t constant)
{
    TTimeoutSettings t;
    t.ReadInterval = 0;
    t.ReadTotalMultiplier = 0;
    t.ReadTotalConstant = constant;
    return t;
}

struct OpenPort {
    std::unique_ptr<TSerialDevice> Device = CreatePlatformSerialDevice();
    explicit OpenPort(uint32_t rate = 9600)
    {
        EXPECT_EQ(Device->Open("COM7"), 0);
        EXPECT_EQ(Device->ApplyBufferSizes(4096, 1024), 0);
        EXPECT_EQ(Device->ApplyLineSettings(Line(rate)), 0);
        EXPECT_EQ(Device->ApplyTimeouts(ReplyTimeouts(1000)), 0);
    }
    std::string Exchange(const std::string& request, int32_t replyCount)
    {
        int32_t done = 0;
        EXPECT_EQ(Device->Write(request.data(), int32_t(request.size()), done), 0);
        EXPECT_EQ(done, int32_t(request.size()));
        std::string reply(size_t(replyCount), '\0');
        EXPECT_EQ(Device->Read(reply.data(), replyCount, done), 0);
        reply.resize(size_t(done));
        return reply;
    }
};

TEST(Win32Port, MissingPortIsErrorTwo)
{
    auto device = CreatePlatformSerialDevice();
    EXPECT_EQ(device->Open("COM9"), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(device->IsOpen());
    EXPECT_EQ(device->Open(""), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(SerialDevicePath("COM7"), "\\\\.\\COM7");
}

TEST(Win32Port, BitRateReachesTheLine)
{
    OpenPort port;
    for (uint32_t rate : {9600u, 57600u, 1200u, 115200u}) {
        ASSERT_EQ(port.Device->ApplyLineSettings(Line(rate)), 0);
        char expected[8];
        std::snprintf(expected, sizeof expected, "%06u", rate);
        EXPECT_EQ(port.Exchange("?B", 6), expected);
    }
}

TEST(Win32Port, EchoAndPurge)
{
    OpenPort port;
    EXPECT_EQ(port.Exchange("hello", 5), "hello");
    int32_t done = 0;
    ASSERT_EQ(port.Device->Write("late", 4, done), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(port.Device->Purge(true, false), 0);
    EXPECT_EQ(port.Exchange("ab", 2), "ab") << "the echo of 'late' was discarded";
}

TEST(Win32Port, ReadTimeoutRules)
{
    OpenPort port;
    struct Case {
        const char* Name;
        TTimeoutSettings Timeouts;
        double MinMs, MaxMs;
    } cases[] = {
        {"total constant", ReplyTimeouts(300), 270, 1000},
        {"-1 with zero totals returns at once", TTimeoutSettings{}, 0, 150},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        ASSERT_EQ(port.Device->ApplyTimeouts(c.Timeouts), 0);
        char buf[5];
        int32_t done = -1;
        const auto start = Clock::now();
        EXPECT_EQ(port.Device->Read(buf, 5, done), 0);
        const double ms = MsSince(start);
        EXPECT_EQ(done, 0);
        EXPECT_GE(ms, c.MinMs);
        EXPECT_LE(ms, c.MaxMs);
    }
}

// A completed write has only queued its bytes (under Wine as on Linux): the reply's time-out
// counts from the moment they have left the line. 24 bytes at 1200 bit/s take 200 ms. An
// answer shows they have left: after 96 echoed bytes (800 ms) the time-out keeps its length.
TEST(Win32Port, ReplyTimeoutCountsFromTheEndOfTheRequest)
{
    struct {
        const char* name;
        std::string request; // 'x' is swallowed, anything else echoed
        double minMs, maxMs;
    } const cases[] = {
        {"unanswered", std::string(24, 'x'), 270, 1000},
        {"answered", std::string(96, 'a'), 90, 500},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        OpenPort port(1200);
        const std::string echo = c.request.find('x') == std::string::npos ? c.request : "";
        EXPECT_EQ(port.Exchange(c.request, int32_t(echo.size())), echo);
        ASSERT_EQ(port.Device->ApplyTimeouts(ReplyTimeouts(100)), 0);
        char reply = 0;
        int32_t done = 0;
        const auto start = Clock::now();
        EXPECT_EQ(port.Device->Read(&reply, 1, done), 0);
        EXPECT_EQ(done, 0);
        EXPECT_GE(MsSince(start), c.minMs);
        EXPECT_LE(MsSince(start), c.maxMs);
    }
}

TEST(Win32Port, LinesQueuesAndErrorsOnAPortWithoutModemLines)
{
    OpenPort port;
    uint32_t status = 1, flags = 1;
    int32_t queued = -1;
    EXPECT_EQ(port.Device->ModemStatus(status), 0);
    EXPECT_EQ(port.Device->SetLines(false, false), 0);
    EXPECT_EQ(port.Device->ErrorFlags(flags), 0);
    EXPECT_EQ(port.Device->QueuedInput(queued), 0);
    EXPECT_EQ(port.Device->Drain(), 0);
    EXPECT_EQ(port.Device->AbortPending(), 0);
    port.Device->Close();
    EXPECT_FALSE(port.Device->IsOpen());
    EXPECT_EQ(port.Device->ModemStatus(status), ERROR_INVALID_HANDLE);
}

TEST(Win32Port, EventWaitEndsWhenStopped)
{
    OpenPort port;
    for (uint32_t mask : {uint32_t(emRxChar), 0u}) {
        auto wait = port.Device->CreateEventWait(emRxChar | emErr);
        wait->SetMask(mask);
        bool stopped = false;
        std::thread waiter([&] {
            uint32_t events = 0;
            while (wait->Wait(events)) {
            }
            stopped = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        const auto start = Clock::now();
        wait->Stop();
        waiter.join();
        EXPECT_TRUE(stopped);
        EXPECT_LE(MsSince(start), 1000) << "mask " << mask;
    }
}

TEST(Win32PortList, TheRegistryListAndAMissingKey)
{
    std::vector<TPlatformPort> ports;
    EXPECT_EQ(ListRegistryPorts(ports, "HARDWARE\\DEVICEMAP\\NO-SUCH-KEY"), 0);
    EXPECT_TRUE(ports.empty()) << "no key: no ports, as on a computer without serial ports";
    EXPECT_EQ(ListPlatformPorts(ports, "", ""), 0);
    for (const TPlatformPort& p : ports) {
        EXPECT_EQ(p.Name.rfind("COM", 0), 0u) << p.Name;
        EXPECT_EQ(p.Path, "\\\\.\\" + p.Name);
    }
    const std::vector<std::string> missing = DiagnoseOpenFailure("COM9", ERROR_FILE_NOT_FOUND, {});
    ASSERT_EQ(missing.size(), 1u);
    EXPECT_EQ(missing[0], "There is no serial port COM9, and this computer has no serial ports at all.");
    EXPECT_EQ(LatencyTimerMs("COM7", ""), -1);
    EXPECT_FALSE(ModemManagerRunning());
}

// What the port component finds wrong itself carries Windows codes, not errno values.
class TSilentDevice : public TSerialDevice {
public:
    int Open(const std::string&) override { return Opened = true, 0; }
    void Close() override { Opened = false; }
    bool IsOpen() const override { return Opened; }
    int ApplyLineSettings(const TLineSettings&) override { return 0; }
    int ApplyTimeouts(const TTimeoutSettings&) override { return 0; }
    int ApplyBufferSizes(int32_t, int32_t) override { return 0; }
    int Read(void*, int32_t, int32_t& done) override { return done = 0, 0; }
    int Write(const void*, int32_t, int32_t& done) override { return done = 0, 0; } // a stalled line
    int Purge(bool, bool) override { return 0; }
    int AbortPending() override { return 0; }
    int Drain() override { return 0; }
    int QueuedInput(int32_t& count) override { return count = 0, 0; }
    int ModemStatus(uint32_t& status) override { return status = 0, 0; }
    int ErrorFlags(uint32_t& flags) override { return flags = 0, 0; }
    int SetLines(bool, bool) override { return 0; }
    std::unique_ptr<TSerialEventWait> CreateEventWait(uint32_t) override { return nullptr; }

private:
    bool Opened = false;
};

TEST(Win32Port, FaultsFoundByThePortCarryWindowsCodes)
{
    SetSerialDeviceFactory([] { return std::make_unique<TSilentDevice>(); });
    TBriskoComPort port;
    port.SetEvents(0);
    port.OpenPort();
    const struct {
        const char* name;
        std::function<void()> call;
        std::string message;
    } table[] = {
        {"a write that moves nothing", [&] { port.SendBuffer("abc", 3); },
         "WriteFile function failed (win error code: " + std::to_string(ERROR_COUNTER_TIMEOUT) + ")"},
        {"no buffer to write", [&] { port.WriteBytes(nullptr, 3); },
         "WriteFile function failed (win error code: " + std::to_string(ERROR_INVALID_PARAMETER) + ")"},
        {"no buffer for the reply", [&] { port.SendBufferExpect("abc", 3, nullptr, 2); },
         "ReadFile function failed (win error code: " + std::to_string(ERROR_INVALID_PARAMETER) + ")"},
    };
    for (const auto& row : table) {
        try {
            row.call();
            ADD_FAILURE() << row.name << ": no failure";
        } catch (const EComPort& e) {
            EXPECT_EQ(e.message(), row.message) << row.name;
        }
    }
    port.ClosePort();
    SetSerialDeviceFactory(nullptr);
}

TEST(Win32Log, NameAndRefusals)
{
    const struct {
        std::string path, log;
    } names[] = {
        {"C:\\rel.2\\job", "C:\\rel.2\\job_log.txt"},
        {"C:\\tools\\flash.exe", "C:\\tools\\flash_log.txt"},
        {"D:/rel.2/job", "D:/rel.2/job_log.txt"},
        {"jobs\\unit.exe", "jobs\\unit_log.txt"},
    };
    for (const auto& row : names)
        EXPECT_EQ(CommsLogFileFor(row.path), row.log) << row.path;

    char temp[MAX_PATH];
    ASSERT_GT(GetTempPathA(sizeof temp, temp), 0u);
    const std::string folder = std::string(temp) + "moravent-log-folder";
    CreateDirectoryA(folder.c_str(), nullptr);
    std::vector<std::string> errors;
    SetCommsLogErrorHook([&](const std::string& text) { errors.push_back(text); });
    const struct {
        std::string path, reason;
    } refused[] = {
        {"NUL", "It is a device, not a file"},
        {folder, "It is a directory"},
    };
    for (const auto& row : refused) {
        errors.clear();
        CommsLoggingInit(row.path);
        EXPECT_FALSE(CommsLoggingActive()) << row.path;
        ASSERT_EQ(errors.size(), 1u) << row.path;
        EXPECT_EQ(errors[0],
                  "Log file " + row.path + " cannot be opened (Cannot open file \"" + row.path + "\". " + row.reason +
                      ")");
    }
    CommsLoggingDestroy();
    SetCommsLogErrorHook(nullptr);
    RemoveDirectoryA(folder.c_str());
}

} // namespace
