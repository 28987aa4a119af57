#pragma once
// The simulated unit itself: its running application and its boot loader as a state
// machine fed the host's bytes one by one, answering through its line. Knows nothing of
// pseudo-terminals, so it can be driven directly.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "unitsim/faults.h"
#include "unitsim/flash_array.h"
#include "unitsim/lineinfo.h"
#include "unitsim/trace.h"
#include "unitsim/unitsim.h"

namespace unitsim {

// What the unit needs from the line it sits on.
struct UnitLine {
    std::function<void(const std::string&)> send; // a reply leaves the unit
    std::function<LineSettings()> settings;       // the host's current line settings
    std::function<bool(int ms)> wait;             // the unit's own time passes; false once stopping
    std::function<void()> hangUp;                 // the line goes dead
};

class Unit {
public:
    // Raises std::runtime_error when the configuration is unusable. The trace must outlive it.
    Unit(const SimConfig& config, UnitLine line, TraceLog& trace);
    Unit(const Unit&) = delete;
    Unit& operator=(const Unit&) = delete;

    void Feed(uint8_t byte);
    // Bytes that fit nothing are reported together once the host's write is taken in.
    void ChunkDone();
    // Every byte, then ChunkDone.
    void Feed(const std::string& bytes);
    // The line settings the host has applied, as they were when its bytes arrived.
    void LineSeen(const LineSettings& settings);
    // The host has sent nothing for this long: a command it left half-sent is given up.
    void HostQuiet(std::chrono::steady_clock::duration sinceLastByte);

    std::vector<uint8_t> Flash() const;
    SimStats Stats() const;
    bool WaitForFinish(std::chrono::milliseconds timeout) const;

private:
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
    static bool InTransfer(State s) { return s == State::Block || s == State::Continue || s == State::EndMarker; }
    enum TokenId { TkUser, TkBoot, TkRegister, TkIdentify, TkErase, TkProgram, TkVerify, TkFinish };
    struct Token {
        std::string bytes;
        TokenId id;
        bool wildcardTail; // one more byte of any value follows (register request)
    };

    template <typename F> void WithStats(F f)
    {
        std::lock_guard<std::mutex> lock(FLock);
        f(FStats);
    }
    void Answer(Reply r, const std::string& bytes);
    void Expect(State s, size_t n);
    void FlushGarbage();
    void HangUp();

    std::vector<Token> Tokens() const;
    void FeedIdle(uint8_t b);
    void Command(TokenId id, const std::string& tail);
    bool AnswerConnect(int& answered);
    void UserConnect();
    void BootConnect();
    void RegisterRequest(uint8_t length);
    void CheckRegister();
    void NewRegister(uint8_t value);
    void Acknowledge(std::string data);
    void Identify();
    void Finish();
    void Erase(uint32_t start, uint32_t length);

    const TransferFaults& Faults() const { return FInProgram ? FConfig.program : FConfig.verify; }
    void StartTransfer(uint32_t address, uint32_t size);
    void BlockReceived(const std::string& data);
    int64_t BlockOffset() const; // of the block under way, in the flash array
    void FinalReply(bool aborted);
    void FeedContinue(uint8_t b);
    void FeedEndMarker(uint8_t b);

    const SimConfig FConfig;
    UnitLine FLine;
    TraceLog& FTrace;
    ReplyFaults FFaults;
    std::string FBootConnect, FUserConnect, FResponse, FName;

    FlashArray FFlash;
    mutable std::mutex FLock; // the statistics
    mutable std::condition_variable FChanged;
    SimStats FStats;

    // Protocol state: the feeding thread's alone.
    Phase FPhase = Phase::Application;
    State FState = State::Idle;
    std::string FPending; // idle: bytes that may still become a command; else the current parameter bytes
    std::string FGarbage; // bytes that fit nothing, reported together
    size_t FNeed = 0;
    int FAckLength = 0;
    int FRegisterSent = 0;
    int FRateAtRequest = 0;
    int FRegisterReceived = -1; // checked once the host has switched its rate
    bool FOffRate = false;      // the new register left the unit at another rate than the host's
    int FBootAttempts = 0;
    bool FDead = false;
    bool FHungUp = false;
    bool FAfterTransfer = false;
    bool FInProgram = false;
    uint32_t FTransferAddress = 0;
    uint32_t FTransferSize = 0;
    uint32_t FTransferDone = 0;
    int FBlockIndex = 0;
    int FBlockCount = 0;
    std::string FIdentityProbe; // bytes of an identity request sent where a continue byte was due
};

} // namespace unitsim
