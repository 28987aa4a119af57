// The unit: its feeding and plumbing, its connect and negotiation, the commands it takes
// when idle. The flash commands are in unit_flash.cpp.
#include "unitsim/unit.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <stdexcept>

#include "storage/util.h"
#include "unitsim/wire.h"

namespace unitsim {

namespace {

using Bytes = std::string;

using namespace wire;

// A command left half-sent this long is given up (the host ended its run mid-command).
constexpr auto AbandonAfter = std::chrono::milliseconds(3000);

// The wrong version of a connect response.
void InvertLastByte(Bytes& b)
{
    if (!b.empty())
        b.back() = char(~uint8_t(b.back()));
}

Bytes Unescaped(const std::string& text)
{
    try {
        return UnescapeText(text);
    } catch (const std::exception& e) {
        throw std::runtime_error(std::string("bad escape in a connect string or the name: ") + e.what());
    }
}

} // namespace

Unit::Unit(const SimConfig& config, UnitLine line, TraceLog& trace)
    : FConfig(config), FLine(std::move(line)), FTrace(trace), FFaults(FConfig, trace, [this] { HangUp(); }),
      FFlash(config)
{
    FBootConnect = Unescaped(config.bootConnect);
    FUserConnect = Unescaped(config.userConnect);
    FResponse = Unescaped(config.connectResponse);
    FName = Unescaped(config.name);
    if (FName.size() > NameLength)
        throw std::runtime_error("unit name \"" + config.name + "\" is longer than 20 bytes");
    FName.resize(NameLength, '\0');
    static_assert(IdentityLength == 2 + 4 + 4 + NameLength);
    FPhase = config.startInBootLoader ? Phase::BootLoader : Phase::Application;
}

std::vector<uint8_t> Unit::Flash() const
{
    return FFlash.Contents();
}

SimStats Unit::Stats() const
{
    std::lock_guard<std::mutex> lock(FLock);
    return FStats;
}

bool Unit::WaitForFinish(std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(FLock);
    return FChanged.wait_for(lock, timeout, [this] { return FStats.finishes > 0; });
}

void Unit::LineSeen(const LineSettings& settings)
{
    WithStats([&](SimStats& s) {
        s.lastBitRate = settings.bitRate;
        s.lastStopBits = settings.stopBits;
    });
}

// ---------------------------------------------------------------- plumbing

// A reply goes out after the unit's configured thinking time; a left-out reply costs none.
void Unit::Answer(Reply r, const Bytes& bytes)
{
    if (bytes.empty() || FHungUp || !FLine.wait(FConfig.replyDelay(r)))
        return;
    FTrace.BytesLine("unit> ", bytes);
    FLine.send(bytes);
}

void Unit::Expect(State s, size_t n)
{
    FState = s;
    FNeed = n;
    FPending.clear();
    WithStats([&](SimStats& st) { st.inTransfer = InTransfer(s); });
}

void Unit::FlushGarbage()
{
    if (FGarbage.empty())
        return;
    FTrace.Violation(
        (FPhase == Phase::Application ? "bytes the application does not understand: " : "bytes that fit no command: ") +
        HexBytes(FGarbage));
    FGarbage.clear();
}

void Unit::HangUp()
{
    FTrace.Note("hang-up: the line goes dead");
    FHungUp = true;
    // Counted first: a host that sees the line go dead may look at the stats at once.
    WithStats([](SimStats& s) { s.hungUp = true; });
    FLine.hangUp();
}

void Unit::HostQuiet(std::chrono::steady_clock::duration sinceLastByte)
{
    if (sinceLastByte <= AbandonAfter)
        return;
    if (FState != State::Idle) {
        FTrace.Note("host left a command unfinished; back to waiting for commands");
        if (InTransfer(FState))
            WithStats([](SimStats& s) { ++s.unfinishedTransfers; });
        Expect(State::Idle, 0);
        FIdentityProbe.clear();
    } else if (!FPending.empty()) {
        FGarbage += FPending;
        FPending.clear();
        FlushGarbage();
    }
}

// ---------------------------------------------------------------- feeding

void Unit::Feed(const Bytes& bytes)
{
    for (char c : bytes)
        Feed(uint8_t(c));
    ChunkDone();
}

void Unit::ChunkDone()
{
    FlushGarbage();
}

void Unit::Feed(uint8_t b)
{
    if (FDead || FHungUp)
        return;
    if (FState != State::NewRegister && FRegisterReceived >= 0)
        CheckRegister();
    switch (FState) {
    case State::Idle: FeedIdle(b); return;
    case State::Continue: FeedContinue(b); return;
    case State::EndMarker: FeedEndMarker(b); return;
    default: break;
    }
    FPending += char(b);
    if (FPending.size() < FNeed)
        return;
    const Bytes data = FPending;
    FPending.clear();
    switch (FState) {
    case State::NewRegister: NewRegister(uint8_t(data[0])); break;
    case State::AckData: Acknowledge(data); break;
    case State::EraseParams:
        Expect(State::Idle, 0);
        Erase(BE32(data, 0), BE32(data, 4));
        break;
    case State::TransferParams: StartTransfer(BE32(data, 0), BE32(data, 4)); break;
    case State::Block: BlockReceived(data); break;
    default: Expect(State::Idle, 0); break;
    }
}

// ---------------------------------------------------------------- idle: commands

std::vector<Unit::Token> Unit::Tokens() const
{
    std::vector<Token> t;
    if (!FUserConnect.empty())
        t.push_back({FUserConnect, TkUser, false});
    if (!FBootConnect.empty())
        t.push_back({FBootConnect, TkBoot, false});
    if (FPhase == Phase::BootLoader) {
        t.push_back({Bytes(1, char(wire::RegisterRequest)), TkRegister, true});
        t.push_back({CodeIdentify, TkIdentify, false});
        t.push_back({CodeErase, TkErase, false});
        t.push_back({CodeProgram, TkProgram, false});
        t.push_back({CodeVerify, TkVerify, false});
        t.push_back({CodeFinish, TkFinish, false});
    }
    return t;
}

void Unit::FeedIdle(uint8_t b)
{
    if (FAfterTransfer) {
        FAfterTransfer = false;
        if (b == 0x00) {
            FTrace.Violation("continue byte after the last block");
            return;
        }
    }
    FPending += char(b);
    for (;;) {
        bool prefix = false;
        for (const Token& t : Tokens()) {
            const size_t full = t.bytes.size() + (t.wildcardTail ? 1 : 0);
            const size_t n = std::min(FPending.size(), t.bytes.size());
            if (FPending.compare(0, n, t.bytes, 0, n) != 0)
                continue;
            if (FPending.size() == full) {
                const Bytes tail = FPending.substr(t.bytes.size());
                FPending.clear();
                FlushGarbage();
                Command(t.id, tail);
                return;
            }
            prefix = true;
        }
        if (prefix || FPending.empty())
            return;
        FGarbage += FPending[0];
        FPending.erase(0, 1);
    }
}

void Unit::Command(TokenId id, const Bytes& tail)
{
    switch (id) {
    case TkUser: UserConnect(); break;
    case TkBoot: BootConnect(); break;
    case TkRegister: RegisterRequest(uint8_t(tail[0])); break;
    case TkIdentify: Identify(); break;
    case TkErase: Expect(State::EraseParams, 8); break;
    case TkProgram:
    case TkVerify:
        FInProgram = id == TkProgram;
        Expect(State::TransferParams, 8);
        break;
    case TkFinish: Finish(); break;
    }
}

// The connect response, counted as a reply; true when it went out unspoiled.
bool Unit::AnswerConnect(int& answered)
{
    const int n = FFaults.Count(Reply::Connect);
    // Counted before the reply goes out, so a host that has its reply sees the count.
    const bool spoiled = FFaults.Faulted(Reply::Connect, n);
    if (!spoiled)
        WithStats([&](SimStats&) { ++answered; });
    Answer(Reply::Connect, FFaults.Spoil(Reply::Connect, n, FResponse, InvertLastByte));
    return !spoiled;
}

void Unit::UserConnect()
{
    if (FPhase != Phase::Application || !FConfig.applicationRunning) {
        FTrace.Note("user connect string ignored (no application running)");
        return;
    }
    if (AnswerConnect(FStats.userConnects)) {
        FTrace.Note("application restarts into the boot loader");
        FPhase = Phase::BootLoader;
    }
}

void Unit::BootConnect()
{
    ++FBootAttempts;
    WithStats([this](SimStats& s) { s.bootAttempts = FBootAttempts; });
    if (FConfig.bootWrongReplyAt != 0 && FBootAttempts == FConfig.bootWrongReplyAt) {
        Bytes wrong = FResponse;
        for (char& c : wrong)
            c = char(~uint8_t(c));
        FTrace.Note("boot connect attempt " + std::to_string(FBootAttempts) + " answered wrongly on purpose");
        Answer(Reply::Connect, wrong);
        return;
    }
    const bool answer = FPhase == Phase::BootLoader
        ? FConfig.bootAnswerFrom != 0
        : FConfig.bootAnswerFrom != 0 && FBootAttempts >= FConfig.bootAnswerFrom;
    if (answer && AnswerConnect(FStats.bootConnects)) {
        if (FPhase == Phase::Application)
            FTrace.Note("unit reset: the boot loader answers");
        FPhase = Phase::BootLoader;
    }
}

void Unit::RegisterRequest(uint8_t length)
{
    FAckLength = length;
    FRateAtRequest = FLine.settings().bitRate;
    const int n = FFaults.Count(Reply::Register);
    FRegisterSent = FConfig.baudRegister;
    const Bytes reply = FFaults.Spoil(Reply::Register, n, Bytes(1, char(FConfig.baudRegister)), [this](Bytes& r) {
        r[0] = char(~uint8_t(r[0]));
        FRegisterSent = uint8_t(r[0]);
    });
    WithStats([](SimStats& s) { ++s.registerRequests; });
    Answer(Reply::Register, reply);
    Expect(State::NewRegister, 1);
}

void Unit::NewRegister(uint8_t value)
{
    FRegisterReceived = value;
    WithStats([this](SimStats& s) { s.lastRegister = FRegisterReceived; });
    if (FAckLength > 0)
        Expect(State::AckData, size_t(FAckLength));
    else
        Expect(State::Idle, 0);
}

// The host sends the new register at the old rate and then switches; the rate it
// switched to is visible once the next bytes arrive.
void Unit::CheckRegister()
{
    const int rate = FLine.settings().bitRate;
    const uint8_t expected = ScaleBaudRegister(uint8_t(FRegisterSent), FRateAtRequest, rate);
    if (FRegisterReceived != expected)
        FTrace.Violation("new baud register " + Hex8(unsigned(FRegisterReceived)) + " where " + Hex8(expected) +
                         " scales register " + Hex8(unsigned(FRegisterSent)) + " from " +
                         std::to_string(FRateAtRequest) + " to " + std::to_string(rate) + " bit/s");
    else
        FTrace.Note("new baud register " + Hex8(expected) + " fits " + std::to_string(rate) + " bit/s");
    // The unit runs at the rate its real register gives. One step of the divider off still
    // works; further off (a register spoiled on its way to the host) the unit hears garbage.
    const int fits = ScaleBaudRegister(FConfig.baudRegister, FRateAtRequest, rate);
    FOffRate = std::abs(FRegisterReceived - fits) > 1;
    if (FOffRate)
        FTrace.Note("the unit's new rate is not the host's: it hears garbage");
    FRegisterReceived = -1;
}

void Unit::Acknowledge(Bytes data)
{
    const int n = FFaults.Count(Reply::Ack);
    WithStats([](SimStats& s) { ++s.acknowledges; });
    Expect(State::Idle, 0);
    if (FOffRate) {
        for (char& c : data)
            c = char(~uint8_t(c));
        FOffRate = false;
        FTrace.Note("garbled acknowledge echoed; the boot loader goes back to its old rate");
    }
    Answer(Reply::Ack, FFaults.Spoil(Reply::Ack, n, data, [](Bytes& r) { r.back() = char(uint8_t(r.back()) + 1); }));
}

void Unit::Identify()
{
    const int n = FFaults.Count(Reply::Identity);
    Bytes reply;
    reply += char(uint8_t(FConfig.seed >> 8));
    reply += char(uint8_t(FConfig.seed));
    PutBE32(reply, uint32_t(FConfig.flashStart));
    PutBE32(reply, uint32_t(FConfig.flashLength));
    reply += FName;
    reply = FFaults.Spoil(Reply::Identity, n, reply, [](Bytes& r) { r[1] = char(uint8_t(r[1]) + 1); });
    WithStats([](SimStats& s) { ++s.identities; });
    Answer(Reply::Identity, reply);
}

void Unit::Finish()
{
    FTrace.Note("finish: the application starts");
    FPhase = Phase::Application;
    FBootAttempts = 0;
    WithStats([](SimStats& s) { ++s.finishes; });
    FChanged.notify_all();
}

} // namespace unitsim
