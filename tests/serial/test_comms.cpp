// The reply-expecting port on a pseudo-terminal with a responder at the far end.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "framework/file_input.h"
#include "framework/syncqueue.h"
#include "framework/timers.h"
#include "pty_pair.h"
#include "serial/comms.h"
#include "serial/logging.h"

namespace {

using Clock = std::chrono::steady_clock;

struct TOpenPort {
    TPtyPair pty;
    TBriskoComPort port;
    TOpenPort()
    {
        port.SetPort(pty.SlavePath());
        port.OpenPort();
    }
};

TEST(BriskoPort, ConstructorDefaults)
{
    TBriskoComPort port;
    EXPECT_EQ(port.Buffer()->InputSize(), 4096);
    EXPECT_EQ(port.Buffer()->OutputSize(), 1024);
    EXPECT_EQ(port.Timeouts()->ReadTotalConstant(), 1000);
    EXPECT_EQ(port.Timeouts()->ReadTotalMultiplier(), 0);
    EXPECT_EQ(port.Timeouts()->ReadInterval(), 0);
    EXPECT_EQ(port.Timeouts()->WriteTotalMultiplier(), 100);
    EXPECT_EQ(port.Timeouts()->WriteTotalConstant(), 1000);
    EXPECT_EQ(port.Port(), "COM1");
    EXPECT_EQ(port.BaudRate(), br9600);
    EXPECT_FALSE(port.Connected());
}

struct TExpectCase {
    const char* name;
    std::string stale;  // arrives before the send
    std::string answer; // the responder's reply to the 3-byte request
    int32_t replyCount;
    bool timesOut;
    double minMs, maxMs;
};

TEST(BriskoPort, SendBufferExpect)
{
    const TExpectCase cases[] = {
        {"complete reply ends early", "", "OK!", 3, false, 0, 900},
        {"stale bytes are purged first", "junk", "OK!", 3, false, 0, 900},
        {"no reply waits the read time-out", "", "", 5, true, 900, 3000},
        {"partial reply keeps its bytes", "", "abc", 5, true, 900, 3000},
        {"reply count 0 does not wait", "", "", 0, false, 0, 900},
    };
    for (const TExpectCase& c : cases) {
        SCOPED_TRACE(c.name);
        TOpenPort o;
        TResponder responder(o.pty, 3, c.answer);
        o.pty.Write(c.stale);
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        char reply[8] = {};
        const auto start = Clock::now();
        bool timedOut = false;
        try {
            o.port.SendBufferExpect("REQ", 3, reply, c.replyCount);
        } catch (const EBriskoComTimeout& e) {
            timedOut = true;
            EXPECT_STREQ(e.what(), "No Reply Within Time Out Period");
        }
        const double ms = MsSince(start);
        EXPECT_EQ(timedOut, c.timesOut);
        EXPECT_EQ(std::string(reply, c.answer.size()), c.answer);
        EXPECT_GE(ms, c.minMs);
        EXPECT_LE(ms, c.maxMs);
        EXPECT_TRUE(PumpUntil([&] { return responder.Received() == "REQ"; }));
    }
}

TEST(BriskoPort, SetReadTimeoutTakesEffectAtTheNextRead)
{
    TOpenPort o;
    o.port.SetReadTimeout(200);
    char reply[2];
    const auto start = Clock::now();
    EXPECT_THROW(o.port.SendBufferExpect("x", 1, reply, 2), EBriskoComTimeout);
    const double ms = MsSince(start);
    EXPECT_GE(ms, 180);
    EXPECT_LT(ms, 900);
}

TEST(BriskoPort, WriteThatMovesNothingEnds)
{
    TOpenPort o; // nobody reads the far end: the pseudo-terminal fills up
    o.port.Timeouts()->SetWriteTotalMultiplier(0);
    o.port.Timeouts()->SetWriteTotalConstant(200);
    const std::string big(1 << 20, 'z');
    try {
        o.port.SendBuffer(big.data(), int32_t(big.size()));
        FAIL() << "a stalled write reported success";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.ErrorCode(), 2);
    }
}

TEST(BriskoPort, ClosedPortAndBadArguments)
{
    TBriskoComPort port;
    char reply[4];
    try {
        port.SendBufferExpect("x", 1, reply, 1);
        FAIL();
    } catch (const EComPort& e) {
        EXPECT_EQ(e.ErrorCode(), 5); // the purge comes first
    }
    TOpenPort o;
    EXPECT_THROW(o.port.SendBuffer("x", -1), EComPort);
    EXPECT_THROW(o.port.SendBufferExpect("x", 1, nullptr, 4), EComPort);
    EXPECT_THROW(o.port.CopySettings(nullptr), Exception);
}

void SetLineSettings(TComPort& source)
{
    source.SetBaudRate(br57600);
    source.SetDataBits(dbSeven);
    source.SetStopBits(sbTwoStopBits);
    source.Parity()->SetBits(prOdd);
    source.FlowControl()->SetControlDTR(dtrEnable);
    source.Timeouts()->SetReadTotalConstant(4321);
    source.Buffer()->SetInputSize(64);
}

TEST(BriskoPort, CopySettings)
{
    TComPort source;
    SetLineSettings(source);
    {
        TBriskoComPort closed;
        source.SetPort("/dev/whatever");
        closed.CopySettings(&source);
        EXPECT_FALSE(closed.Connected());
        EXPECT_EQ(closed.Port(), "/dev/whatever");
        EXPECT_EQ(closed.BaudRate(), br57600);
        EXPECT_EQ(closed.DataBits(), dbSeven);
        EXPECT_EQ(closed.Parity()->Bits(), prOdd);
        EXPECT_EQ(closed.FlowControl()->ControlDTR(), dtrEnable);
        EXPECT_EQ(closed.Timeouts()->ReadTotalConstant(), 1000); // not copied
        EXPECT_EQ(closed.Buffer()->InputSize(), 4096);
    }
    TOpenPort o;
    source.SetPort(o.pty.SlavePath());
    int opens = 0;
    o.port.OnAfterOpen = [&](TCustomComPort*) { ++opens; };
    o.port.CopySettings(&source);
    EXPECT_TRUE(o.port.Connected());
    EXPECT_EQ(opens, 1);
    EXPECT_EQ(o.pty.Speed(), 57600u);
    EXPECT_TRUE(o.pty.TwoStopBits());
    source.SetPort("/dev/no-such-serial-device");
    EXPECT_THROW(o.port.CopySettings(&source), EComPort); // the reopen fails
    EXPECT_FALSE(o.port.Connected());
}

TEST(BriskoPort, DelayKeepsTheEventLoopAndQueueServiced)
{
    bool timerFired = false;
    TTimer timer;
    timer.SetSingleShot(true);
    timer.SetInterval(50);
    timer.OnTimer = [&] { timerFired = true; };
    timer.Start();
    std::atomic<bool> synced{false};
    std::thread worker([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        Synchronize([&] { synced = true; });
    });
    const auto start = Clock::now();
    TBriskoComPort::Delay(300);
    const double ms = MsSince(start);
    worker.join();
    EXPECT_TRUE(timerFired);
    EXPECT_TRUE(synced.load());
    EXPECT_GE(ms, 270);
    EXPECT_LT(ms, 3000);
}

std::string ReadFile(const std::filesystem::path& p)
{
    return ReadFileBytes(p.string(), size_t(1) << 30);
}

TEST(BriskoPort, TrafficIsLogged)
{
    const auto log = std::filesystem::temp_directory_path() / ("brisko_log_" + std::to_string(getpid()) + ".txt");
    std::filesystem::remove(log);
    CommsLoggingInit(log.string());
    {
        TOpenPort o;
        TResponder responder(o.pty, 2, "\r\n");
        char reply[4];
        o.port.SendBufferExpect("hi", 2, reply, 2);
        EXPECT_THROW(o.port.SendBufferExpect("hi", 2, reply, 4), EBriskoComTimeout);
        o.port.SetReadTimeout(100);
        CommsLoggingDestroy();
        const std::string text = ReadFile(log);
        const std::string name = o.pty.SlavePath();
        EXPECT_NE(text.find(": " + name + " out: hi\r\n"), std::string::npos);
        EXPECT_NE(text.find(": " + name + " in: \\x0D\\x0A\r\n"), std::string::npos);
        EXPECT_NE(text.find(": TBriskoComPort.SendBufferExpect: No Reply Within Time Out Period\r\n"),
                  std::string::npos);
    }
    std::filesystem::remove(log);
}

} // namespace
