// The port on pseudo-terminals: opening, exclusivity, settings on the device,
// time-out rules, purges and a vanished far end.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "pty_pair.h"
#include "serial/CPort.h"
#include "serial/serial_platform.h"

namespace {

using Clock = std::chrono::steady_clock;

TEST(PortOpen, MissingDeviceFailsWithHooks)
{
    int before = 0, after = 0;
    TComPort port;
    port.SetPort("/dev/no-such-serial-device");
    port.OnBeforeOpen = [&](TCustomComPort*) { ++before; };
    port.OnAfterOpen = [&](TCustomComPort*) { ++after; };
    try {
        port.OpenPort();
        FAIL() << "opened a missing device";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.ErrorCode(), 1);
        EXPECT_EQ(e.SystemError(), 2);
        EXPECT_STREQ(e.what(), "Unable to open com port (win error code: 2)");
    }
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(before, 1);
    EXPECT_EQ(after, 0);
}

TEST(PortOpen, NonTerminalDeviceRefused)
{
    TComPort port;
    port.SetPort("/dev/null");
    try {
        port.OpenPort();
        FAIL();
    } catch (const EComPort& e) {
        EXPECT_EQ(e.ErrorCode(), 1);
        EXPECT_EQ(e.SystemError(), ENOTTY);
    }
    EXPECT_FALSE(port.Connected());
}

TEST(PortOpen, SecondOpenRefusedUntilFirstCloses)
{
    TPtyPair pty;
    TComPort first, second;
    first.SetPort(pty.SlavePath());
    second.SetPort(pty.SlavePath());
    first.OpenPort();
    try {
        second.OpenPort();
        FAIL() << "device opened twice";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.ErrorCode(), 1);
        EXPECT_EQ(e.SystemError(), EBUSY);
    }
    EXPECT_FALSE(second.Connected());
    first.ClosePort();
    second.OpenPort(); // the exclusive flag does not outlive the first owner
    EXPECT_TRUE(second.Connected());
}

TEST(PortSettings, EveryBitRateReachesTheDevice)
{
    TPtyPair pty;
    TComPort port;
    port.SetPort(pty.SlavePath());
    port.OpenPort();
    for (int r = br110; r <= br256000; ++r) {
        port.SetBaudRate(TBaudRate(r));
        EXPECT_EQ(pty.Speed(), uint32_t(StandardBaudRate(TBaudRate(r)))) << r;
    }
    port.SetBaudRate(brCustom);
    port.SetCustomBaudRate(31250);
    EXPECT_EQ(pty.Speed(), 31250u);
    port.SetStopBits(sbTwoStopBits);
    EXPECT_TRUE(pty.TwoStopBits());
    // Rate 0 would hang up the line: refused, the device keeps its rate.
    try {
        port.SetCustomBaudRate(0);
        FAIL();
    } catch (const EComPort& e) {
        EXPECT_EQ(e.ErrorCode(), 7);
    }
    EXPECT_EQ(pty.Speed(), 31250u);
}

TEST(PortSettings, StoredWhileClosedAppliedAtOpen)
{
    TPtyPair pty;
    TComPort port;
    port.SetPort(pty.SlavePath());
    port.OpenPort();
    port.ClosePort();
    const uint32_t speed = pty.Speed();
    port.SetBaudRate(br57600);
    port.SetStopBits(sbTwoStopBits);
    EXPECT_EQ(pty.Speed(), speed);
    EXPECT_FALSE(pty.TwoStopBits());
    port.OpenPort();
    EXPECT_EQ(pty.Speed(), 57600u);
    EXPECT_TRUE(pty.TwoStopBits());
}

TEST(PortSettings, PortNameChangeReopens)
{
    TPtyPair pty;
    const auto dir = std::filesystem::temp_directory_path() / ("serialnames" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    std::filesystem::create_symlink(pty.SlavePath(), dir / "ttyA");
    std::filesystem::create_symlink(pty.SlavePath(), dir / "TTYA");
    {
        int opens = 0;
        TComPort port;
        port.OnAfterOpen = [&](TCustomComPort*) { ++opens; };
        port.SetPort((dir / "ttyA").string());
        port.OpenPort();
        port.SetPort((dir / "ttyA").string());
        EXPECT_EQ(opens, 1);
        port.SetPort((dir / "TTYA").string());
        EXPECT_EQ(opens, 2);
        EXPECT_TRUE(port.Connected());
        EXPECT_THROW(port.SetPort((dir / "missing").string()), EComPort);
        EXPECT_FALSE(port.Connected());
    }
    std::filesystem::remove_all(dir);
}

TEST(PortSettings, SyncMethodRefusedWhileOpen)
{
    TPtyPair pty;
    TComPort port;
    port.SetPort(pty.SlavePath());
    port.SetSyncMethod(smNone);
    port.SetSyncMethod(smThreadSync);
    port.OpenPort();
    port.SetSyncMethod(smThreadSync); // same value: nothing
    try {
        port.SetSyncMethod(smNone);
        FAIL();
    } catch (const EComPort& e) {
        EXPECT_EQ(e.ErrorCode(), 14);
        EXPECT_EQ(e.SystemError(), -1);
        EXPECT_STREQ(e.what(), "Cannot set property while connected");
    }
    EXPECT_EQ(port.SyncMethod(), smThreadSync);
}

struct TReadCase {
    const char* name;
    int32_t interval, multiplier, constant;
    std::string before, later; // sent before the read, and 200 ms into it
    int32_t count, expected;
    double minMs, maxMs;
};

TEST(PortRead, TimeoutRules)
{
    const TReadCase cases[] = {
        {"-1 with zero totals returns at once", -1, 0, 0, "ab", "", 5, 2, 0, 150},
        {"-1 with zero totals, nothing queued", -1, 0, 0, "", "", 5, 0, 0, 150},
        {"complete reply ends early", 0, 0, 1000, "", "12345", 5, 5, 150, 900},
        {"partial reply keeps its bytes", 0, 0, 1000, "123", "", 5, 3, 900, 3000},
        {"total uses the multiplier", 0, 200, 0, "", "", 5, 0, 900, 3000},
        {"interval ends after the last byte", 100, 0, 0, "ab", "", 5, 2, 90, 900},
        {"all zero waits for every byte", 0, 0, 0, "abc", "de", 5, 5, 150, 3000},
    };
    for (const TReadCase& c : cases) {
        SCOPED_TRACE(c.name);
        TPtyPair pty;
        TComPort port;
        port.SetPort(pty.SlavePath());
        port.OpenPort();
        port.Timeouts()->SetReadInterval(c.interval);
        port.Timeouts()->SetReadTotalMultiplier(c.multiplier);
        port.Timeouts()->SetReadTotalConstant(c.constant);
        pty.Write(c.before);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::thread late([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            pty.Write(c.later);
        });
        char buf[16] = {};
        const auto start = Clock::now();
        const int32_t got = port.ReadBytes(buf, c.count);
        const double ms = MsSince(start);
        late.join();
        EXPECT_EQ(got, c.expected);
        EXPECT_EQ(std::string(buf, size_t(got)), (c.before + c.later).substr(0, size_t(got)));
        EXPECT_GE(ms, c.minMs);
        EXPECT_LE(ms, c.maxMs);
    }
}

// A completed write has only queued its bytes; the reply's time-out runs from the moment
// they have left the line (24 bytes at 1200 bit/s take 200 ms). A reply shows that they have:
// after a far end faster than the line (a pseudo-terminal answers at once) the next
// time-out keeps its own length instead of growing with every request.
TEST(PortRead, TimeoutCountsFromTheRequestLeavingTheLine)
{
    struct {
        const char* name;
        size_t request;
        std::string reply; // the far end's answer, taken before the timed read
        double minMs, maxMs;
    } const cases[] = {
        {"unanswered: the request is still on the line", 24, "", 270, 900},
        {"answered: 800 ms of request have left", 96, "k", 90, 500},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TPtyPair pty;
        TComPort port;
        port.SetPort(pty.SlavePath());
        port.SetBaudRate(br1200);
        port.OpenPort();
        port.Timeouts()->SetReadInterval(0);
        port.Timeouts()->SetReadTotalConstant(100);
        const std::string request(c.request, 'x');
        ASSERT_EQ(port.WriteBytes(request.data(), int32_t(c.request)), int32_t(c.request));
        char reply = 0;
        if (!c.reply.empty()) {
            pty.Write(c.reply);
            ASSERT_EQ(port.ReadBytes(&reply, 1), 1);
        }
        const auto start = Clock::now();
        EXPECT_EQ(port.ReadBytes(&reply, 1), 0);
        const double ms = MsSince(start);
        EXPECT_GE(ms, c.minMs);
        EXPECT_LE(ms, c.maxMs);
    }
}

TEST(PortQueues, CountPurgeAndLineStates)
{
    TPtyPair pty;
    TComPort port;
    port.SetPort(pty.SlavePath());
    port.OpenPort();
    pty.Write("1234567");
    EXPECT_TRUE(PumpUntil([&] { return port.PendingInputCount() == 7; }));
    port.PurgeBuffers(true, false);
    EXPECT_EQ(port.PendingInputCount(), 0);
    // A pseudo-terminal has no modem lines or error counters: all off, no errors.
    EXPECT_EQ(port.ModemSignals(), 0);
    EXPECT_EQ(port.LineErrors(), 0);
    port.ClosePort();
    EXPECT_THROW(port.ModemSignals(), EComPort);
    try {
        char c;
        port.ReadBytes(&c, 1);
        FAIL();
    } catch (const EComPort& e) {
        EXPECT_EQ(e.ErrorCode(), 3);
        EXPECT_EQ(e.SystemError(), EBADF);
    }
    EXPECT_THROW(port.WriteBytes(nullptr, 4), EComPort);
}

TEST(PortWrite, BytesOfAFinishedWriteSurviveTheClose)
{
    TPtyPair pty;
    std::string data(3000, 'x');
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = char('a' + i % 26);
    {
        TComPort port;
        port.SetPort(pty.SlavePath());
        port.OpenPort();
        EXPECT_EQ(port.WriteBytes(data.data(), int32_t(data.size())), int32_t(data.size()));
    } // destructor closes at once
    EXPECT_EQ(pty.Read(data.size()), data);
}

TEST(PortUnplug, ReadAndWriteRaiseAndCloseStillWorks)
{
    TPtyPair pty;
    TComPort port;
    port.SetPort(pty.SlavePath());
    port.Timeouts()->SetReadTotalConstant(2000);
    port.OpenPort();
    pty.CloseMaster();
    char buf[4];
    const auto start = Clock::now();
    try {
        port.ReadBytes(buf, 4);
        FAIL() << "read on a vanished device succeeded";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.ErrorCode(), 3);
        EXPECT_EQ(e.SystemError(), EIO);
    }
    EXPECT_LT(MsSince(start), 1000); // no waiting for the time-out
    try {
        port.WriteBytes("abcd", 4);
        FAIL() << "write on a vanished device succeeded";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.ErrorCode(), 2);
    }
    port.ClosePort();
    EXPECT_FALSE(port.Connected());
}

} // namespace

namespace {

// A device that only records what the port asks of it.
class TRecordingDevice : public TSerialDevice {
public:
    explicit TRecordingDevice(std::vector<std::string>& calls) : Calls(calls) { }
    int Open(const std::string&) override { return Note("open"), Opened = true, 0; }
    void Close() override
    {
        if (Opened)
            Note("close");
        Opened = false;
    }
    bool IsOpen() const override { return Opened; }
    int ApplyLineSettings(const TLineSettings& s) override
    {
        return Note(std::string("line dtr ") + (s.DTRControl() == dtrEnable ? "on" : "off")), 0;
    }
    int ApplyTimeouts(const TTimeoutSettings&) override { return 0; }
    int ApplyBufferSizes(int32_t, int32_t) override { return 0; }
    int Read(void*, int32_t, int32_t& done) override { return done = 0, 0; }
    int Write(const void*, int32_t count, int32_t& done) override { return done = count, 0; }
    int Purge(bool, bool) override { return 0; }
    int AbortPending() override { return 0; }
    int Drain() override { return 0; }
    int QueuedInput(int32_t& count) override { return count = 0, 0; }
    int ModemStatus(uint32_t& status) override { return status = 0, 0; }
    int ErrorFlags(uint32_t& flags) override { return flags = 0, 0; }
    int SetLines(bool dtr, bool rts) override
    {
        return Note(std::string("lines dtr ") + (dtr ? "on" : "off") + " rts " + (rts ? "on" : "off")), 0;
    }
    std::unique_ptr<TSerialEventWait> CreateEventWait(uint32_t) override { return nullptr; }

private:
    void Note(const std::string& call) { Calls.push_back(call); }
    std::vector<std::string>& Calls;
    bool Opened = false;
};

} // namespace

// DTR is on only while the port is open: the unit sees the line go down between the user
// connect and the boot connect.
TEST(PortClose, LowersDtrAndRtsBeforeTheDeviceCloses)
{
    std::vector<std::string> calls;
    SetSerialDeviceFactory([&calls] { return std::make_unique<TRecordingDevice>(calls); });
    {
        TComPort port;
        port.SetEvents(0);
        port.FlowControl()->SetControlDTR(dtrEnable);
        port.OpenPort();
        port.ClosePort();
    }
    SetSerialDeviceFactory(nullptr);
    EXPECT_EQ(calls, (std::vector<std::string>{"open", "line dtr on", "lines dtr off rts off", "close"}));
}
