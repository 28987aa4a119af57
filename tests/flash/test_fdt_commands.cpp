// The flash commands against the simulated unit: the bytes of a transfer on the line,
// progress, verdicts and every command failure with its message.
#include <gtest/gtest.h>

#include "flash_rig.h"

using namespace flashtest;
using unitsim::FaultKind;
using unitsim::Reply;

namespace {

const std::string ProgramCode = Bytes({0xB7, 0xD6, 0xF5, 0x3C});
const std::string VerifyCode = Bytes({0x53, 0xE1, 0xA8, 0xD7});
const std::string IdentifyCode = Bytes({0x63, 0xDE, 0x3D, 0x96});

// What the host sends for one transfer, from its code up to the identity request after it.
std::string TransferOnLine(const std::string& host, const std::string& code)
{
    const size_t from = host.find(code);
    if (from == std::string::npos)
        return {};
    const size_t to = host.find(IdentifyCode, from);
    return host.substr(from, to == std::string::npos ? std::string::npos : to - from);
}

// The expected bytes: code, address, size, then the blocks with continue bytes between them,
// then the end marker.
std::string ExpectedTransfer(const std::string& code, int32_t address, const std::vector<uint8_t>& image,
                             size_t blocksSent, uint8_t endMarker)
{
    std::string s = code + BE32(uint32_t(address)) + BE32(uint32_t(image.size()));
    for (size_t b = 0; b < blocksSent; ++b) {
        const size_t at = b * 128;
        s.append(reinterpret_cast<const char*>(image.data() + at), std::min<size_t>(128, image.size() - at));
        if (b + 1 < blocksSent)
            s += '\0';
    }
    s += char(endMarker);
    return s;
}

struct ConnectedRig : Rig {
    ConnectedRig()
    {
        Start();
        Connect(0);
    }
};

} // namespace

TEST(Transfer, WholeRunProgramsTheFlashAndStepsTheBarInBytes)
{
    LogCapture log;
    Rig rig;
    rig.Start();
    rig.Connect(0);
    const std::vector<uint8_t> image = Pattern(5 * 128);
    TMemoryStream stream;
    Fill(stream, image);
    rig.Sinks.Events.clear();
    rig.Sinks.Statuses.clear();

    CheckImageForRun(*rig.Flash, stream);
    rig.Flash->Erase();
    rig.Flash->ProgramImage(stream);
    rig.Flash->VerifyImage(stream);
    rig.Flash->Finish();
    ASSERT_TRUE(rig.Sim->WaitForFinish(std::chrono::seconds(2)));

    const std::vector<uint8_t> flash = rig.Sim->Flash();
    ASSERT_GE(flash.size(), image.size());
    EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
    EXPECT_TRUE(std::all_of(flash.begin() + long(image.size()), flash.end(), [](uint8_t b) { return b == 0xFF; }));
    EXPECT_TRUE(rig.Sim->Violations().empty()) << rig.Sim->Trace();
    const unitsim::SimStats stats = rig.Sim->Stats();
    EXPECT_EQ(stats.erases, 1);
    EXPECT_EQ(stats.programs, 1);
    EXPECT_EQ(stats.verifies, 1);
    EXPECT_EQ(stats.finishes, 1);

    EXPECT_EQ(rig.Sinks.Statuses,
              (std::vector<std::string>{"Erasing FLASH...", "Programming FLASH...", "Verifying FLASH..."}));
    std::vector<std::string> transfer = {"range 0 640", "step 1", "pos 0"};
    for (int i = 0; i < 5; ++i)
        transfer.push_back("by 128");
    std::vector<std::string> expected = {"range 0 1", "step 1", "pos 0", "by 1"};
    expected.insert(expected.end(), transfer.begin(), transfer.end());
    expected.insert(expected.end(), transfer.begin(), transfer.end());
    EXPECT_EQ(rig.Sinks.Events, expected);
    EXPECT_EQ(rig.Sinks.Pos, 640);

    // Erase: code, start, length; the commands write no step lines of their own.
    const std::string host = rig.HostBytes();
    EXPECT_NE(host.find(Bytes({0xD7, 0x68, 0xFE, 0xFA}) + BE32(0x1800) + BE32(256000)), std::string::npos);
    EXPECT_NE(host.find(Bytes({0xC3, 0x37, 0x23, 0xC6})), std::string::npos);
    for (const std::string& l : log.StepLines())
        EXPECT_TRUE(l.rfind("TFlashFDTDevice.IdentifyDevice", 0) == 0 || l.rfind("THitachiFlash", 0) == 0 ||
                    l.rfind("TFlashFDTDevice.ConnectDevice", 0) == 0 ||
                    l.rfind("TFlashFDTDevice.UserConnect", 0) == 0 || l.rfind("TFlashFDTDevice.FDTConnect", 0) == 0)
            << l;
}

TEST(Transfer, BytesOnTheLineForEachImageShape)
{
    struct Case {
        const char* Name;
        size_t Size;
        size_t Blocks;
    } cases[] = {{"empty", 0, 0}, {"one block", 128, 1}, {"three blocks", 384, 3}, {"short last block", 300, 3}};
    ConnectedRig rig;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        rig.Flash->Erase(); // the simulated flash only programs erased cells
        const std::vector<uint8_t> image = Pattern(c.Size, uint8_t(c.Size));
        TMemoryStream stream;
        Fill(stream, image);
        const size_t before = rig.HostBytes().size();
        // The device itself does not insist on whole blocks; the controller does.
        rig.Flash->Device->ProgramFlash(stream, rig.FlashStart);
        const std::string sent = TransferOnLine(rig.HostBytes().substr(before), ProgramCode);
        EXPECT_EQ(sent, ExpectedTransfer(ProgramCode, rig.FlashStart, image, c.Blocks, 0x00));
    }
    EXPECT_TRUE(rig.Sim->Violations().empty()) << rig.Sim->Trace();
}

TEST(Transfer, AbortSendsFFInPlaceOfTheContinueByte)
{
    ConnectedRig rig;
    rig.Flash->Erase();
    const std::vector<uint8_t> image = Pattern(5 * 128);
    TMemoryStream stream;
    Fill(stream, image);
    int steps = 0;
    rig.Sinks.OnStepBy = [&] {
        if (++steps == 2)
            rig.Flash->Device->AbortRequested = true;
    };
    const size_t before = rig.HostBytes().size();
    try {
        rig.Flash->ProgramImage(stream);
        FAIL();
    } catch (const EFDTException& e) {
        EXPECT_EQ(e.message(), "Programming Aborted by User.");
    }
    EXPECT_EQ(TransferOnLine(rig.HostBytes().substr(before), ProgramCode),
              ExpectedTransfer(ProgramCode, rig.FlashStart, image, 2, 0xFF));
    EXPECT_FALSE(rig.Flash->Device->Busy);
    EXPECT_TRUE(rig.Sim->Violations().empty()) << rig.Sim->Trace();
    // The next command starts with the abort cleared.
    rig.Sinks.OnStepBy = nullptr;
    try {
        rig.Flash->VerifyImage(stream);
        FAIL();
    } catch (const EFDTException& e) {
        EXPECT_EQ(e.message(), "Verify Failed at address 0x00000100 (256).");
    }
}

TEST(Transfer, VerifyUsesItsOwnCode)
{
    ConnectedRig rig;
    rig.Flash->Erase();
    const std::vector<uint8_t> image = Pattern(256);
    TMemoryStream stream;
    Fill(stream, image);
    rig.Flash->ProgramImage(stream);
    const size_t before = rig.HostBytes().size();
    rig.Flash->VerifyImage(stream);
    EXPECT_EQ(TransferOnLine(rig.HostBytes().substr(before), VerifyCode),
              ExpectedTransfer(VerifyCode, rig.FlashStart, image, 2, 0x00));
}

TEST(Controller, ImageNotAWholeNumberOfBlocksIsRefusedBeforeAnythingIsSent)
{
    ConnectedRig rig;
    TMemoryStream stream;
    Fill(stream, Pattern(245761));
    const size_t before = rig.HostBytes().size();
    for (auto step : {&THitachiFlash::ProgramImage, &THitachiFlash::VerifyImage}) {
        try {
            (rig.Flash.get()->*step)(stream);
            FAIL();
        } catch (const EFDTException&) {
            FAIL() << "wrong class";
        } catch (const Exception& e) {
            EXPECT_EQ(e.message(), "Buffer size is not a multiple of the programming block size");
        }
    }
    EXPECT_THROW(CheckImageForRun(*rig.Flash, stream), Exception);
    EXPECT_EQ(rig.HostBytes().size(), before);
    EXPECT_EQ(rig.Sim->Stats().erases, 0);
}

struct CommandFailure {
    const char* Name;
    std::function<void(unitsim::SimConfig&)> Setup;
    enum Step { Erase, Program, Verify } At;
    const char* Message;
};

void PrintTo(const CommandFailure& c, std::ostream* os)
{
    *os << c.Name;
}

class CommandFailures : public ::testing::TestWithParam<CommandFailure> { };

TEST_P(CommandFailures, RaiseTheirMessage)
{
    const CommandFailure& c = GetParam();
    Rig rig;
    c.Setup(rig.Config);
    rig.Start();
    rig.Connect(0);
    TMemoryStream stream;
    Fill(stream, Pattern(40 * 128));
    try {
        rig.Flash->Erase();
        if (c.At >= CommandFailure::Program)
            rig.Flash->ProgramImage(stream);
        if (c.At >= CommandFailure::Verify)
            rig.Flash->VerifyImage(stream);
        FAIL() << "no exception";
    } catch (const EFDTException& e) {
        EXPECT_EQ(e.message(), c.Message);
    }
    EXPECT_FALSE(rig.Flash->Device->Busy);
    rig.Flash->Disconnect();
    EXPECT_FALSE(rig.Flash->Device->ComPort->Connected());
}

// No verdict within the erase wait is a timing row (EraseFlash_VerdictWait), which also bounds the wait.
INSTANTIATE_TEST_SUITE_P(
    Table, CommandFailures,
    ::testing::Values(CommandFailure{"EraseDeviceFailure", [](auto& c) { c.eraseVerdict = '%'; }, CommandFailure::Erase,
                                     "Erase Failed: Device Failure"},
                      CommandFailure{"EraseOtherVerdict",
                                     [](auto& c) {
                                         c.fault(Reply::Erase) = {FaultKind::Wrong, 0};
                                     },
                                     CommandFailure::Erase, "Erase Failed: Unexpected Reply"},
                      CommandFailure{"EraseIdentityAfterwards",
                                     [](auto& c) {
                                         c.fault(Reply::Identity) = {FaultKind::Missing, 3};
                                     },
                                     CommandFailure::Erase, "Can't Get ID"},
                      CommandFailure{"ProgramHashAtBlock32", [](auto& c) { c.program.failBlock = 32; },
                                     CommandFailure::Program, "Write Failed at address 0x00000F80 (3968)."},
                      CommandFailure{"ProgramHashAtTheEnd", [](auto& c) { c.program.failBlock = 41; },
                                     CommandFailure::Program, "Write Failed at address 0x00001380 (4992)."},
                      CommandFailure{"ProgramBlockReplyWrong",
                                     [](auto& c) {
                                         c.fault(Reply::ProgramBlock) = {FaultKind::Wrong, 3};
                                     },
                                     CommandFailure::Program, "Write Failed: Unexpected Response."},
                      CommandFailure{"ProgramFinalReplyWrong",
                                     [](auto& c) {
                                         c.fault(Reply::ProgramFinal) = {FaultKind::Wrong, 0};
                                     },
                                     CommandFailure::Program, "Write Failed: Unexpected Response."},
                      CommandFailure{"ProgramLineGone", [](auto& c) { c.program.hangupAtBlock = 5; },
                                     CommandFailure::Program, "Write Failed: No reply"},
                      CommandFailure{"VerifyHashAtBlock2", [](auto& c) { c.verify.failBlock = 2; },
                                     CommandFailure::Verify, "Verify Failed at address 0x00000080 (128)."},
                      CommandFailure{"VerifyBlockReplyWrong",
                                     [](auto& c) {
                                         c.fault(Reply::VerifyBlock) = {FaultKind::Wrong, 1};
                                     },
                                     CommandFailure::Verify, "Verify Failed: Unexpected Response."},
                      CommandFailure{"VerifyLineGone", [](auto& c) { c.verify.hangupAtBlock = 7; },
                                     CommandFailure::Verify, "Verify Failed: No Reply."},
                      CommandFailure{"HashThenNoIdentity",
                                     [](auto& c) {
                                         c.program.failBlock = 1;
                                         c.fault(Reply::Identity) = {FaultKind::Missing, 4};
                                     },
                                     CommandFailure::Program, "Can't Get ID"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(Checksums, ImageSumAndBlockSum)
{
    struct Case {
        const char* Name;
        std::vector<uint8_t> Bytes;
        uint16_t Seed;
        int32_t BlockSize; // 0: CheckImageSum
        bool Expected;
    } cases[] = {
        {"image sum true", {0x01, 0x02, 0x00, 0x03}, 0, 0, true},
        {"image sum seed 1", {0x01, 0x02, 0x00, 0x03}, 1, 0, false},
        {"image sum of two bytes", {0x12, 0x34}, 0x1234, 0, true},
        {"image sum wraps", {0xFF, 0xFF, 0x00, 0xFE}, 0xFFFF, 0, false},
        {"image sum wraps right", {0xFF, 0xFF, 0x01, 0xFD}, 0xFFFF, 0, true},
        {"block sum first boundary", {0x01, 0x02, 0x00, 0x03, 0x05, 0x06, 0x00, 0x0E}, 0, 4, true},
        {"block sum second boundary", {0x01, 0x02, 0x00, 0x04, 0x05, 0x06, 0x00, 0x12}, 0, 4, true},
        {"block sum none", {0x01, 0x02, 0x00, 0x04, 0x05, 0x06, 0x00, 0x13}, 0, 4, false},
        {"block sum two bytes", {0x00, 0x00}, 0, 2, false},
        {"block sum seed", {0x01, 0x02, 0x00, 0x84}, 0x81, 4, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TMemoryStream s;
        Fill(s, c.Bytes);
        const bool got = c.BlockSize == 0 ? TFlashFDTDevice::CheckImageSum(s, c.Seed)
                                          : TFlashFDTDevice::FindBlockSum(s, c.Seed, c.BlockSize);
        EXPECT_EQ(got, c.Expected);
    }
    TMemoryStream one;
    Fill(one, {0x07});
    EXPECT_THROW(TFlashFDTDevice::CheckImageSum(one, 0), EReadError);
    EXPECT_THROW(TFlashFDTDevice::FindBlockSum(one, 0, 0), EFDTException);
}
