// The unit's flash commands: erase, and the block transfers of program and verify.
#include <algorithm>

#include "unitsim/unit.h"
#include "unitsim/wire.h"

namespace unitsim {

namespace {

using Bytes = std::string;

using namespace wire;

constexpr uint8_t EraseWrongByte = 0x3F;

} // namespace

void Unit::Erase(uint32_t start, uint32_t length)
{
    const int n = FFaults.Count(Reply::Erase);
    const int64_t from = int64_t(int32_t(start)) - FConfig.flashStart;
    const int64_t to = from + int64_t(length);
    uint8_t verdict = FConfig.eraseVerdict;
    if (!FFlash.Holds(from, to - from) || int32_t(length) < 0) {
        FTrace.Note("erase range outside the flash: reporting a failure");
        verdict = EraseFailed;
    } else if (verdict == Erased) {
        if (!FLine.wait(FConfig.eraseDelayMs))
            return;
        FFlash.Erase(from, to - from);
    }
    WithStats([](SimStats& s) { ++s.erases; });
    Answer(Reply::Erase,
           FFaults.Spoil(Reply::Erase, n, Bytes(1, char(verdict)), [](Bytes& r) { r[0] = char(EraseWrongByte); }));
}

void Unit::StartTransfer(uint32_t address, uint32_t size)
{
    FTransferAddress = address;
    FTransferSize = size;
    FTransferDone = 0;
    FBlockIndex = 0;
    FBlockCount = int((uint64_t(size) + TransferBlock - 1) / TransferBlock);
    FTrace.Note(std::string(FInProgram ? "program" : "verify") + " " + std::to_string(size) + " bytes at " +
                std::to_string(int32_t(address)) + " in " + std::to_string(FBlockCount) + " blocks");
    if (size == 0)
        Expect(State::EndMarker, 1);
    else
        Expect(State::Block, std::min<uint32_t>(size, TransferBlock));
}

int64_t Unit::BlockOffset() const
{
    return int64_t(int32_t(FTransferAddress)) - FConfig.flashStart + FTransferDone;
}

void Unit::BlockReceived(const Bytes& data)
{
    ++FBlockIndex;
    const TransferFaults& tf = Faults();
    if (tf.hangupAtBlock == FBlockIndex) {
        HangUp();
        return;
    }
    if (tf.silentFromBlock != 0 && FBlockIndex >= tf.silentFromBlock) {
        FTrace.Note("unit falls silent");
        FDead = true;
        return;
    }
    const int64_t offset = BlockOffset();
    bool good = false;
    if (!FFlash.Holds(offset, int64_t(data.size())))
        FTrace.Note("block " + std::to_string(FBlockIndex) + " lies outside the flash");
    else if (FInProgram && !FLine.wait(FConfig.blockDelayMs))
        return;
    else
        good = FInProgram ? FFlash.Program(offset, data) : FFlash.Matches(offset, data);
    uint8_t verdict = good ? BlockAccepted : TransferFailed;
    if (verdict == TransferFailed && FInProgram)
        FTrace.Note("block " + std::to_string(FBlockIndex) + " did not program (flash not erased?)");
    if (tf.failBlock == FBlockIndex) {
        FTrace.Note("block " + std::to_string(FBlockIndex) + " fails on purpose");
        verdict = TransferFailed;
    }
    const Reply kind = FInProgram ? Reply::ProgramBlock : Reply::VerifyBlock;
    Bytes reply(1, char(verdict));
    if (verdict == BlockAccepted)
        reply = FFaults.Spoil(kind, FBlockIndex, reply, [](Bytes& r) { r[0] = char(TransferComplete); });
    Answer(kind, reply);
    FTransferDone += uint32_t(data.size());
    // A block the unit refused, or a reply it got wrong, ends the transfer on its side; an
    // accepted block whose reply was lost on the line leaves it waiting for the host.
    if (verdict != BlockAccepted || (!reply.empty() && uint8_t(reply[0]) != BlockAccepted)) {
        Expect(State::Idle, 0);
        return;
    }
    if (FTransferDone < FTransferSize)
        Expect(State::Continue, 1);
    else
        Expect(State::EndMarker, 1);
}

void Unit::FinalReply(bool aborted)
{
    const Reply r = FInProgram ? Reply::ProgramFinal : Reply::VerifyFinal;
    const int n = FFaults.Count(r);
    uint8_t verdict = TransferComplete;
    if (!aborted && Faults().failBlock > FBlockCount) {
        FTrace.Note("transfer fails at its end on purpose");
        verdict = TransferFailed;
    }
    Bytes reply(1, char(verdict));
    if (verdict == TransferComplete)
        reply = FFaults.Spoil(r, n, reply, [](Bytes& x) { x[0] = char(BlockAccepted); });
    if (reply.size() == 1 && uint8_t(reply[0]) == TransferComplete && !aborted)
        WithStats([this](SimStats& s) { ++(FInProgram ? s.programs : s.verifies); });
    Answer(r, reply);
    Expect(State::Idle, 0);
    FAfterTransfer = true;
}

void Unit::FeedContinue(uint8_t b)
{
    if (!FIdentityProbe.empty() || b == uint8_t(CodeIdentify[0])) {
        FIdentityProbe += char(b);
        if (CodeIdentify.compare(0, FIdentityProbe.size(), FIdentityProbe) == 0) {
            if (FIdentityProbe.size() == CodeIdentify.size()) {
                FTrace.Violation("identity request in the middle of a transfer");
                FIdentityProbe.clear();
            }
            return;
        }
        FTrace.Violation("byte(s) " + HexBytes(FIdentityProbe) + " where a continue byte was due");
        FIdentityProbe.clear();
        return;
    }
    if (b == 0x00) {
        Expect(State::Block, std::min<uint32_t>(FTransferSize - FTransferDone, TransferBlock));
    } else if (b == 0xFF) {
        FTrace.Note("host aborts the transfer after block " + std::to_string(FBlockIndex));
        FinalReply(true);
    } else {
        FTrace.Violation("byte " + Hex8(b) + " where a continue byte was due");
    }
}

void Unit::FeedEndMarker(uint8_t b)
{
    if (b == 0x00 || b == 0xFF) {
        if (b == 0xFF)
            FTrace.Note("host ends the transfer with the abort marker");
        FinalReply(b == 0xFF);
        return;
    }
    FTrace.Violation("missing end marker: byte " + Hex8(b) + " after the last block");
    Expect(State::Idle, 0);
    FeedIdle(b);
}

} // namespace unitsim
