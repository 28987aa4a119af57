#pragma once
// Layout of the stored data block and of the programming-info record inside its payload.
// Offsets within the record are from the first payload byte; all numbers little-endian.
#include <cstdint>

namespace layout {

constexpr int32_t MarkerSize = 20;
constexpr int32_t PayloadSize = 0x70000;
constexpr int32_t ChecksumSize = 4;
constexpr int32_t BlockSize = MarkerSize + PayloadSize + ChecksumSize; // 458,776
constexpr int32_t PayloadOffset = MarkerSize;
constexpr int32_t ChecksumOffset = MarkerSize + PayloadSize; // 0x70014
constexpr uint32_t ChecksumStart = 0x12345678u;

constexpr int32_t RequiredVersion = 4;
constexpr int32_t TextWidth = 40;

constexpr int32_t StructureVersion = 0;
constexpr int32_t ImageIdentifier = 4;
constexpr int32_t ImageTitle = 44;
constexpr int32_t ConnectSerial = 84;
constexpr int32_t ProgramSerial = 100;
constexpr int32_t SerialBlockSize = 16;
constexpr int32_t BootConnect = 116;
constexpr int32_t UserConnect = 156;
constexpr int32_t ConnectResponse = 196;
constexpr int32_t FlashStart = 236;
constexpr int32_t FlashLength = 240;
constexpr int32_t ImageLength = 244;
constexpr int32_t FlashBlockSize = 248;
constexpr int32_t FlashCheckSeed = 252;
constexpr int32_t FlashVerification = 254;
constexpr int32_t FlashEncryption = 255;
constexpr int32_t PictureType = 256;
constexpr int32_t ImageRegion = 257;
constexpr int32_t ImageRegionSize = 0x40000; // 262,144
constexpr int32_t IconRegion = 262401;
constexpr int32_t IconRegionSize = 0x1400; // 5,120
constexpr int32_t PictureRegion = 267521;
constexpr int32_t PictureRegionSize = 0x20000; // 131,072
constexpr int32_t Instructions = 398593;
constexpr int32_t InstructionsSize = 0x800; // 2,048
constexpr int32_t LogSwitch = 400641;
constexpr int32_t SpareStart = 400642;

static_assert(ImageRegion + ImageRegionSize == IconRegion);
static_assert(IconRegion + IconRegionSize == PictureRegion);
static_assert(PictureRegion + PictureRegionSize == Instructions);
static_assert(Instructions + InstructionsSize == LogSwitch);
static_assert(PayloadSize - SpareStart == 58110);

constexpr uint8_t PictureBitmap = 0;
constexpr uint8_t PictureJpeg = 1;

} // namespace layout
