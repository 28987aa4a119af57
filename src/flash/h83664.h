#pragma once
// The flash controller: target description, connection settings and one boot-protocol
// device; connects, checks the unit against the description and programs one image.
#include <cstdint>
#include <string>

#include "flash/fdt.h"
#include "framework/exceptions.h"

class TStream;
class TUserPrompt;

MORAVENT_EXCEPTION(EHitachiFlashException, Exception);
// "Flash uP does not match definition": the unit answered but is not the one the job describes.
MORAVENT_EXCEPTION(EUnitMismatch, EHitachiFlashException);

// The operator's choice: connect method, DTR use and the port whose name (and, for the
// user connect, all settings) is taken.
struct TConnectChoice {
    uint8_t ConnectMethod = 0;
    uint8_t UseDTR = 0;
    TBriskoComPort* Port = nullptr;
};

// What the unit reported to the last identity check, as it sent it (the name's 20 bytes
// NUL-padded). Known is false until a check has read one.
struct TUnitIdentity {
    bool Known = false;
    std::string Name;
    uint16_t Seed = 0;
    int32_t Start = 0;
    int32_t Length = 0;
};

class THitachiFlash : public TComponent {
public:
    THitachiFlash(TComponent* owner, IStatusSink* statusControl, IProgressSink* progressBar, TUserPrompt* prompt);
    ~THitachiFlash() override;

    TFlashFDTDevice* Device = nullptr; // owned
    uint16_t FlashCheckSeed = 0;
    int32_t FlashStart = 0;
    int32_t FlashLength = 0;
    int32_t FlashBlockSize = 0;
    uint8_t FlashVerification = 2;
    uint8_t FlashEncryption = 1;
    TFullConnectionInfo ConnectionInfo; // ComConnect and ComProgram owned, never opened
    TUnitIdentity LastIdentity;         // set by VerifyDevice, also when it does not match

    TBriskoComPort* ComConnect() const { return ConnectionInfo.ComConnect; }
    TBriskoComPort* ComProgram() const { return ConnectionInfo.ComProgram; }

    virtual void ResetUserConnect();
    virtual void PrepareImage(TStream& stream);
    virtual void SetDefaults();

    void SelectConnection(const TConnectChoice& choice);
    // Takes ComConnect's present settings as the stored connect phase: the user method
    // replaces ComConnect's settings with the operator port's, the boot method puts these
    // back. The record's copy into the controller calls it; a first user-method selection
    // takes them itself when nobody has.
    void KeepStoredConnect();
    void ConnectNoVerify();
    void Connect();
    void VerifyDevice();
    void GetDeviceIdentity(std::string& name, uint16_t& seed, int32_t& start, int32_t& length);
    void Erase();
    void ProgramImage(TStream& stream);
    void VerifyImage(TStream& stream);
    void Finish();
    void Disconnect();

    // Raises Exception "Buffer size is not a multiple of the programming block size".
    void CheckBlockMultiple(TStream& stream, int32_t blockSize);
    void PadToBlock(TStream& stream, int32_t blockSize);

private:
    TBriskoComPort* FStoredConnect = nullptr; // owned once kept, never opened
};

// Checks an image for a run before anything touches the unit: its size must be a whole
// number of programming blocks and fit the flash region (FlashLength taken as unsigned), so
// a job that can never be programmed leaves the unit as it is.
void CheckImageForRun(THitachiFlash& flash, TStream& image);
