#include "flash/h83664.h"

#include <string>

#include "flash/connect_defaults.h"
#include "framework/streams.h"
#include "serial/logging.h"
#include "storage/util.h"

THitachiFlash::THitachiFlash(TComponent* owner, IStatusSink* statusControl, IProgressSink* progressBar,
                             TUserPrompt* prompt)
    : TComponent(owner)
{
    Device = new TFlashFDTDevice(this);
    Device->BlockSize = 128;
    ConnectionInfo.ComConnect = new TBriskoComPort(this);
    ConnectionInfo.ComProgram = new TBriskoComPort(this);
    THitachiFlash::SetDefaults();
    Device->StatusControl = statusControl;
    Device->ProgressBar = progressBar;
    ConnectionInfo.Prompt = prompt;
}

THitachiFlash::~THitachiFlash() = default;

void THitachiFlash::SetDefaults()
{
    ConnectionInfo.ConnectMethod = 1;
    for (TBriskoComPort* port : {ConnectionInfo.ComConnect, ConnectionInfo.ComProgram}) {
        port->SetPort("COM1");
        port->SetBaudRate(br9600);
        port->SetDataBits(dbEight);
        port->SetStopBits(sbOneStopBit);
        port->Parity()->SetBits(prNone);
    }
    ConnectionInfo.BootConnect = DefaultBootConnect;
    ConnectionInfo.UserConnect = DefaultUserConnect;
    ConnectionInfo.ConnectResponse = DefaultConnectResponse;
}

void THitachiFlash::ResetUserConnect()
{
    ConnectionInfo.UserConnect = DefaultUserConnect;
}

void THitachiFlash::SelectConnection(const TConnectChoice& choice)
{
    if (!choice.Port)
        throw EHitachiFlashException("No serial port chosen");
    TBriskoComPort* comConnect = ConnectionInfo.ComConnect;
    TBriskoComPort* comProgram = ConnectionInfo.ComProgram;
    ConnectionInfo.ConnectMethod = choice.ConnectMethod;
    if (choice.ConnectMethod == 0) {
        if (!FStoredConnect)
            KeepStoredConnect();
        comConnect->CopySettings(choice.Port);
    } else if (FStoredConnect) {
        // A user connect before must not leave the boot loader called at the operator port's rate.
        comConnect->CopySettings(FStoredConnect);
    }
    comConnect->SetPort(choice.Port->Port());
    ConnectionInfo.UseDTR = choice.UseDTR;

    TComFlowControl flow; // unowned copy: edited here, applied once below
    flow.Assign(*comConnect->FlowControl());
    flow.SetFlowControl(fcNone);
    flow.SetControlRTS(rtsDisable);
    flow.SetControlDTR(choice.UseDTR != 0 ? dtrEnable : dtrDisable);
    comConnect->SetFlowControl(flow);

    comProgram->SetPort(comConnect->Port());
    comProgram->SetFlowControl(*comConnect->FlowControl());
}

void THitachiFlash::KeepStoredConnect()
{
    if (!FStoredConnect)
        FStoredConnect = new TBriskoComPort(this);
    FStoredConnect->CopySettings(ConnectionInfo.ComConnect);
}

void THitachiFlash::ConnectNoVerify()
{
    TBriskoComPort* port = Device->ComPort;
    port->SetPort(ConnectionInfo.ComConnect->Port());
    port->CopySettings(ConnectionInfo.ComConnect);
    CommsLog("THitachiFlash.ConnectNoVerify: Opening port");
    port->OpenPort();
    Device->ConnectDevice(ConnectionInfo);
}

void THitachiFlash::Connect()
{
    ConnectNoVerify();
    CommsLog("THitachiFlash.Connect: Verifying device against hardware");
    VerifyDevice();
}

void THitachiFlash::VerifyDevice()
{
    std::string name;
    uint16_t seed = 0;
    int32_t start = 0, length = 0;
    GetDeviceIdentity(name, seed, start, length);
    LastIdentity = {true, name, seed, start, length};
    if (seed != FlashCheckSeed || start != FlashStart || length != FlashLength)
        throw EUnitMismatch("Flash uP does not match definition");
}

void THitachiFlash::GetDeviceIdentity(std::string& name, uint16_t& seed, int32_t& start, int32_t& length)
{
    Device->IdentifyDevice(start, length, seed, name);
}

void THitachiFlash::Erase()
{
    // Wraps like the 32-bit sum it stands for, without signed overflow.
    const int32_t end = static_cast<int32_t>(static_cast<uint32_t>(FlashStart) + static_cast<uint32_t>(FlashLength));
    Device->EraseFlash(FlashStart, end);
}

void THitachiFlash::ProgramImage(TStream& stream)
{
    CheckBlockMultiple(stream, Device->BlockSize);
    Device->ProgramFlash(stream, FlashStart);
}

void THitachiFlash::VerifyImage(TStream& stream)
{
    CheckBlockMultiple(stream, Device->BlockSize);
    Device->VerifyFlash(stream, FlashStart);
}

void THitachiFlash::Finish()
{
    Device->Finish();
}

void THitachiFlash::Disconnect()
{
    Device->ComPort->ClosePort();
}

void THitachiFlash::CheckBlockMultiple(TStream& stream, int32_t blockSize)
{
    if (blockSize == 0)
        throw Exception("Programming block size must not be zero");
    if (stream.Size() % blockSize != 0)
        throw Exception("Buffer size is not a multiple of the programming block size");
}

void THitachiFlash::PadToBlock(TStream& stream, int32_t blockSize)
{
    if (blockSize <= 0)
        throw Exception("Programming block size must be greater than zero");
    const int64_t size = stream.Size();
    const int64_t r = size % blockSize;
    if (r != 0)
        PadStreamToSize(stream, size + blockSize - r, 0xFF);
}

void THitachiFlash::PrepareImage(TStream& stream)
{
    // Sizes are compared with FlashLength taken as unsigned.
    const uint64_t size = static_cast<uint64_t>(stream.Size());
    const uint64_t flashLength = static_cast<uint32_t>(FlashLength);
    switch (FlashVerification) {
    case 0:
        if (size > flashLength)
            throw EFDTException("Flash Size doesn't match Image Size");
        PadToBlock(stream, Device->BlockSize);
        break;
    case 1:
        if (size > flashLength)
            throw EFDTException("Flash Size doesn't match Image Size");
        if (FlashBlockSize == 0)
            throw EFDTException("Flash block size must not be zero");
        if (stream.Size() % FlashBlockSize != 0)
            throw EFDTException("Image size not a multiple of the block size");
        if (!Device->FindBlockSum(stream, FlashCheckSeed, FlashBlockSize))
            throw EFDTException("Flash and Image Checksums don't match");
        CheckBlockMultiple(stream, Device->BlockSize);
        break;
    case 2:
        if (size != flashLength)
            throw EFDTException("Flash Size doesn't match Image Size");
        if (!Device->CheckImageSum(stream, FlashCheckSeed))
            throw EFDTException("Flash and Image Checksums don't match");
        CheckBlockMultiple(stream, Device->BlockSize);
        break;
    default: break;
    }
}

void CheckImageForRun(THitachiFlash& flash, TStream& image)
{
    flash.CheckBlockMultiple(image, flash.Device->BlockSize);
    // The erase would run before the transfer fails at the end of the region.
    const uint64_t flashLength = static_cast<uint32_t>(flash.FlashLength);
    if (static_cast<uint64_t>(image.Size()) > flashLength)
        throw Exception("Image of " + std::to_string(image.Size()) + " bytes is larger than the flash region of " +
                        std::to_string(flashLength) + " bytes");
}
