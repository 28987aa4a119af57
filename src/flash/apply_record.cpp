// Copying the programming-info record into serial ports and the flash controller.
#include <string>

#include "CPort.h"
#include "dev_params.h"
#include "h83664.h"
#include "record_layout.h"

namespace {

// An ordinal outside its enumeration would put an undefined value into the port; the
// record is refused instead, naming the setting.
void CheckOrdinal(const char* setting, uint8_t ordinal, uint8_t count)
{
    if (ordinal >= count)
        throw Exception(std::string("Serial setting ") + setting + " holds the unknown value " +
                        std::to_string(ordinal));
}

} // namespace

void TExeProgrammingInfo::ApplySerialSettings(const uint8_t* settings, TComPort& port) const
{
    const TSerialSettingsIndices s = ReadSerialSettings(settings);
    CheckOrdinal("BaudRate", s.BaudRate, br256000 + 1);
    CheckOrdinal("DataBits", s.DataBits, dbEight + 1);
    CheckOrdinal("StopBits", s.StopBits, sbTwoStopBits + 1);
    CheckOrdinal("Parity", s.Parity, prSpace + 1);
    port.SetBaudRate(static_cast<TBaudRate>(s.BaudRate));
    port.SetDataBits(static_cast<TDataBits>(s.DataBits));
    port.SetStopBits(static_cast<TStopBits>(s.StopBits));
    port.Parity()->SetBits(static_cast<TParityBits>(s.Parity));
}

void TExeProgrammingInfo::ApplyComConnect(TComPort& port) const
{
    ApplySerialSettings(GetConnectSettings(), port);
}

void TExeProgrammingInfo::ApplyComProgram(TComPort& port) const
{
    ApplySerialSettings(GetProgramSettings(), port);
}

void TExeProgrammingInfo::ConfigureFlash(THitachiFlash& flash) const
{
    flash.FlashCheckSeed = GetFlashCheckSeed();
    flash.FlashStart = GetFlashStart();
    flash.FlashLength = GetFlashLength();
    flash.FlashBlockSize = GetFlashBlockSize();
    flash.FlashVerification = GetFlashVerification();
    flash.FlashEncryption = GetFlashEncryption();
    ApplyComConnect(*flash.ComConnect());
    ApplyComProgram(*flash.ComProgram());
    flash.ConnectionInfo.BootConnect = GetBootConnect();
    flash.ConnectionInfo.UserConnect = GetUserConnect();
    flash.ConnectionInfo.ConnectResponse = GetConnectResponse();
}
