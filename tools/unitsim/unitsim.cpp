#include "unitsim.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "lineinfo.h"
#include "util.h"

namespace unitsim {

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::string; // byte strings, as everywhere in the system

constexpr int TransferBlock = 128;
constexpr int IdentityLength = 30;
constexpr int NameLength = 20;
constexpr int32_t MaxFlashLength = 16 * 1024 * 1024;
// A command left half-sent this long is given up (the host ended its run mid-command).
constexpr auto AbandonAfter = std::chrono::milliseconds(3000);

const Bytes CodeIdentify("\x63\xDE\x3D\x96", 4);
const Bytes CodeErase("\xD7\x68\xFE\xFA", 4);
const Bytes CodeProgram("\xB7\xD6\xF5\x3C", 4);
const Bytes CodeVerify("\x53\xE1\xA8\xD7", 4);
const Bytes CodeFinish("\xC3\x37\x23\xC6", 4);
constexpr uint8_t RegisterRequest = 0x44;

constexpr uint8_t BlockAccepted = 0x00;
constexpr uint8_t TransferComplete = 0x22;
constexpr uint8_t TransferFailed = 0x23;
constexpr uint8_t EraseWrongByte = 0x3F;

uint32_t BE32(const Bytes& b, size_t at)
{
    return (uint32_t(uint8_t(b[at])) << 24) | (uint32_t(uint8_t(b[at + 1])) << 16) |
        (uint32_t(uint8_t(b[at + 2])) << 8) | uint32_t(uint8_t(b[at + 3]));
}

void PutBE32(Bytes& b, uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        b += char(uint8_t(v >> shift));
}

std::string HexBytes(const Bytes& b)
{
    std::string out;
    char buf[4];
    for (size_t i = 0; i < b.size(); ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", unsigned(uint8_t(b[i])));
        out += buf;
    }
    return out;
}

// The wrong version of a connect response.
void InvertLastByte(Bytes& b)
{
    if (!b.empty())
        b.back() = char(~uint8_t(b.back()));
}

std::string Hex8(unsigned v)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02X", v & 0xFFu);
    return buf;
}

enum class Phase { Application, BootLoader };

enum class State {
    Idle,
    NewRegister, // one byte: the scaled register
    AckData,     // ackLength bytes to echo
    EraseParams, // start, length
    TransferParams,
    Block,
    Continue,  // 00 between blocks, FF aborts
    EndMarker, // 00 or FF after the last block
};

} // namespace

uint8_t ScaleBaudRegister(uint8_t reg, int32_t oldRate, int32_t newRate)
{
    if (newRate == 0)
        return 0;
    const long double quotient = static_cast<long double>(oldRate) / static_cast<long double>(newRate);
    const long double product = quotient * static_cast<long double>(reg);
    const float rounded = static_cast<float>(product);
    if (!std::isfinite(rounded) || std::fabs(rounded) >= 9.2e18f)
        return 0;
    return static_cast<uint8_t>(static_cast<int64_t>(rounded) & 0xFF);
}

void ParseIdentity(const std::string& text, SimConfig& config)
{
    std::vector<std::string> parts;
    size_t from = 0;
    for (int i = 0; i < 3; ++i) {
        const size_t comma = text.find(',', from);
        if (comma == std::string::npos)
            throw std::invalid_argument("identity \"" + text + "\": expected seed,start,length,name");
        parts.push_back(text.substr(from, comma - from));
        from = comma + 1;
    }
    parts.push_back(text.substr(from));
    auto number = [&](const std::string& s, long long lo, long long hi, const char* what) {
        size_t used = 0;
        long long v = 0;
        try {
            v = std::stoll(s, &used, 0);
        } catch (const std::exception&) {
            used = 0;
        }
        if (s.empty() || used != s.size() || v < lo || v > hi)
            throw std::invalid_argument("identity " + std::string(what) + " \"" + s + "\": not a number in " +
                                        std::to_string(lo) + ".." + std::to_string(hi));
        return v;
    };
    config.seed = uint16_t(number(parts[0], 0, 0xFFFF, "seed"));
    config.flashStart = int32_t(number(parts[1], INT32_MIN, INT32_MAX, "start"));
    config.flashLength = int32_t(number(parts[2], 0, MaxFlashLength, "length"));
    config.name = parts[3];
}

struct UnitSimulator::Impl {
    SimConfig cfg;
    Bytes bootConnect, userConnect, response, name;

    int master = -1;
    int slaveKeeper = -1; // keeps the slave side alive while the host has it closed
    int wake = -1;
    std::string slavePath;
    std::thread thread;
    Clock::time_point t0 = Clock::now();

    mutable std::mutex m;
    mutable std::condition_variable cv;
    bool stopRequested = false;
    bool serving = false;
    std::vector<uint8_t> flash;
    std::string trace;
    std::vector<std::string> violations;
    SimStats stats;

    // Protocol state, touched by the serving thread only.
    Phase phase = Phase::Application;
    State state = State::Idle;
    Bytes pending; // idle: bytes that may still become a command; else the current parameter bytes
    Bytes garbage; // bytes that fit nothing, reported together
    size_t need = 0;
    int ackLength = 0;
    int registerSent = 0;
    int rateAtRequest = 0;
    int registerReceived = -1; // checked once the host has switched its rate
    int bootAttempts = 0;
    bool dead = false;
    bool afterTransfer = false;
    bool inProgram = false;
    uint32_t transferAddress = 0;
    uint32_t transferSize = 0;
    uint32_t transferDone = 0;
    int blockIndex = 0;
    int blockCount = 0;
    Bytes identityProbe; // bytes of an identity request sent where a continue byte was due
    int counts[ReplyCount] = {};
    Clock::time_point lastByte = Clock::now();
    Clock::time_point rxClock = Clock::now(), txClock = Clock::now();

    // ---------------------------------------------------------------- plumbing

    double Now() const { return std::chrono::duration<double>(Clock::now() - t0).count(); }

    void TraceLine(const std::string& line)
    {
        if (!cfg.keepTrace)
            return;
        char stamp[32];
        std::snprintf(stamp, sizeof stamp, "%11.6f ", Now());
        std::lock_guard<std::mutex> lock(m);
        trace += stamp;
        trace += line;
        trace += '\n';
    }

    void Note(const std::string& text) { TraceLine("note: " + text); }

    void Violation(const std::string& text)
    {
        TraceLine("VIOLATION: " + text);
        if (cfg.reportToStderr)
            std::fprintf(stderr, "moravent-unitsim: host violation: %s\n", text.c_str());
        std::lock_guard<std::mutex> lock(m);
        violations.push_back(text);
    }

    bool StopRequested()
    {
        std::lock_guard<std::mutex> lock(m);
        return stopRequested;
    }

    LineSettings Line() const
    {
        LineSettings s;
        if (master >= 0)
            ReadLineSettings(master, s);
        return s;
    }

    // Sleeps until t unless a stop is requested; false when stopping.
    bool SleepUntil(Clock::time_point t)
    {
        std::unique_lock<std::mutex> lock(m);
        return !cv.wait_until(lock, t, [this] { return stopRequested; });
    }

    bool SleepMs(int ms) { return ms <= 0 || SleepUntil(Clock::now() + std::chrono::milliseconds(ms)); }

    bool WriteAll(const char* p, size_t n)
    {
        while (n > 0 && master >= 0) {
            const ssize_t w = ::write(master, p, n);
            if (w > 0) {
                p += w;
                n -= size_t(w);
                continue;
            }
            if (w < 0 && errno == EINTR)
                continue;
            if (w < 0 && errno == EAGAIN) {
                pollfd pfd{master, POLLOUT, 0};
                ::poll(&pfd, 1, 100);
                if (StopRequested())
                    return false;
                continue;
            }
            Note(std::string("write to the line failed: ") + std::strerror(errno));
            return false;
        }
        return true;
    }

    void Send(const Bytes& bytes)
    {
        if (bytes.empty() || master < 0)
            return;
        TraceLine("unit> " + HexBytes(bytes));
        if (!cfg.pace) {
            WriteAll(bytes.data(), bytes.size());
            return;
        }
        const double charTime = Line().CharTime();
        const auto step = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(charTime));
        txClock = std::max(txClock, Clock::now());
        for (char c : bytes) {
            if (!SleepUntil(txClock) || !WriteAll(&c, 1))
                return;
            txClock += step;
        }
    }

    // A reply goes out after the unit's configured thinking time; a left-out reply costs none.
    void Answer(Reply r, const Bytes& bytes)
    {
        if (bytes.empty() || !SleepMs(cfg.replyDelay(r)))
            return;
        Send(bytes);
    }

    // Applies a configured fault to a reply; wrongFn makes the wrong version.
    template <typename WrongFn> Bytes Spoil(Reply r, int occurrence, Bytes reply, WrongFn wrongFn)
    {
        if (!Faulted(r, occurrence))
            return reply;
        const ReplyFault& f = cfg.fault(r);
        switch (f.kind) {
        case FaultKind::Missing: Note("reply left out on purpose"); return {};
        case FaultKind::Short:
            Note("reply cut short on purpose");
            if (!reply.empty())
                reply.pop_back();
            return reply;
        case FaultKind::Wrong:
            Note("wrong reply on purpose");
            wrongFn(reply);
            return reply;
        case FaultKind::None: break;
        }
        return reply;
    }

    int Count(Reply r) { return ++counts[static_cast<int>(r)]; }

    bool Faulted(Reply r, int occurrence) const
    {
        const ReplyFault& f = cfg.fault(r);
        return f.kind != FaultKind::None && (f.at == 0 || f.at == occurrence);
    }

    void FlushGarbage()
    {
        if (garbage.empty())
            return;
        Violation((phase == Phase::Application ? "bytes the application does not understand: "
                                               : "bytes that fit no command: ") +
                  HexBytes(garbage));
        garbage.clear();
    }

    template <typename F> void WithStats(F f)
    {
        std::lock_guard<std::mutex> lock(m);
        f(stats);
    }

    // ---------------------------------------------------------------- idle: commands

    struct Token {
        Bytes bytes;
        int id;
        bool wildcardTail; // one more byte of any value follows (register request)
    };
    enum TokenId { TkUser, TkBoot, TkRegister, TkIdentify, TkErase, TkProgram, TkVerify, TkFinish };

    std::vector<Token> Tokens() const
    {
        std::vector<Token> t;
        if (!userConnect.empty())
            t.push_back({userConnect, TkUser, false});
        if (!bootConnect.empty())
            t.push_back({bootConnect, TkBoot, false});
        if (phase == Phase::BootLoader) {
            t.push_back({Bytes(1, char(RegisterRequest)), TkRegister, true});
            t.push_back({CodeIdentify, TkIdentify, false});
            t.push_back({CodeErase, TkErase, false});
            t.push_back({CodeProgram, TkProgram, false});
            t.push_back({CodeVerify, TkVerify, false});
            t.push_back({CodeFinish, TkFinish, false});
        }
        return t;
    }

    void FeedIdle(uint8_t b)
    {
        if (afterTransfer) {
            afterTransfer = false;
            if (b == 0x00) {
                Violation("continue byte after the last block");
                return;
            }
        }
        pending += char(b);
        for (;;) {
            bool prefix = false;
            for (const Token& t : Tokens()) {
                const size_t full = t.bytes.size() + (t.wildcardTail ? 1 : 0);
                const size_t n = std::min(pending.size(), t.bytes.size());
                if (pending.compare(0, n, t.bytes, 0, n) != 0)
                    continue;
                if (pending.size() == full) {
                    Bytes tail = pending.substr(t.bytes.size());
                    pending.clear();
                    FlushGarbage();
                    Command(t.id, tail);
                    return;
                }
                prefix = true;
            }
            if (prefix || pending.empty())
                return;
            garbage += pending[0];
            pending.erase(0, 1);
        }
    }

    void Command(int id, const Bytes& tail)
    {
        switch (id) {
        case TkUser: UserConnect(); break;
        case TkBoot: BootConnect(); break;
        case TkRegister: RegisterRequestCmd(uint8_t(tail[0])); break;
        case TkIdentify: Identify(); break;
        case TkErase: Expect(State::EraseParams, 8); break;
        case TkProgram:
        case TkVerify:
            inProgram = id == TkProgram;
            Expect(State::TransferParams, 8);
            break;
        case TkFinish: FinishCmd(); break;
        }
    }

    void Expect(State s, size_t n)
    {
        state = s;
        need = n;
        pending.clear();
    }

    void UserConnect()
    {
        if (phase != Phase::Application || !cfg.applicationRunning) {
            Note("user connect string ignored (no application running)");
            return;
        }
        const int n = Count(Reply::Connect);
        // Counted before the reply goes out, so a host that has its reply sees the count.
        const bool spoiled = Faulted(Reply::Connect, n);
        if (!spoiled)
            WithStats([](SimStats& s) { ++s.userConnects; });
        Answer(Reply::Connect, Spoil(Reply::Connect, n, response, InvertLastByte));
        if (!spoiled) {
            Note("application restarts into the boot loader");
            phase = Phase::BootLoader;
        }
    }

    void BootConnect()
    {
        ++bootAttempts;
        WithStats([this](SimStats& s) { s.bootAttempts = bootAttempts; });
        if (cfg.bootWrongReplyAt != 0 && bootAttempts == cfg.bootWrongReplyAt) {
            Bytes wrong = response;
            for (char& c : wrong)
                c = char(~uint8_t(c));
            Note("boot connect attempt " + std::to_string(bootAttempts) + " answered wrongly on purpose");
            Answer(Reply::Connect, wrong);
            return;
        }
        const bool answer = phase == Phase::BootLoader ? cfg.bootAnswerFrom != 0
                                                       : cfg.bootAnswerFrom != 0 && bootAttempts >= cfg.bootAnswerFrom;
        if (!answer)
            return;
        const int n = Count(Reply::Connect);
        const bool spoiled = Faulted(Reply::Connect, n);
        if (!spoiled)
            WithStats([](SimStats& s) { ++s.bootConnects; });
        Answer(Reply::Connect, Spoil(Reply::Connect, n, response, InvertLastByte));
        if (!spoiled) {
            if (phase == Phase::Application)
                Note("unit reset: the boot loader answers");
            phase = Phase::BootLoader;
        }
    }

    void RegisterRequestCmd(uint8_t length)
    {
        ackLength = length;
        const LineSettings line = Line();
        rateAtRequest = line.bitRate;
        const int n = Count(Reply::Register);
        registerSent = cfg.baudRegister;
        Bytes reply(1, char(cfg.baudRegister));
        reply = Spoil(Reply::Register, n, reply, [this](Bytes& r) {
            r[0] = char(~uint8_t(r[0]));
            registerSent = uint8_t(r[0]);
        });
        WithStats([](SimStats& s) { ++s.registerRequests; });
        Answer(Reply::Register, reply);
        Expect(State::NewRegister, 1);
    }

    // The host sends the new register at the old rate and then switches; the rate it
    // switched to is visible once the next bytes arrive.
    void CheckRegister()
    {
        if (registerReceived < 0)
            return;
        const LineSettings line = Line();
        const uint8_t expected = ScaleBaudRegister(uint8_t(registerSent), rateAtRequest, line.bitRate);
        if (registerReceived != expected)
            Violation("new baud register " + Hex8(unsigned(registerReceived)) + " where " + Hex8(expected) +
                      " scales register " + Hex8(unsigned(registerSent)) + " from " + std::to_string(rateAtRequest) +
                      " to " + std::to_string(line.bitRate) + " bit/s");
        else
            Note("new baud register " + Hex8(expected) + " fits " + std::to_string(line.bitRate) + " bit/s");
        registerReceived = -1;
    }

    void Identify()
    {
        const int n = Count(Reply::Identity);
        Bytes reply;
        reply += char(uint8_t(cfg.seed >> 8));
        reply += char(uint8_t(cfg.seed));
        PutBE32(reply, uint32_t(cfg.flashStart));
        PutBE32(reply, uint32_t(cfg.flashLength));
        reply += name;
        reply = Spoil(Reply::Identity, n, reply, [](Bytes& r) { r[1] = char(uint8_t(r[1]) + 1); });
        WithStats([](SimStats& s) { ++s.identities; });
        Answer(Reply::Identity, reply);
    }

    void FinishCmd()
    {
        Note("finish: the application starts");
        phase = Phase::Application;
        bootAttempts = 0;
        {
            std::lock_guard<std::mutex> lock(m);
            ++stats.finishes;
        }
        cv.notify_all();
    }

    // ---------------------------------------------------------------- parameterised states

    void Erase(uint32_t start, uint32_t length)
    {
        const int n = Count(Reply::Erase);
        const int64_t from = int64_t(int32_t(start)) - cfg.flashStart;
        const int64_t to = from + int64_t(length);
        uint8_t verdict = cfg.eraseVerdict;
        if (from < 0 || to > cfg.flashLength || int32_t(length) < 0) {
            Note("erase range outside the flash: reporting a failure");
            verdict = '%';
        } else if (verdict == '$') {
            if (!SleepMs(cfg.eraseDelayMs))
                return;
            std::lock_guard<std::mutex> lock(m);
            std::fill(flash.begin() + from, flash.begin() + to, uint8_t(0xFF));
        }
        WithStats([](SimStats& s) { ++s.erases; });
        Answer(Reply::Erase,
               Spoil(Reply::Erase, n, Bytes(1, char(verdict)), [](Bytes& r) { r[0] = char(EraseWrongByte); }));
    }

    void StartTransfer(uint32_t address, uint32_t size)
    {
        transferAddress = address;
        transferSize = size;
        transferDone = 0;
        blockIndex = 0;
        blockCount = int((uint64_t(size) + TransferBlock - 1) / TransferBlock);
        Note(std::string(inProgram ? "program" : "verify") + " " + std::to_string(size) + " bytes at " +
             std::to_string(int32_t(address)) + " in " + std::to_string(blockCount) + " blocks");
        if (size == 0)
            Expect(State::EndMarker, 1);
        else
            Expect(State::Block, std::min<uint32_t>(size, TransferBlock));
    }

    const TransferFaults& Faults() const { return inProgram ? cfg.program : cfg.verify; }

    void HangUp()
    {
        Note("hang-up: the line goes dead");
        if (master >= 0)
            ::close(master);
        if (slaveKeeper >= 0)
            ::close(slaveKeeper);
        master = slaveKeeper = -1;
        WithStats([](SimStats& s) { s.hungUp = true; });
    }

    void BlockReceived(const Bytes& data)
    {
        ++blockIndex;
        const TransferFaults& tf = Faults();
        if (tf.hangupAtBlock == blockIndex) {
            HangUp();
            return;
        }
        if (tf.silentFromBlock != 0 && blockIndex >= tf.silentFromBlock) {
            Note("unit falls silent");
            dead = true;
            return;
        }
        uint8_t verdict = BlockAccepted;
        const int64_t offset = int64_t(int32_t(transferAddress)) - cfg.flashStart + transferDone;
        if (offset < 0 || offset + int64_t(data.size()) > cfg.flashLength) {
            Note("block " + std::to_string(blockIndex) + " lies outside the flash");
            verdict = TransferFailed;
        } else if (inProgram) {
            if (!SleepMs(cfg.blockDelayMs))
                return;
            std::lock_guard<std::mutex> lock(m);
            for (size_t i = 0; i < data.size(); ++i) {
                uint8_t& cell = flash[size_t(offset) + i];
                cell &= uint8_t(data[i]); // programming only clears bits
                if (cell != uint8_t(data[i]))
                    verdict = TransferFailed;
            }
        } else {
            std::lock_guard<std::mutex> lock(m);
            if (!std::equal(data.begin(), data.end(), flash.begin() + offset,
                            [](char a, uint8_t b) { return uint8_t(a) == b; }))
                verdict = TransferFailed;
        }
        if (verdict == TransferFailed && inProgram)
            Note("block " + std::to_string(blockIndex) + " did not program (flash not erased?)");
        if (tf.failBlock == blockIndex) {
            Note("block " + std::to_string(blockIndex) + " fails on purpose");
            verdict = TransferFailed;
        }
        const Reply kind = inProgram ? Reply::ProgramBlock : Reply::VerifyBlock;
        Bytes reply(1, char(verdict));
        if (verdict == BlockAccepted)
            reply = Spoil(kind, blockIndex, reply, [](Bytes& r) { r[0] = char(TransferComplete); });
        Answer(kind, reply);
        transferDone += uint32_t(data.size());
        if (reply.size() != 1 || uint8_t(reply[0]) != BlockAccepted) {
            Expect(State::Idle, 0); // the host gives up on this transfer
            return;
        }
        if (transferDone < transferSize)
            Expect(State::Continue, 1);
        else
            Expect(State::EndMarker, 1);
    }

    void FinalReply(bool aborted)
    {
        const Reply r = inProgram ? Reply::ProgramFinal : Reply::VerifyFinal;
        const int n = Count(r);
        const TransferFaults& tf = Faults();
        uint8_t verdict = TransferComplete;
        if (!aborted && tf.failBlock > blockCount) {
            Note("transfer fails at its end on purpose");
            verdict = TransferFailed;
        }
        Bytes reply(1, char(verdict));
        if (verdict == TransferComplete)
            reply = Spoil(r, n, reply, [](Bytes& x) { x[0] = char(BlockAccepted); });
        if (reply.size() == 1 && uint8_t(reply[0]) == TransferComplete && !aborted)
            WithStats([this](SimStats& s) { ++(inProgram ? s.programs : s.verifies); });
        Answer(r, reply);
        Expect(State::Idle, 0);
        afterTransfer = true;
    }

    void FeedContinue(uint8_t b)
    {
        if (!identityProbe.empty() || b == uint8_t(CodeIdentify[0])) {
            identityProbe += char(b);
            if (CodeIdentify.compare(0, identityProbe.size(), identityProbe) == 0) {
                if (identityProbe.size() == CodeIdentify.size()) {
                    Violation("identity request in the middle of a transfer");
                    identityProbe.clear();
                }
                return;
            }
            Violation("byte(s) " + HexBytes(identityProbe) + " where a continue byte was due");
            identityProbe.clear();
            return;
        }
        if (b == 0x00) {
            Expect(State::Block, std::min<uint32_t>(transferSize - transferDone, TransferBlock));
        } else if (b == 0xFF) {
            Note("host aborts the transfer after block " + std::to_string(blockIndex));
            FinalReply(true);
        } else {
            Violation("byte " + Hex8(b) + " where a continue byte was due");
        }
    }

    void FeedEndMarker(uint8_t b)
    {
        if (b == 0x00 || b == 0xFF) {
            if (b == 0xFF)
                Note("host ends the transfer with the abort marker");
            FinalReply(b == 0xFF);
            return;
        }
        Violation("missing end marker: byte " + Hex8(b) + " after the last block");
        Expect(State::Idle, 0);
        FeedIdle(b);
    }

    void Feed(uint8_t b)
    {
        if (dead || master < 0)
            return;
        if (state != State::NewRegister && registerReceived >= 0)
            CheckRegister();
        switch (state) {
        case State::Idle: FeedIdle(b); return;
        case State::Continue: FeedContinue(b); return;
        case State::EndMarker: FeedEndMarker(b); return;
        default: break;
        }
        pending += char(b);
        if (pending.size() < need)
            return;
        const Bytes data = pending;
        pending.clear();
        switch (state) {
        case State::NewRegister:
            registerReceived = uint8_t(data[0]);
            WithStats([this](SimStats& s) { s.lastRegister = registerReceived; });
            if (ackLength > 0)
                Expect(State::AckData, size_t(ackLength));
            else
                Expect(State::Idle, 0);
            break;
        case State::AckData: {
            const int n = Count(Reply::Ack);
            WithStats([](SimStats& s) { ++s.acknowledges; });
            Expect(State::Idle, 0);
            Answer(Reply::Ack, Spoil(Reply::Ack, n, data, [](Bytes& r) { r.back() = char(uint8_t(r.back()) + 1); }));
            break;
        }
        case State::EraseParams:
            Expect(State::Idle, 0);
            Erase(BE32(data, 0), BE32(data, 4));
            break;
        case State::TransferParams: StartTransfer(BE32(data, 0), BE32(data, 4)); break;
        case State::Block: BlockReceived(data); break;
        default: Expect(State::Idle, 0); break;
        }
    }

    // ---------------------------------------------------------------- serving loop

    void Received(const char* data, size_t n)
    {
        TraceLine("host> " + HexBytes(Bytes(data, n)));
        const LineSettings line = Line();
        WithStats([&](SimStats& s) {
            s.lastBitRate = line.bitRate;
            s.lastStopBits = line.stopBits;
        });
        const auto step = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(line.CharTime()));
        rxClock = std::max(rxClock, Clock::now());
        for (size_t i = 0; i < n; ++i) {
            if (cfg.pace) {
                rxClock += step;
                if (!SleepUntil(rxClock))
                    return;
            }
            Feed(uint8_t(data[i]));
        }
        FlushGarbage();
    }

    void Serve()
    {
        char buf[4096];
        while (master >= 0) {
            pollfd fds[2] = {{master, POLLIN, 0}, {wake, POLLIN, 0}};
            const int r = ::poll(fds, 2, 250);
            if (r < 0 && errno != EINTR)
                break;
            if (fds[1].revents & POLLIN)
                break;
            if (r > 0 && (fds[0].revents & POLLIN)) {
                const ssize_t got = ::read(master, buf, sizeof buf);
                if (got > 0) {
                    lastByte = Clock::now();
                    Received(buf, size_t(got));
                    continue;
                }
                if (got < 0 && (errno == EAGAIN || errno == EINTR))
                    continue;
            }
            if (r > 0 && (fds[0].revents & (POLLHUP | POLLERR)) && !(fds[0].revents & POLLIN)) {
                // Only when nobody holds the slave (the keeper is gone): wait, don't spin.
                if (!SleepMs(50))
                    break;
                continue;
            }
            if (state != State::Idle && Clock::now() - lastByte > AbandonAfter) {
                Note("host left a command unfinished; back to waiting for commands");
                Expect(State::Idle, 0);
                identityProbe.clear();
            } else if (state == State::Idle && !pending.empty() && Clock::now() - lastByte > AbandonAfter) {
                garbage += pending;
                pending.clear();
                FlushGarbage();
            }
            if (StopRequested())
                break;
        }
        {
            std::lock_guard<std::mutex> lock(m);
            serving = false;
        }
        cv.notify_all();
    }
};

UnitSimulator::UnitSimulator(const SimConfig& config) : d(std::make_unique<Impl>())
{
    d->cfg = config;
    if (config.flashLength < 0 || config.flashLength > MaxFlashLength)
        throw std::runtime_error("flash length " + std::to_string(config.flashLength) + " outside 0.." +
                                 std::to_string(MaxFlashLength));
    try {
        d->bootConnect = UnescapeText(config.bootConnect);
        d->userConnect = UnescapeText(config.userConnect);
        d->response = UnescapeText(config.connectResponse);
        d->name = UnescapeText(config.name);
    } catch (const std::exception& e) {
        throw std::runtime_error(std::string("bad escape in a connect string or the name: ") + e.what());
    }
    if (d->name.size() > NameLength)
        throw std::runtime_error("unit name \"" + config.name + "\" is longer than 20 bytes");
    d->name.resize(NameLength, '\0');
    if (!config.initialFlash.empty()) {
        if (config.initialFlash.size() != size_t(config.flashLength))
            throw std::runtime_error("initial flash contents must be " + std::to_string(config.flashLength) + " bytes");
        d->flash = config.initialFlash;
    } else {
        d->flash.assign(size_t(config.flashLength), config.initialFill);
    }
    static_assert(IdentityLength == 2 + 4 + 4 + NameLength);

    d->master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (d->master < 0)
        throw std::runtime_error(std::string("cannot open a pseudo-terminal: ") + std::strerror(errno));
    char path[128];
    if (::grantpt(d->master) != 0 || ::unlockpt(d->master) != 0 || ::ptsname_r(d->master, path, sizeof path) != 0) {
        const int e = errno;
        ::close(d->master);
        throw std::runtime_error(std::string("cannot prepare the pseudo-terminal: ") + std::strerror(e));
    }
    d->slavePath = path;
    d->slaveKeeper = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    d->wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (d->slaveKeeper < 0 || d->wake < 0) {
        const int e = errno;
        if (d->slaveKeeper >= 0)
            ::close(d->slaveKeeper);
        if (d->wake >= 0)
            ::close(d->wake);
        ::close(d->master);
        throw std::runtime_error(std::string("cannot open ") + path + ": " + std::strerror(e));
    }
    termios t{};
    if (::tcgetattr(d->slaveKeeper, &t) == 0) {
        ::cfmakeraw(&t);
        ::cfsetispeed(&t, B9600);
        ::cfsetospeed(&t, B9600);
        ::tcsetattr(d->slaveKeeper, TCSANOW, &t);
    }
    ::fcntl(d->master, F_SETFL, ::fcntl(d->master, F_GETFL) | O_NONBLOCK);
    ::fcntl(d->master, F_SETFD, FD_CLOEXEC);
    d->phase = config.startInBootLoader ? Phase::BootLoader : Phase::Application;
}

UnitSimulator::~UnitSimulator()
{
    Stop();
    if (d->master >= 0)
        ::close(d->master);
    if (d->slaveKeeper >= 0)
        ::close(d->slaveKeeper);
    if (d->wake >= 0)
        ::close(d->wake);
}

std::string UnitSimulator::SlavePath() const
{
    return d->slavePath;
}

void UnitSimulator::Start()
{
    std::lock_guard<std::mutex> lock(d->m);
    if (d->thread.joinable() || d->stopRequested)
        return;
    d->serving = true;
    d->t0 = Clock::now();
    d->thread = std::thread([this] { d->Serve(); });
}

void UnitSimulator::Stop()
{
    {
        std::lock_guard<std::mutex> lock(d->m);
        d->stopRequested = true;
    }
    d->cv.notify_all();
    if (d->wake >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t w = ::write(d->wake, &one, sizeof one);
    }
    if (d->thread.joinable())
        d->thread.join();
}

std::vector<uint8_t> UnitSimulator::Flash() const
{
    std::lock_guard<std::mutex> lock(d->m);
    return d->flash;
}

std::string UnitSimulator::Trace() const
{
    std::lock_guard<std::mutex> lock(d->m);
    return d->trace;
}

void UnitSimulator::Note(const std::string& text)
{
    d->Note(text);
}

std::vector<std::string> UnitSimulator::Violations() const
{
    std::lock_guard<std::mutex> lock(d->m);
    return d->violations;
}

SimStats UnitSimulator::Stats() const
{
    std::lock_guard<std::mutex> lock(d->m);
    return d->stats;
}

bool UnitSimulator::WaitForFinish(std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(d->m);
    return d->cv.wait_for(lock, timeout, [this] { return d->stats.finishes > 0; });
}

bool UnitSimulator::WaitForStop(std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(d->m);
    return d->cv.wait_for(lock, timeout, [this] { return !d->serving; });
}

} // namespace unitsim
