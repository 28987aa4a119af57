#pragma once
// Read-only accessor over the programming-info record at the start of the stored payload.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "framework/stringlist.h"
#include "storage/record_layout.h"

class TGraphic;
class TIcon;
class TPicture;

// The four enumeration indices of a serial-settings block (low byte of each 32-bit value).
struct TSerialSettingsIndices {
    uint8_t BaudRate;
    uint8_t DataBits;
    uint8_t StopBits;
    uint8_t Parity;
};

class TExeProgrammingInfo {
public:
    // Keeps the record address; the memory is not owned and never written.
    explicit TExeProgrammingInfo(const uint8_t* data) : FData(data) { }

    const uint8_t* Data() const { return FData; }

    int32_t GetStructureVersion() const;
    // Raises Exception "Structure version does not match" unless the version is 4.
    void CheckVersion() const;

    // The bytes from source up to the first NUL or maxChars, whichever comes first.
    static std::string ReadFixedText(const uint8_t* source, int32_t maxChars);

    std::string GetImageTitle() const;
    // Connect texts come back undecoded (%xx escapes intact).
    std::string GetBootConnect() const;
    std::string GetUserConnect() const;
    std::string GetConnectResponse() const;

    int32_t GetFlashStart() const;
    int32_t GetFlashLength() const;
    int32_t GetImageLength() const;
    int32_t GetFlashBlockSize() const;
    uint16_t GetFlashCheckSeed() const;
    uint8_t GetFlashVerification() const;
    uint8_t GetFlashEncryption() const;
    uint8_t GetPictureType() const;
    bool GetLogEnabled() const;

    // Address of the first image byte.
    const uint8_t* GetImageData() const;
    // The image's bytes: GetImageLength bytes from GetImageData. Raises Exception when the
    // length is negative or larger than the image region, rather than reach past it.
    std::span<const uint8_t> GetImage() const;

    // Serial-settings blocks: connect phase and programming phase.
    const uint8_t* GetConnectSettings() const { return FData + layout::ConnectSerial; }
    const uint8_t* GetProgramSettings() const { return FData + layout::ProgramSerial; }
    static TSerialSettingsIndices ReadSerialSettings(const uint8_t* settings);

    // Loads a graphic from a memory region through a read-only stream over it. The graphics
    // come with the window toolkit: these three exist in the builds that have it.
    static void LoadGraphic(const uint8_t* data, int32_t size, TGraphic& graphic);
    void LoadIcon(TIcon& icon) const;
    // Picture type 0 is a bitmap, 1 a JPEG; anything else raises Exception
    // "Image type not supported" without touching the picture region.
    void LoadPicture(TPicture& picture) const;

    // The instruction text, one entry per line (TStringList::SetText).
    void GetInstructions(TStringList& lines) const;

private:
    const uint8_t* FData;
};
