// The flash controller without a unit: defaults, connection selection, image preparation
// and the copy of a programming-info record into it.
#include <gtest/gtest.h>

#include "flash/apply_record.h"
#include "flash_rig.h"
#include "storage/block_writer.h"
#include "storage/dev_params.h"

using namespace flashtest;

TEST(Controller, DefaultsAndBorrowedReferences)
{
    RecordingSinks sinks;
    StubPrompt prompt;
    THitachiFlash flash(nullptr, &sinks, &sinks, &prompt);
    EXPECT_EQ(flash.ConnectionInfo.ConnectMethod, 1);
    EXPECT_EQ(flash.ConnectionInfo.UseDTR, 0);
    EXPECT_EQ(flash.ConnectionInfo.BootConnect, "SyNcBoOt");
    EXPECT_EQ(flash.ConnectionInfo.UserConnect, "%02XM5281%03");
    EXPECT_EQ(flash.ConnectionInfo.ConnectResponse, "SyNcBoOt");
    EXPECT_EQ(flash.ConnectionInfo.Prompt, &prompt);
    EXPECT_EQ(flash.Device->StatusControl, &sinks);
    EXPECT_EQ(flash.Device->ProgressBar, &sinks);
    EXPECT_EQ(flash.Device->BlockSize, 128);
    EXPECT_EQ(flash.FlashVerification, 2);
    EXPECT_EQ(flash.FlashEncryption, 1);
    for (TBriskoComPort* p : {flash.ComConnect(), flash.ComProgram()}) {
        EXPECT_EQ(p->Port(), "COM1");
        EXPECT_EQ(p->BaudRate(), br9600);
        EXPECT_EQ(p->DataBits(), dbEight);
        EXPECT_EQ(p->StopBits(), sbOneStopBit);
        EXPECT_EQ(p->Parity()->Bits(), prNone);
    }
    flash.ConnectionInfo.UserConnect = "x";
    flash.ResetUserConnect();
    EXPECT_EQ(flash.ConnectionInfo.UserConnect, "%02XM5281%03");
}

TEST(Controller, SelectConnectionByMethodAndDTR)
{
    struct Case {
        uint8_t Method, UseDTR;
        TBaudRate ConnectRate;
        TDTRFlowControl Dtr;
    } cases[] = {
        {0, 1, br115200, dtrEnable}, // user connect takes all of the operator port's settings
        {1, 1, br19200, dtrEnable},  // boot connect keeps the stored rate
        {1, 0, br19200, dtrDisable},
    };
    for (const Case& c : cases) {
        THitachiFlash flash(nullptr, nullptr, nullptr, nullptr);
        flash.ComConnect()->SetBaudRate(br19200);
        flash.ComProgram()->SetBaudRate(br57600);
        TBriskoComPort operatorPort;
        operatorPort.SetPort("/dev/ttyUSB7");
        operatorPort.SetBaudRate(br115200);
        flash.SelectConnection(TConnectChoice{c.Method, c.UseDTR, &operatorPort});
        EXPECT_EQ(flash.ConnectionInfo.ConnectMethod, c.Method);
        EXPECT_EQ(flash.ConnectionInfo.UseDTR, c.UseDTR);
        EXPECT_EQ(flash.ComConnect()->BaudRate(), c.ConnectRate);
        EXPECT_EQ(flash.ComProgram()->BaudRate(), br57600);
        for (TBriskoComPort* p : {flash.ComConnect(), flash.ComProgram()}) {
            EXPECT_EQ(p->Port(), "/dev/ttyUSB7");
            EXPECT_EQ(p->FlowControl()->FlowControl(), fcNone);
            EXPECT_EQ(p->FlowControl()->ControlRTS(), rtsDisable);
            EXPECT_EQ(p->FlowControl()->ControlDTR(), c.Dtr);
        }
    }
}

TEST(Controller, PrepareImageByMode)
{
    // 8 bytes whose checksum (seed 0x81) sits at the end of the first 4-byte block.
    const std::vector<uint8_t> blockSummed = {0x01, 0x02, 0x00, 0x84, 0x05, 0x06, 0x07, 0x08};
    std::vector<uint8_t> wholeSummed(256, 0x11);
    uint16_t sum = 0x81;
    for (size_t i = 0; i + 2 < wholeSummed.size(); ++i)
        sum = uint16_t(sum + wholeSummed[i]);
    wholeSummed[254] = uint8_t(sum >> 8);
    wholeSummed[255] = uint8_t(sum);
    std::vector<uint8_t> badSum = wholeSummed;
    badSum[0] ^= 1;
    std::vector<uint8_t> blockSummed128(128, 0);
    blockSummed128[0] = 0x01;
    blockSummed128[2] = 0x00;
    blockSummed128[3] = 0x82;

    struct Case {
        const char* Name;
        uint8_t Mode;
        int32_t FlashLength, FlashBlockSize;
        std::vector<uint8_t> Image;
        const char* Error; // nullptr: passes
        size_t SizeAfter;
    } cases[] = {
        {"mode 0 pads with FF", 0, 1000, 0, std::vector<uint8_t>(130, 0x55), nullptr, 256},
        {"mode 0 whole blocks untouched", 0, 1000, 0, std::vector<uint8_t>(256, 0x55), nullptr, 256},
        {"mode 0 too large", 0, 100, 0, std::vector<uint8_t>(130, 0x55), "Flash Size doesn't match Image Size", 130},
        {"mode 0 negative length is huge", 0, -1, 0, std::vector<uint8_t>(128, 0x55), nullptr, 128},
        {"mode 1 block sum", 1, 1000, 4, blockSummed, "Buffer size is not a multiple of the programming block size", 8},
        {"mode 1 whole blocks", 1, 1000, 4, blockSummed128, nullptr, 128},
        {"mode 1 not a multiple", 1, 1000, 3, blockSummed, "Image size not a multiple of the block size", 8},
        {"mode 1 no sum", 1, 1000, 8, blockSummed, "Flash and Image Checksums don't match", 8},
        {"mode 1 block size 0", 1, 1000, 0, blockSummed, "Flash block size must not be zero", 8},
        {"mode 1 too large", 1, 4, 4, blockSummed, "Flash Size doesn't match Image Size", 8},
        {"mode 2 good", 2, 256, 0, wholeSummed, nullptr, 256},
        {"mode 2 one byte short", 2, 257, 0, wholeSummed, "Flash Size doesn't match Image Size", 256},
        {"mode 2 bad sum", 2, 256, 0, badSum, "Flash and Image Checksums don't match", 256},
        {"mode 3 does nothing", 3, 0, 0, std::vector<uint8_t>(5, 0), nullptr, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        THitachiFlash flash(nullptr, nullptr, nullptr, nullptr);
        flash.FlashVerification = c.Mode;
        flash.FlashLength = c.FlashLength;
        flash.FlashBlockSize = c.FlashBlockSize;
        flash.FlashCheckSeed = 0x81;
        TMemoryStream s;
        Fill(s, c.Image);
        if (c.Error) {
            try {
                flash.PrepareImage(s);
                ADD_FAILURE() << "no exception";
            } catch (const Exception& e) {
                EXPECT_EQ(e.message(), c.Error);
            }
        } else {
            EXPECT_NO_THROW(flash.PrepareImage(s));
        }
        ASSERT_EQ(size_t(s.Size()), c.SizeAfter);
        for (size_t i = c.Image.size(); i < c.SizeAfter; ++i)
            EXPECT_EQ(s.Memory()[i], 0xFF);
    }
}

TEST(Controller, BlockMultipleAndPadding)
{
    THitachiFlash flash(nullptr, nullptr, nullptr, nullptr);
    TMemoryStream s;
    Fill(s, std::vector<uint8_t>(245760));
    EXPECT_NO_THROW(flash.CheckBlockMultiple(s, 128));
    Fill(s, std::vector<uint8_t>(245761));
    EXPECT_THROW(flash.CheckBlockMultiple(s, 128), Exception);
    EXPECT_THROW(flash.CheckBlockMultiple(s, 0), Exception);
    EXPECT_THROW(flash.PadToBlock(s, 0), Exception);
    Fill(s, std::vector<uint8_t>(300, 1));
    flash.PadToBlock(s, 128);
    EXPECT_EQ(s.Size(), 384);
    Fill(s, std::vector<uint8_t>(0));
    EXPECT_NO_THROW(flash.CheckBlockMultiple(s, 128));
}

namespace {

std::vector<uint8_t> TypicalRecord()
{
    std::vector<uint8_t> p = NewPayload();
    PutI32(p, layout::StructureVersion, 4);
    PutSerialSettings(p, layout::ConnectSerial, 7, 3, 0, 0);
    PutSerialSettings(p, layout::ProgramSerial, 13, 3, 2, 2);
    PutText(p, layout::BootConnect, 40, "Boot%0D");
    PutText(p, layout::UserConnect, 40, "");
    PutText(p, layout::ConnectResponse, 40, std::string(40, 'R'));
    PutI32(p, layout::FlashStart, 0x1800);
    PutI32(p, layout::FlashLength, 256000);
    PutI32(p, layout::ImageLength, 245760);
    PutI32(p, layout::FlashBlockSize, 2048);
    PutU16(p, layout::FlashCheckSeed, 0x81);
    PutU8(p, layout::FlashVerification, 1);
    PutU8(p, layout::FlashEncryption, 0xFF);
    return p;
}

} // namespace

TEST(ApplyRecord, ConfigureFlashCopiesEverySetting)
{
    const std::vector<uint8_t> record = TypicalRecord();
    TExeProgrammingInfo info(record.data());
    THitachiFlash flash(nullptr, nullptr, nullptr, nullptr);
    flash.ComConnect()->SetPort("/dev/ttyS3");
    ConfigureFlash(info, flash);
    EXPECT_EQ(flash.FlashCheckSeed, 0x81);
    EXPECT_EQ(flash.FlashStart, 0x1800);
    EXPECT_EQ(flash.FlashLength, 256000);
    EXPECT_EQ(flash.FlashBlockSize, 2048);
    EXPECT_EQ(flash.FlashVerification, 1);
    EXPECT_EQ(flash.FlashEncryption, 0xFF);
    EXPECT_EQ(flash.ComConnect()->BaudRate(), br9600);
    EXPECT_EQ(flash.ComConnect()->DataBits(), dbEight);
    EXPECT_EQ(flash.ComConnect()->StopBits(), sbOneStopBit);
    EXPECT_EQ(flash.ComConnect()->Parity()->Bits(), prNone);
    EXPECT_EQ(flash.ComProgram()->BaudRate(), br115200);
    EXPECT_EQ(flash.ComProgram()->StopBits(), sbTwoStopBits);
    EXPECT_EQ(flash.ComProgram()->Parity()->Bits(), prEven);
    // Escapes stay; an empty stored string replaces the default; a full-width text has no NUL.
    EXPECT_EQ(flash.ConnectionInfo.BootConnect, "Boot%0D");
    EXPECT_EQ(flash.ConnectionInfo.UserConnect, "");
    EXPECT_EQ(flash.ConnectionInfo.ConnectResponse, std::string(40, 'R'));
    // Method, DTR and port names are not the record's business.
    EXPECT_EQ(flash.ConnectionInfo.ConnectMethod, 1);
    EXPECT_EQ(flash.ConnectionInfo.UseDTR, 0);
    EXPECT_EQ(flash.ComConnect()->Port(), "/dev/ttyS3");
    // The user method takes the operator port's settings; the boot method gets the record's back.
    TBriskoComPort operatorPort;
    operatorPort.SetBaudRate(br115200);
    flash.SelectConnection(TConnectChoice{0, 1, &operatorPort});
    EXPECT_EQ(flash.ComConnect()->BaudRate(), br115200);
    flash.SelectConnection(TConnectChoice{1, 1, &operatorPort});
    EXPECT_EQ(flash.ComConnect()->BaudRate(), br9600);
    EXPECT_EQ(flash.ComConnect()->Port(), "COM1");
}

TEST(ApplyRecord, SettingOutsideItsEnumerationIsRefusedByName)
{
    struct Case {
        uint32_t Baud, Data, Stop, Parity;
        const char* Message;
    } cases[] = {
        {16, 3, 0, 0, "Serial setting BaudRate holds the unknown value 16"},
        {7, 4, 0, 0, "Serial setting DataBits holds the unknown value 4"},
        {7, 3, 3, 0, "Serial setting StopBits holds the unknown value 3"},
        {7, 3, 0, 5, "Serial setting Parity holds the unknown value 5"},
        {0x107, 3, 0, 0, nullptr}, // only the low byte counts: 7
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> record = TypicalRecord();
        PutSerialSettings(record, layout::ProgramSerial, c.Baud, c.Data, c.Stop, c.Parity);
        TExeProgrammingInfo info(record.data());
        TBriskoComPort port;
        if (c.Message) {
            try {
                ApplyComProgram(info, port);
                ADD_FAILURE() << c.Message;
            } catch (const Exception& e) {
                EXPECT_EQ(e.message(), c.Message);
            }
        } else {
            ApplyComProgram(info, port);
            EXPECT_EQ(port.BaudRate(), br9600);
        }
    }
}
