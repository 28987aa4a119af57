#include "storage/dev_params.h"

#include <cstring>

#include "framework/byteorder.h"
#include "framework/exceptions.h"

int32_t TExeProgrammingInfo::GetStructureVersion() const
{
    return static_cast<int32_t>(LoadLE32(FData + layout::StructureVersion));
}

void TExeProgrammingInfo::CheckVersion() const
{
    if (GetStructureVersion() != layout::RequiredVersion)
        throw Exception("Structure version does not match");
}

std::string TExeProgrammingInfo::ReadFixedText(const uint8_t* source, int32_t maxChars)
{
    if (maxChars <= 0)
        return std::string();
    const void* nul = std::memchr(source, 0, size_t(maxChars));
    const size_t length = nul ? size_t(static_cast<const uint8_t*>(nul) - source) : size_t(maxChars);
    return std::string(reinterpret_cast<const char*>(source), length);
}

std::string TExeProgrammingInfo::GetImageTitle() const
{
    return ReadFixedText(FData + layout::ImageTitle, layout::TextWidth);
}

std::string TExeProgrammingInfo::GetBootConnect() const
{
    return ReadFixedText(FData + layout::BootConnect, layout::TextWidth);
}

std::string TExeProgrammingInfo::GetUserConnect() const
{
    return ReadFixedText(FData + layout::UserConnect, layout::TextWidth);
}

std::string TExeProgrammingInfo::GetConnectResponse() const
{
    return ReadFixedText(FData + layout::ConnectResponse, layout::TextWidth);
}

int32_t TExeProgrammingInfo::GetFlashStart() const
{
    return int32_t(LoadLE32(FData + layout::FlashStart));
}
int32_t TExeProgrammingInfo::GetFlashLength() const
{
    return int32_t(LoadLE32(FData + layout::FlashLength));
}
int32_t TExeProgrammingInfo::GetImageLength() const
{
    return int32_t(LoadLE32(FData + layout::ImageLength));
}
int32_t TExeProgrammingInfo::GetFlashBlockSize() const
{
    return int32_t(LoadLE32(FData + layout::FlashBlockSize));
}

uint16_t TExeProgrammingInfo::GetFlashCheckSeed() const
{
    return LoadLE16(FData + layout::FlashCheckSeed);
}

uint8_t TExeProgrammingInfo::GetFlashVerification() const
{
    return FData[layout::FlashVerification];
}
uint8_t TExeProgrammingInfo::GetFlashEncryption() const
{
    return FData[layout::FlashEncryption];
}
uint8_t TExeProgrammingInfo::GetPictureType() const
{
    return FData[layout::PictureType];
}
bool TExeProgrammingInfo::GetLogEnabled() const
{
    return FData[layout::LogSwitch] != 0;
}

const uint8_t* TExeProgrammingInfo::GetImageData() const
{
    return FData + layout::ImageRegion;
}

std::span<const uint8_t> TExeProgrammingInfo::GetImage() const
{
    const int32_t length = GetImageLength();
    if (length < 0 || length > layout::ImageRegionSize)
        throw Exception("Image length " + std::to_string(length) + " is outside the image region of " +
                        std::to_string(layout::ImageRegionSize) + " bytes");
    return {GetImageData(), size_t(length)};
}

TSerialSettingsIndices TExeProgrammingInfo::ReadSerialSettings(const uint8_t* settings)
{
    // Only the low byte of each little-endian 32-bit value counts.
    return {settings[0], settings[4], settings[8], settings[12]};
}

void TExeProgrammingInfo::GetInstructions(TStringList& lines) const
{
    lines.SetText(ReadFixedText(FData + layout::Instructions, layout::InstructionsSize));
}
