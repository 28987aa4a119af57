#pragma once
// A simulated unit (its running application and its boot loader) on the master side of a
// pseudo-terminal. The host under test opens SlavePath() like any serial port. The simulator
// answers the connect strings, the bit-rate negotiation, the acknowledge echo, identity,
// erase, program, verify and finish exactly as the boot protocol lays them out, keeps a flash
// array, can inject faults, and reports every host behaviour that breaks the protocol.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace unitsim {

// Replies that can be spoiled on purpose.
enum class Reply { Connect, Register, Ack, Identity, Erase, ProgramBlock, ProgramFinal, VerifyBlock, VerifyFinal };
constexpr int ReplyCount = 9;

enum class FaultKind {
    None,
    Wrong,   // a full reply with the wrong content
    Short,   // the reply without its last byte (nothing for one-byte replies)
    Missing, // no reply at all (lost on the line: the unit carries on as if it had sent it)
    HangUp,  // the line goes dead instead of the reply (an unplugged adapter)
};

struct ReplyFault {
    FaultKind kind = FaultKind::None;
    // 0: every occurrence; n: only the n-th (for block replies: block n of each transfer).
    int at = 0;
};

// Faults of one transfer direction; block numbers count from 1 within each transfer.
struct TransferFaults {
    int failBlock = 0;       // reply '#' to block k; above the block count: '#' as the final reply
    int silentFromBlock = 0; // from block k on the unit never answers anything again
    int hangupAtBlock = 0;   // close the master on receiving block k (an unplugged line)
};

struct SimConfig {
    // Identity reported to the identity request; the flash array covers start..start+length.
    uint16_t seed = 0x0081;
    int32_t flashStart = 0x1800;
    int32_t flashLength = 256000;
    std::string name = "MORAVENT SIM UNIT"; // up to 20 bytes, NUL-padded; %xx escapes allowed

    // Connect strings as stored in a job (escaped), decoded with UnescapeText.
    std::string bootConnect = "SyNcBoOt";
    std::string userConnect = "%02XM5281%03";
    std::string connectResponse = "SyNcBoOt";

    // The unit sits in its boot loader from the start (a host that skips the connect strings).
    bool startInBootLoader = false;
    // The running application answers the user connect and restarts into the boot loader.
    bool applicationRunning = true;
    // Boot connect attempts (counted since the application last ran) answered from this one
    // on; 1 answers at once, 0 never answers (the unit is never reset).
    int bootAnswerFrom = 1;
    // Attempt answered once with a full but wrong reply (0: none).
    int bootWrongReplyAt = 0;

    uint8_t baudRegister = 0x40;       // reported to the register request
    uint8_t eraseVerdict = '$';        // '$' erased, '%' failure, anything else
    uint8_t initialFill = 0x00;        // flash contents before the first erase
    std::vector<uint8_t> initialFlash; // overrides initialFill when not empty

    ReplyFault faults[ReplyCount];
    TransferFaults program, verify;
    int blockDelayMs = 0; // flash write time per programmed block
    int eraseDelayMs = 0;
    // Time the unit takes before each reply of a kind (a slow boot loader), on top of the
    // flash times above.
    int replyDelayMs[ReplyCount] = {};

    bool pace = false; // deliver sent and received bytes at the host's line rate
    // A USB adapter's latency timer between unit and host: every reply waits up to this
    // long in the adapter, less when a full packet's payload (62 bytes) gathers first.
    int latencyMs = 0;
    bool keepTrace = true;       // keep the byte trace in memory (Trace())
    bool reportToStderr = false; // also print conformance violations on standard error

    ReplyFault& fault(Reply r) { return faults[static_cast<int>(r)]; }
    const ReplyFault& fault(Reply r) const { return faults[static_cast<int>(r)]; }
    int& replyDelay(Reply r) { return replyDelayMs[static_cast<int>(r)]; }
    int replyDelay(Reply r) const { return replyDelayMs[static_cast<int>(r)]; }
};

// Counts of what the unit has seen, for tests that want more than the trace.
struct SimStats {
    int userConnects = 0; // user connect strings answered
    int bootAttempts = 0; // boot connect strings received
    int bootConnects = 0; // boot connect strings answered correctly
    int registerRequests = 0;
    int acknowledges = 0;
    int identities = 0;
    int erases = 0;
    int programs = 0; // transfers completed with '"'
    int verifies = 0;
    int finishes = 0;
    int lastRegister = -1; // last new register value received
    int lastStopBits = 1;  // stop bits the host last applied (visible on a pty)
    int lastBitRate = 0;   // bit rate the host last applied
    bool hungUp = false;
    // The unit is inside a transfer: waiting for a block, a continue byte or the end marker.
    bool inTransfer = false;
    // Transfers the host left without an end marker, given up once the line stayed quiet.
    int unfinishedTransfers = 0;
};

class UnitSimulator {
public:
    // Opens the pseudo-terminal pair in raw mode at 9600 bit/s. Raises std::runtime_error
    // when the pair cannot be made or the configuration is unusable.
    explicit UnitSimulator(const SimConfig& config);
    ~UnitSimulator(); // stops and closes everything
    UnitSimulator(const UnitSimulator&) = delete;
    UnitSimulator& operator=(const UnitSimulator&) = delete;

    std::string SlavePath() const;
    // Also makes path a symbolic link to the slave, as a virtual port under /dev is made. The
    // link is the device node: it goes when the line hangs up, as an unplugged adapter's does.
    // Raises std::runtime_error when it cannot be made.
    void Link(const std::string& path);
    void Start(); // serves on its own thread
    void Stop();  // idempotent

    std::vector<uint8_t> Flash() const;
    std::string Trace() const;
    // Adds a "note:" line to the trace, stamped on the trace's clock: a test marks its own
    // events (a port opened, a failure seen) among the bytes.
    void Note(const std::string& text);
    std::vector<std::string> Violations() const;
    SimStats Stats() const;

    // Waits until the unit has received the finish command (or timeout); true if it did.
    bool WaitForFinish(std::chrono::milliseconds timeout) const;
    // Waits until the simulator's thread has stopped serving (hang-up or Stop).
    bool WaitForStop(std::chrono::milliseconds timeout) const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// The host's bit-rate scaling: trunc(float(reg * old / new)) & 0xFF, quotient and product in
// extended precision, rounded to binary32 before truncation.
uint8_t ScaleBaudRegister(uint8_t reg, int32_t oldRate, int32_t newRate);

// Parses "seed,start,length,name" (numbers decimal or 0x-hex); raises std::invalid_argument.
void ParseIdentity(const std::string& text, SimConfig& config);

} // namespace unitsim
