// The unit simulator driven by a scripted host on the slave side of its pty.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>
#include <string>
#include <vector>

#include "unitsim/unit.h"
#include "unitsim/unitsim.h"

using namespace unitsim;
using namespace std::chrono_literals;
using Bytes = std::string;

namespace {

Bytes H(std::initializer_list<int> v)
{
    Bytes b;
    for (int x : v)
        b += char(uint8_t(x));
    return b;
}

Bytes BE(uint32_t v)
{
    return H({int(v >> 24), int((v >> 16) & 0xFF), int((v >> 8) & 0xFF), int(v & 0xFF)});
}

const Bytes Identify = H({0x63, 0xDE, 0x3D, 0x96});
const Bytes Erase = H({0xD7, 0x68, 0xFE, 0xFA});
const Bytes Program = H({0xB7, 0xD6, 0xF5, 0x3C});
const Bytes Verify = H({0x53, 0xE1, 0xA8, 0xD7});
const Bytes Finish = H({0xC3, 0x37, 0x23, 0xC6});
const Bytes UserConnect = H({0x02, 'X', 'M', '5', '2', '8', '1', 0x03});

// The host side: raw byte writes and reads with a total deadline, reopening at new rates.
class Host {
public:
    explicit Host(std::string path) : Path(std::move(path)) { Open(B9600); }
    ~Host() { Close(); }

    void Open(speed_t speed)
    {
        Close();
        Fd = ::open(Path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(Fd, 0) << Path;
        termios t{};
        ASSERT_EQ(::tcgetattr(Fd, &t), 0);
        ::cfmakeraw(&t);
        ::cfsetispeed(&t, speed);
        ::cfsetospeed(&t, speed);
        ASSERT_EQ(::tcsetattr(Fd, TCSANOW, &t), 0);
        ::tcflush(Fd, TCIFLUSH); // flushing output on a pty would drop bytes the unit has not read yet
    }

    void Close()
    {
        if (Fd >= 0)
            ::close(Fd);
        Fd = -1;
    }

    void Send(const Bytes& b) { ASSERT_EQ(::write(Fd, b.data(), b.size()), ssize_t(b.size())); }

    // Up to n bytes within the time-out; fewer when the unit says less.
    Bytes Read(size_t n, std::chrono::milliseconds timeout = 1000ms)
    {
        Bytes out;
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (out.size() < n) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                break;
            pollfd p{Fd, POLLIN, 0};
            if (::poll(&p, 1, int(left.count())) <= 0)
                break;
            if (p.revents & (POLLHUP | POLLERR)) {
                HungUp = true;
                break;
            }
            char buf[512];
            const ssize_t got = ::read(Fd, buf, std::min(sizeof buf, n - out.size()));
            if (got <= 0) {
                HungUp = got < 0 && errno == EIO;
                break;
            }
            out.append(buf, size_t(got));
        }
        return out;
    }

    Bytes Ask(const Bytes& b, size_t n, std::chrono::milliseconds timeout = 1000ms)
    {
        Send(b);
        return Read(n, timeout);
    }

    std::string Path;
    int Fd = -1;
    bool HungUp = false;
};

SimConfig SmallUnit()
{
    SimConfig c;
    c.seed = 0x1234;
    c.flashStart = 0x1000;
    c.flashLength = 1024;
    c.name = "TEST UNIT";
    c.keepTrace = true;
    return c;
}

// User connect, negotiation to 57600 bit/s and the acknowledge echo.
void Negotiate(Host& host, const UnitSimulator& sim, speed_t to = B57600, int toRate = 57600)
{
    ASSERT_EQ(host.Ask(UserConnect, 8), "SyNcBoOt");
    const Bytes reg = host.Ask(H({0x44, 0x05}), 1);
    ASSERT_EQ(reg.size(), 1u);
    host.Send(Bytes(1, char(ScaleBaudRegister(uint8_t(reg[0]), 9600, toRate))));
    host.Open(to);
    ASSERT_EQ(host.Ask("ABCDE", 5), "ABCDE");
    (void)sim;
}

Bytes Image(size_t n)
{
    Bytes b;
    for (size_t i = 0; i < n; ++i)
        b += char(uint8_t(i * 7 + 1));
    return b;
}

// A transfer as the host runs it; returns the unit's replies in order.
Bytes Transfer(Host& host, const Bytes& code, uint32_t address, const Bytes& image, int endMarker = 0x00)
{
    host.Send(code + BE(address) + BE(uint32_t(image.size())));
    Bytes replies;
    for (size_t done = 0; done < image.size();) {
        const size_t n = std::min<size_t>(128, image.size() - done);
        const Bytes r = host.Ask(image.substr(done, n), 1);
        replies += r;
        done += n;
        if (r != H({0x00}))
            return replies;
        if (done < image.size())
            host.Send(H({0x00}));
    }
    return replies + host.Ask(H({endMarker}), 1);
}

// The unit handles bytes after the host has moved on; give it a moment (generous bound).
std::vector<std::string> WaitForViolations(const UnitSimulator& sim)
{
    for (int i = 0; i < 200 && sim.Violations().empty(); ++i)
        std::this_thread::sleep_for(10ms);
    return sim.Violations();
}

struct Session : ::testing::Test {
    void Run(const SimConfig& c)
    {
        sim = std::make_unique<UnitSimulator>(c);
        sim->Start();
        host = std::make_unique<Host>(sim->SlavePath());
    }
    void TearDown() override
    {
        host.reset();
        if (sim)
            sim->Stop();
    }
    std::unique_ptr<UnitSimulator> sim;
    std::unique_ptr<Host> host;
};

} // namespace

TEST(ScaleBaudRegister, MatchesTheHostsRule)
{
    struct Case {
        int reg, from, to, expected;
    } cases[] = {
        {0x40, 9600, 19200, 0x20}, {0x9B, 9600, 57600, 0x19},
        {0x40, 9600, 9600, 0x40},  {0xFF, 115200, 9600, (255 * 12) & 0xFF},
        {0x33, 9600, 115200, 4},   {0x01, 256000, 110, 2327 & 0xFF},
        {0x40, 9600, 14400, 42},   {0x00, 9600, 57600, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ScaleBaudRegister(uint8_t(c.reg), c.from, c.to), c.expected)
            << c.reg << " " << c.from << "->" << c.to;
}

TEST(ParseIdentity, ReadsFourFieldsAndRejectsBadOnes)
{
    SimConfig c;
    ParseIdentity("0x81,0x1800,256000,H8 UNIT", c);
    EXPECT_EQ(c.seed, 0x81);
    EXPECT_EQ(c.flashStart, 0x1800);
    EXPECT_EQ(c.flashLength, 256000);
    EXPECT_EQ(c.name, "H8 UNIT");
    for (const char* bad : {"1,2,3", "70000,0,0,x", "x,0,0,n", "1,0,-5,n", "1,,3,n"})
        EXPECT_THROW(ParseIdentity(bad, c), std::invalid_argument) << bad;
}

TEST(UnitSimulatorConfig, RefusesUnusableSettings)
{
    SimConfig c = SmallUnit();
    c.name = "123456789012345678901";
    EXPECT_THROW(UnitSimulator{c}, std::runtime_error);
    c = SmallUnit();
    c.bootConnect = "AB%G1";
    EXPECT_THROW(UnitSimulator{c}, std::runtime_error);
    c = SmallUnit();
    c.flashLength = -1;
    EXPECT_THROW(UnitSimulator{c}, std::runtime_error);
}

TEST_F(Session, FullRunProgramsTheFlashWithoutViolations)
{
    struct Case {
        speed_t speed;
        int rate;
        size_t imageSize;
    } cases[] = {{B57600, 57600, 256}, {B115200, 115200, 1024}, {B9600, 9600, 128}, {B19200, 19200, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rate);
        Run(SmallUnit());
        Negotiate(*host, *sim, c.speed, c.rate);
        const Bytes id = host->Ask(Identify, 30);
        EXPECT_EQ(id.substr(0, 10), H({0x12, 0x34}) + BE(0x1000) + BE(1024));
        EXPECT_EQ(id.substr(10), Bytes("TEST UNIT") + Bytes(11, '\0'));
        EXPECT_EQ(host->Ask(Erase + BE(0x1000) + BE(1024), 1), "$");
        const Bytes image = Image(c.imageSize);
        const Bytes blocksOk(size_t((c.imageSize + 127) / 128), '\0');
        EXPECT_EQ(Transfer(*host, Program, 0x1000, image), blocksOk + "\"");
        EXPECT_EQ(Transfer(*host, Verify, 0x1000, image), blocksOk + "\"");
        host->Send(Finish);
        EXPECT_TRUE(sim->WaitForFinish(2000ms));
        const std::vector<uint8_t> flash = sim->Flash();
        EXPECT_EQ(Bytes(flash.begin(), flash.begin() + long(c.imageSize)), image);
        EXPECT_TRUE(std::all_of(flash.begin() + long(c.imageSize), flash.end(), [](uint8_t b) { return b == 0xFF; }));
        EXPECT_TRUE(sim->Violations().empty()) << sim->Trace();
        const SimStats s = sim->Stats();
        EXPECT_EQ(s.lastBitRate, c.rate);
        EXPECT_EQ(s.programs, 1);
        EXPECT_EQ(s.verifies, 1);
        sim->Stop();
    }
}

TEST_F(Session, BootConnectFollowsTheResetBehaviour)
{
    struct Case {
        const char* what;
        int answerFrom, wrongAt;
        bool application;
        Bytes expected[4]; // replies to four boot connect attempts
    } cases[] = {
        {"answers at once", 1, 0, false, {"SyNcBoOt", "SyNcBoOt", "SyNcBoOt", "SyNcBoOt"}},
        {"reset at attempt 3", 3, 0, true, {"", "", "SyNcBoOt", "SyNcBoOt"}},
        {"never reset", 0, 0, true, {"", "", "", ""}},
        {"wrong once, then silent", 0, 1, true, {"\xAC\x86\xB1\x9C\xBD\x90\xB0\x8B", "", "", ""}},
        {"wrong once, then right",
         1,
         2,
         true,
         {"SyNcBoOt", "\xAC\x86\xB1\x9C\xBD\x90\xB0\x8B", "SyNcBoOt", "SyNcBoOt"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SimConfig cfg = SmallUnit();
        cfg.bootAnswerFrom = c.answerFrom;
        cfg.bootWrongReplyAt = c.wrongAt;
        cfg.applicationRunning = c.application;
        Run(cfg);
        for (const Bytes& expected : c.expected)
            EXPECT_EQ(host->Ask("SyNcBoOt", 8, expected.empty() ? 150ms : 1000ms), expected);
        EXPECT_EQ(sim->Stats().bootAttempts, 4);
        EXPECT_TRUE(sim->Violations().empty()) << sim->Trace();
        sim->Stop();
    }
}

TEST_F(Session, UserConnectNeedsARunningApplication)
{
    SimConfig cfg = SmallUnit();
    cfg.applicationRunning = false;
    cfg.userConnect = "%02go%03";
    Run(cfg);
    EXPECT_EQ(host->Ask(H({0x02, 'g', 'o', 0x03}), 8, 200ms), "");
    // Commands are not understood until the boot loader runs.
    EXPECT_EQ(host->Ask(Identify, 30, 200ms), "");
    EXPECT_EQ(host->Ask("SyNcBoOt", 8), "SyNcBoOt");
    EXPECT_EQ(host->Ask(Identify, 30).size(), 30u);
    ASSERT_EQ(sim->Violations().size(), 1u);
    EXPECT_NE(sim->Violations()[0].find("63 DE 3D 96"), std::string::npos);
}

TEST_F(Session, SpoiledRepliesComeOutAsConfigured)
{
    struct Case {
        Reply reply;
        FaultKind kind;
        int at;
        Bytes expected;
    } cases[] = {
        {Reply::Connect, FaultKind::Wrong, 0, "SyNcBoO\x8B"},
        {Reply::Connect, FaultKind::Short, 0, "SyNcBoO"},
        {Reply::Connect, FaultKind::Missing, 0, ""},
        {Reply::Register, FaultKind::Wrong, 0, H({0xBF})},
        {Reply::Register, FaultKind::Missing, 0, ""},
        {Reply::Ack, FaultKind::Wrong, 0, "ABCDF"},
        {Reply::Ack, FaultKind::Short, 0, "ABCD"},
        {Reply::Ack, FaultKind::Missing, 0, ""},
        {Reply::Identity, FaultKind::Wrong, 0, H({0x12, 0x35}) + "/30"},
        {Reply::Identity, FaultKind::Short, 0, H({0x12, 0x34}) + "/29"},
        {Reply::Identity, FaultKind::Missing, 1, "/0"},
        {Reply::Erase, FaultKind::Wrong, 0, "?"},
        {Reply::Erase, FaultKind::Missing, 0, ""},
        {Reply::ProgramBlock, FaultKind::Wrong, 2, Bytes(1, '\0') + "\""},
        {Reply::ProgramBlock, FaultKind::Missing, 1, ""},
        {Reply::ProgramFinal, FaultKind::Wrong, 0, Bytes(2, '\0') + Bytes(1, '\0')},
        {Reply::ProgramFinal, FaultKind::Missing, 0, Bytes(2, '\0')},
        {Reply::VerifyBlock, FaultKind::Wrong, 1, "\""},
        {Reply::VerifyFinal, FaultKind::Wrong, 0, Bytes(3, '\0')},
        {Reply::Connect, FaultKind::HangUp, 0, ""},
        {Reply::Identity, FaultKind::HangUp, 1, "/0"},
        {Reply::Erase, FaultKind::HangUp, 0, ""},
        {Reply::ProgramBlock, FaultKind::HangUp, 2, Bytes(1, '\0')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.reply) * 10 + int(c.kind));
        SimConfig cfg = SmallUnit();
        cfg.fault(c.reply) = {c.kind, c.at};
        Run(cfg);
        const auto quick = 300ms;
        Bytes got;
        if (c.reply == Reply::Connect) {
            got = host->Ask(UserConnect, 8, quick);
        } else if (c.reply == Reply::Register) {
            host->Ask(UserConnect, 8);
            got = host->Ask(H({0x44, 0x05}), 1, quick);
        } else if (c.reply == Reply::Ack) {
            host->Ask(UserConnect, 8);
            host->Ask(H({0x44, 0x05}), 1);
            host->Send(H({0x40}));
            got = host->Ask("ABCDE", 5, quick);
        } else {
            Negotiate(*host, *sim, B9600, 9600);
            if (c.reply == Reply::Identity) {
                got = host->Ask(Identify, 30, quick);
                got = got.substr(0, 2) + "/" + std::to_string(got.size());
            } else {
                ASSERT_EQ(host->Ask(Identify, 30).size(), 30u);
                const Bytes erased = host->Ask(Erase + BE(0x1000) + BE(1024), 1, quick);
                if (c.reply == Reply::Erase) {
                    got = erased;
                } else {
                    const Bytes image = Image(256);
                    got = Transfer(*host, Program, 0x1000, image);
                    if (c.reply == Reply::VerifyBlock || c.reply == Reply::VerifyFinal)
                        got = Transfer(*host, Verify, 0x1000, image);
                }
            }
        }
        EXPECT_EQ(got, c.expected);
        EXPECT_EQ(sim->Stats().hungUp, c.kind == FaultKind::HangUp);
        sim->Stop();
    }
}

TEST_F(Session, TransferFaultsAtAChosenBlock)
{
    const Bytes image = Image(512); // four blocks
    struct Case {
        const char* what;
        TransferFaults program, verify;
        Bytes programReplies, verifyReplies;
        bool identityAfter;
    } cases[] = {
        {"program fails at block 2", {2, 0, 0}, {}, H({0x00, 0x23}), "", true},
        {"program fails at its end", {5, 0, 0}, {}, Bytes(4, '\0') + "#", "", true},
        {"verify fails at block 3", {}, {3, 0, 0}, Bytes(4, '\0') + "\"", H({0x00, 0x00, 0x23}), true},
        {"silent from program block 2", {0, 2, 0}, {}, H({0x00}), "", false},
        {"silent from verify block 1", {}, {0, 1, 0}, Bytes(4, '\0') + "\"", "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SimConfig cfg = SmallUnit();
        cfg.program = c.program;
        cfg.verify = c.verify;
        Run(cfg);
        Negotiate(*host, *sim, B9600, 9600);
        ASSERT_EQ(host->Ask(Erase + BE(0x1000) + BE(1024), 1), "$");
        host->Send(Program + BE(0x1000) + BE(512));
        Bytes replies;
        for (int k = 0; k < 4; ++k) {
            const Bytes r = host->Ask(image.substr(size_t(k) * 128, 128), 1, 300ms);
            replies += r;
            if (r != H({0x00}))
                break;
            if (k < 3)
                host->Send(H({0x00}));
            else
                replies += host->Ask(H({0x00}), 1, 300ms);
        }
        EXPECT_EQ(replies, c.programReplies);
        if (!c.verifyReplies.empty() || c.verify.silentFromBlock) {
            EXPECT_EQ(Transfer(*host, Verify, 0x1000, image), c.verifyReplies);
        }
        EXPECT_EQ(host->Ask(Identify, 30, 300ms).size(), c.identityAfter ? 30u : 0u);
        sim->Stop();
    }
}

TEST_F(Session, HangUpAtABlockClosesTheLine)
{
    SimConfig cfg = SmallUnit();
    cfg.program.hangupAtBlock = 2;
    Run(cfg);
    Negotiate(*host, *sim, B9600, 9600);
    ASSERT_EQ(host->Ask(Erase + BE(0x1000) + BE(1024), 1), "$");
    const Bytes image = Image(512);
    host->Send(Program + BE(0x1000) + BE(512));
    EXPECT_EQ(host->Ask(image.substr(0, 128), 1), H({0x00}));
    host->Send(H({0x00}));
    EXPECT_EQ(host->Ask(image.substr(128, 128), 1), "");
    EXPECT_TRUE(host->HungUp);
    EXPECT_TRUE(sim->WaitForStop(2000ms));
    EXPECT_TRUE(sim->Stats().hungUp);
}

TEST_F(Session, FlashBehavesLikeFlash)
{
    SimConfig cfg = SmallUnit();
    cfg.initialFill = 0x00;
    cfg.blockDelayMs = 5;
    cfg.eraseDelayMs = 5;
    Run(cfg);
    Negotiate(*host, *sim, B9600, 9600);
    const Bytes image = Image(256);
    // Programming unerased flash fails: bits only clear.
    EXPECT_EQ(Transfer(*host, Program, 0x1000, image), H({0x23}));
    // Erase outside the flash is refused; inside it works.
    EXPECT_EQ(host->Ask(Erase + BE(0x0F00) + BE(1024), 1), "%");
    EXPECT_EQ(host->Ask(Erase + BE(0x1000) + BE(2048), 1), "%");
    EXPECT_EQ(host->Ask(Erase + BE(0x1000) + BE(1024), 1), "$");
    // A transfer running past the flash fails at that block.
    EXPECT_EQ(Transfer(*host, Program, 0x1000 + 1024 - 128, image), H({0x00, 0x23}));
    EXPECT_EQ(host->Ask(Erase + BE(0x1000) + BE(1024), 1), "$");
    EXPECT_EQ(Transfer(*host, Program, 0x1000, image), H({0x00, 0x00, 0x22}));
    Bytes other = image;
    other[200] ^= 1;
    EXPECT_EQ(Transfer(*host, Verify, 0x1000, other), H({0x00, 0x23}));
    // An aborted transfer ends with the complete reply after FF.
    host->Send(Verify + BE(0x1000) + BE(256));
    EXPECT_EQ(host->Ask(image.substr(0, 128), 1), H({0x00}));
    EXPECT_EQ(host->Ask(H({0xFF}), 1), "\"");
    EXPECT_TRUE(sim->Violations().empty()) << sim->Trace();
}

TEST_F(Session, EraseVerdictIsConfigurable)
{
    for (int verdict : {0x25, 0x41}) {
        SimConfig cfg = SmallUnit();
        cfg.eraseVerdict = uint8_t(verdict);
        Run(cfg);
        Negotiate(*host, *sim, B9600, 9600);
        EXPECT_EQ(host->Ask(Erase + BE(0x1000) + BE(1024), 1), Bytes(1, char(verdict)));
        sim->Stop();
    }
}

TEST_F(Session, ReportsHostViolations)
{
    struct Case {
        const char* what;
        std::function<void(Host&)> script;
        const char* violation;
    } cases[] = {
        {"garbage",
         [](Host& h) {
             h.Ask(H({0x10, 0x20}), 1, 200ms);
         },
         "fit no command: 10 20"},
        {"continue byte after the last block",
         [](Host& h) {
             h.Send(Program + BE(0x1000) + BE(128));
             h.Ask(Image(128), 1);
             h.Send(H({0x00}));
             h.Ask(H({0x00}), 1, 200ms);
         },
         "continue byte after the last block"},
        {"missing end marker",
         [](Host& h) {
             h.Send(Program + BE(0x1000) + BE(128));
             h.Ask(Image(128), 1);
             h.Ask(Identify, 30);
         },
         "missing end marker"},
        {"identity in the middle",
         [](Host& h) {
             h.Send(Program + BE(0x1000) + BE(256));
             h.Ask(Image(128), 1);
             h.Ask(Identify, 30, 200ms);
         },
         "identity request in the middle of a transfer"},
        {"bad continue byte",
         [](Host& h) {
             h.Send(Program + BE(0x1000) + BE(256));
             h.Ask(Image(128), 1);
             h.Ask(H({0x07}), 1, 200ms);
         },
         "where a continue byte was due"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SimConfig cfg = SmallUnit();
        cfg.startInBootLoader = true;
        Run(cfg);
        ASSERT_EQ(host->Ask(Erase + BE(0x1000) + BE(1024), 1), "$");
        c.script(*host);
        const auto v = WaitForViolations(*sim);
        ASSERT_FALSE(v.empty());
        EXPECT_NE(v[0].find(c.violation), std::string::npos) << v[0];
        EXPECT_NE(sim->Trace().find("VIOLATION: "), std::string::npos);
        sim->Stop();
    }
}

TEST_F(Session, ChecksTheNewRegisterAgainstTheRateTheHostSwitchedTo)
{
    struct Case {
        int sent;
        bool violation;
    } cases[] = {{0x0A, false}, {0x0B, true}};
    for (const Case& c : cases) {
        Run(SmallUnit());
        ASSERT_EQ(host->Ask(UserConnect, 8), "SyNcBoOt");
        ASSERT_EQ(host->Ask(H({0x44, 0x05}), 1), H({0x40}));
        host->Send(H({c.sent}));
        host->Open(B57600);
        EXPECT_EQ(host->Ask("ABCDE", 5), "ABCDE");
        const auto v = sim->Violations();
        EXPECT_EQ(!v.empty(), c.violation) << sim->Trace();
        if (c.violation) {
            EXPECT_NE(v[0].find("0x0B where 0x0A"), std::string::npos) << v[0];
        }
        EXPECT_EQ(sim->Stats().lastRegister, c.sent);
        sim->Stop();
    }
}

TEST_F(Session, SurvivesTheHostClosingAndReopeningManyTimes)
{
    Run(SmallUnit());
    for (int i = 0; i < 20; ++i) {
        host->Close();
        host->Open(i % 2 ? B19200 : B9600);
        EXPECT_EQ(host->Ask(i == 0 ? UserConnect : Bytes("SyNcBoOt"), 8), "SyNcBoOt") << i;
    }
    EXPECT_EQ(sim->Stats().bootConnects, 19);
}

TEST_F(Session, PacedRunGivesTheSameBytes)
{
    SimConfig cfg = SmallUnit();
    cfg.pace = true;
    Run(cfg);
    host->Open(B115200);
    ASSERT_EQ(host->Ask(UserConnect, 8), "SyNcBoOt");
    EXPECT_EQ(host->Ask(Identify, 30).size(), 30u);
    EXPECT_EQ(host->Ask(Erase + BE(0x1000) + BE(1024), 1), "$");
    EXPECT_EQ(Transfer(*host, Program, 0x1000, Image(384)), H({0x00, 0x00, 0x00, 0x22}));
}

TEST_F(Session, FinishRestartsTheApplication)
{
    Run(SmallUnit());
    ASSERT_EQ(host->Ask(UserConnect, 8), "SyNcBoOt");
    host->Send(Finish);
    ASSERT_TRUE(sim->WaitForFinish(2000ms));
    // The application runs again: identity is not understood, the user connect is.
    EXPECT_EQ(host->Ask(Identify, 30, 200ms), "");
    EXPECT_EQ(host->Ask(UserConnect, 8), "SyNcBoOt");
    EXPECT_EQ(sim->Stats().userConnects, 2);
}

TEST_F(Session, AdapterLatencyDeliversARepliesBytesTogether)
{
    // Paced at 9600 bit/s the 30-byte identity takes 31 ms on the wire; a 100 ms timer
    // expires at most once within that, so the host reads it in one or two pieces.
    SimConfig cfg = SmallUnit();
    cfg.pace = true;
    cfg.latencyMs = 100;
    cfg.startInBootLoader = true;
    Run(cfg);
    for (int i = 0; i < 3; ++i) {
        host->Send(Identify);
        Bytes got;
        int reads = 0;
        while (got.size() < 30) {
            const Bytes part = host->Read(30 - got.size(), 2000ms);
            if (part.empty())
                break;
            got += part;
            ++reads;
        }
        EXPECT_EQ(got.size(), 30u);
        EXPECT_LE(reads, 2) << i;
    }
}

// ---------------------------------------------------------------- the protocol half alone

namespace {

// The unit fed bytes directly: no pseudo-terminal, no threads, replies collected in order.
struct DirectUnit {
    explicit DirectUnit(const SimConfig& c)
        : Record(true, false), Device(c,
                                      UnitLine{[this](const Bytes& b) { Replies += b; }, [this] { return Line; },
                                               [](int) { return true; }, [this] { HungUp = true; }},
                                      Record)
    {
        Line.bitRate = 9600;
    }

    // Each chunk of at most chunk bytes as one read from the line.
    Bytes Feed(const Bytes& bytes, size_t chunk = 4096)
    {
        const size_t before = Replies.size();
        for (size_t at = 0; at < bytes.size(); at += chunk)
            Device.Feed(bytes.substr(at, chunk));
        return Replies.substr(before);
    }

    LineSettings Line;
    Bytes Replies;
    bool HungUp = false;
    TraceLog Record;
    Unit Device;
};

// What a host sends for a whole run at 9600 bit/s, not waiting for any reply: user
// connect, negotiation, identity, erase, a two-block program and verify, finish.
Bytes WholeRun(const Bytes& image)
{
    Bytes b = UserConnect + H({0x44, 0x05, 0x40}) + "ABCDE" + Identify + Erase + BE(0x1000) + BE(1024);
    for (const Bytes& code : {Program, Verify})
        b += code + BE(0x1000) + BE(256) + image.substr(0, 128) + H({0x00}) + image.substr(128) + H({0x00});
    return b + Finish;
}

const Bytes IdentityReply = H({0x12, 0x34}) + BE(0x1000) + BE(1024) + "TEST UNIT" + Bytes(11, '\0');

} // namespace

TEST(UnitFedDirectly, HowTheBytesAreSplitDoesNotMatter)
{
    const Bytes image = Image(256);
    const Bytes expected =
        "SyNcBoOt" + H({0x40}) + "ABCDE" + IdentityReply + "$" + H({0x00, 0x00, 0x22}) + H({0x00, 0x00, 0x22});
    for (size_t chunk : {size_t(1), size_t(3), size_t(7), size_t(128), size_t(4096)}) {
        SCOPED_TRACE(chunk);
        DirectUnit u(SmallUnit());
        EXPECT_EQ(u.Feed(WholeRun(image), chunk), expected);
        EXPECT_TRUE(u.Record.Violations().empty()) << u.Record.Text();
        const SimStats s = u.Device.Stats();
        EXPECT_EQ(s.programs, 1);
        EXPECT_EQ(s.verifies, 1);
        EXPECT_EQ(s.finishes, 1);
        EXPECT_FALSE(s.inTransfer);
        const std::vector<uint8_t> flash = u.Device.Flash();
        EXPECT_EQ(Bytes(flash.begin(), flash.begin() + 256), image);
    }
}

TEST(UnitFedDirectly, FaultsChangeTheRepliesAndWhereTheUnitIsLeft)
{
    const Bytes image = Image(256);
    const Bytes head = "SyNcBoOt" + H({0x40}) + "ABCDE" + IdentityReply + "$";
    const Bytes transfer = H({0x00, 0x00, 0x22});
    struct Case {
        const char* what;
        std::function<void(SimConfig&)> setup;
        Bytes replies;
        bool hungUp;
    } cases[] = {
        // A lost reply: the unit carries on, the script's next bytes find it in step.
        {"missing block reply",
         [](SimConfig& c) {
             c.fault(Reply::ProgramBlock) = {FaultKind::Missing, 1};
         },
         head + H({0x00, 0x22}) + transfer, false},
        {"hang-up at the erase verdict",
         [](SimConfig& c) {
             c.fault(Reply::Erase) = {FaultKind::HangUp, 1};
         },
         head.substr(0, head.size() - 1), true},
        {"hang-up at the second verify block",
         [](SimConfig& c) {
             c.fault(Reply::VerifyBlock) = {FaultKind::HangUp, 2};
         },
         head + transfer + H({0x00}), true},
        {"hang-up at the second connect",
         [](SimConfig& c) {
             c.fault(Reply::Connect) = {FaultKind::HangUp, 2};
         },
         head + transfer + transfer, false},
        {"silent from verify block 2", [](SimConfig& c) { c.verify.silentFromBlock = 2; }, head + transfer + H({0x00}),
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SimConfig cfg = SmallUnit();
        c.setup(cfg);
        DirectUnit u(cfg);
        EXPECT_EQ(u.Feed(WholeRun(image)), c.replies);
        EXPECT_EQ(u.HungUp, c.hungUp);
        EXPECT_EQ(u.Device.Stats().hungUp, c.hungUp);
    }
}

TEST(UnitFedDirectly, LeftInATransferUntilTheEndMarker)
{
    DirectUnit u(SmallUnit());
    u.Feed(UserConnect + H({0x44, 0x05, 0x40}) + "ABCDE" + Erase + BE(0x1000) + BE(1024));
    const Bytes image = Image(256);
    const struct {
        Bytes bytes;
        bool inTransfer;
    } steps[] = {
        {Program + BE(0x1000) + BE(256), true},
        {image.substr(0, 128), true},
        {H({0x00}) + image.substr(128), true},
        {H({0xFF}), false}, // the abort marker also ends it, with the complete reply
    };
    for (const auto& step : steps) {
        u.Feed(step.bytes);
        EXPECT_EQ(u.Device.Stats().inTransfer, step.inTransfer) << HexBytes(step.bytes.substr(0, 4));
    }
    EXPECT_EQ(u.Replies.substr(u.Replies.size() - 3), H({0x00, 0x00, 0x22}));
}

TEST(UnitFedDirectly, ARegisterTheUnitCannotUseGarblesTheAcknowledge)
{
    // The host's new register off by one step still reaches a working rate; further off
    // the unit hears garbage and echoes it.
    struct Case {
        int sent;
        Bytes echo;
        bool violation;
    } cases[] = {{0x40, "ABCDE", false}, {0x41, "ABCDE", true}, {0x42, "\xBE\xBD\xBC\xBB\xBA", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sent);
        DirectUnit u(SmallUnit());
        EXPECT_EQ(u.Feed(UserConnect + H({0x44, 0x05, c.sent}) + "ABCDE"), "SyNcBoOt" + H({0x40}) + c.echo);
        EXPECT_EQ(u.Record.Violations().size(), c.violation ? 1u : 0u);
    }
}

// ---------------------------------------------------------------- the command

namespace {

struct Child {
    pid_t pid = -1;
    FILE* out = nullptr;
};

Child Spawn(const std::vector<std::string>& args)
{
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipeFds[1], 1);
        ::close(pipeFds[0]);
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    return {pid, ::fdopen(pipeFds[0], "r")};
}

int Reap(Child& c)
{
    int status = 0;
    ::waitpid(c.pid, &status, 0);
    if (c.out)
        ::fclose(c.out);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string FirstLine(FILE* f)
{
    char buf[256] = {};
    if (!std::fgets(buf, sizeof buf, f))
        return {};
    std::string s = buf;
    if (!s.empty() && s.back() == '\n')
        s.pop_back();
    return s;
}

} // namespace

TEST(UnitSimCommand, ServesUntilSignalledAndCleansUp)
{
    char dirTemplate[] = "/tmp/unitsim-cmd-XXXXXX";
    const std::string dir = ::mkdtemp(dirTemplate);
    const std::string link = dir + "/ttyUNIT", dump = dir + "/flash.bin", trace = dir + "/trace.txt";
    Child c = Spawn({UNITSIM_EXE, "--identity", "7,0x2000,512,CMD", "--link", link, "--dump", dump, "--trace", trace,
                     "--boot-loader"});
    const std::string path = FirstLine(c.out);
    ASSERT_EQ(path.rfind("/dev/pts/", 0), 0u) << path;
    char target[256] = {};
    ASSERT_GT(::readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(path, target);
    {
        Host host(link);
        EXPECT_EQ(host.Ask(Identify, 30).substr(0, 10), H({0, 7}) + BE(0x2000) + BE(512));
        EXPECT_EQ(host.Ask(Erase + BE(0x2000) + BE(512), 1), "$");
    }
    ::kill(c.pid, SIGTERM);
    EXPECT_EQ(Reap(c), 0);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
    EXPECT_EQ(std::filesystem::file_size(dump), 512u);
    std::ifstream in(trace);
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    EXPECT_NE(text.find("host> 63 DE 3D 96"), std::string::npos) << text;
    std::filesystem::remove_all(dir);
}

TEST(UnitSimCommand, ExitsAfterFinishWhenAsked)
{
    Child c = Spawn({UNITSIM_EXE, "--exit-after-finish", "--no-application", "--boot-answer-from", "2", "--reply-delay",
                     "connect=20"});
    const std::string path = FirstLine(c.out);
    ASSERT_FALSE(path.empty());
    {
        Host host(path);
        EXPECT_EQ(host.Ask("SyNcBoOt", 8, 150ms), "");
        EXPECT_EQ(host.Ask("SyNcBoOt", 8), "SyNcBoOt");
        host.Send(Finish);
    }
    EXPECT_EQ(Reap(c), 0);
}

TEST(UnitSimCommand, RejectsBadOptions)
{
    // A wrong command line is a usage error (2); a setting the unit cannot take fails (1).
    const struct {
        std::vector<std::string> args;
        int status;
    } cases[] = {
        {{"--fault", "identity=sometimes"}, 2},
        {{"--fault", "nothing=wrong"}, 2},
        {{"--reply-delay", "ack"}, 2},
        {{"--reply-delay", "nothing=5"}, 2},
        {{"--reply-delay", "ack=-1"}, 2},
        {{"--register", "300"}, 2},
        {{"--identity", "1,2,3"}, 2},
        {{"--frobnicate"}, 2},
        {{"--link"}, 2},
        {{"--dump="}, 2},
        {{"stray"}, 2},
        {{"--user-connect", "%ZZ"}, 1},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.begin(), UNITSIM_EXE);
        Child child = Spawn(args);
        EXPECT_EQ(FirstLine(child.out), "") << args[1];
        EXPECT_EQ(Reap(child), c.status) << args[1];
    }
    Child help = Spawn({UNITSIM_EXE, "--help"});
    EXPECT_EQ(FirstLine(help.out).rfind("usage:", 0), 0u);
    EXPECT_EQ(Reap(help), 0);
}
