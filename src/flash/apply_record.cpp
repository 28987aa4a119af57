#include "flash/apply_record.h"

#include <string>

#include "flash/h83664.h"
#include "serial/CPort.h"
#include "storage/dev_params.h"
#include "storage/record_layout.h"

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

void ApplySerialSettings(const uint8_t* settings, TComPort& port)
{
    const TSerialSettingsIndices s = TExeProgrammingInfo::ReadSerialSettings(settings);
    CheckOrdinal("BaudRate", s.BaudRate, br256000 + 1);
    CheckOrdinal("DataBits", s.DataBits, dbEight + 1);
    CheckOrdinal("StopBits", s.StopBits, sbTwoStopBits + 1);
    CheckOrdinal("Parity", s.Parity, prSpace + 1);
    port.SetBaudRate(static_cast<TBaudRate>(s.BaudRate));
    port.SetDataBits(static_cast<TDataBits>(s.DataBits));
    port.SetStopBits(static_cast<TStopBits>(s.StopBits));
    port.Parity()->SetBits(static_cast<TParityBits>(s.Parity));
}

void ApplyComConnect(const TExeProgrammingInfo& info, TComPort& port)
{
    ApplySerialSettings(info.GetConnectSettings(), port);
}

void ApplyComProgram(const TExeProgrammingInfo& info, TComPort& port)
{
    ApplySerialSettings(info.GetProgramSettings(), port);
}

void ConfigureFlash(const TExeProgrammingInfo& info, THitachiFlash& flash)
{
    flash.FlashCheckSeed = info.GetFlashCheckSeed();
    flash.FlashStart = info.GetFlashStart();
    flash.FlashLength = info.GetFlashLength();
    flash.FlashBlockSize = info.GetFlashBlockSize();
    flash.FlashVerification = info.GetFlashVerification();
    flash.FlashEncryption = info.GetFlashEncryption();
    ApplyComConnect(info, *flash.ComConnect());
    ApplyComProgram(info, *flash.ComProgram());
    flash.KeepStoredConnect();
    flash.ConnectionInfo.BootConnect = info.GetBootConnect();
    flash.ConnectionInfo.UserConnect = info.GetUserConnect();
    flash.ConnectionInfo.ConnectResponse = info.GetConnectResponse();
}
