// An arbitrary payload under the programming-info record: every accessor answers or raises
// Exception, and none reads a byte outside the regions it belongs to. Each call runs with
// the rest of the payload poisoned for AddressSanitizer.
//
// Input: the fixed fields (257 bytes), a fill byte for everything the input leaves out,
// the icon and instruction lengths (16 bits each, little-endian), the icon bytes, the
// instruction bytes, and the picture file in the rest.
#include <sanitizer/asan_interface.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "framework/exceptions.h"
#include "framework/graphics.h"
#include "storage/dev_params.h"
#include "storage/record_layout.h"

namespace {

struct TRegion {
    int32_t Offset, Size;
};
constexpr TRegion Fields{0, layout::ImageRegion};
constexpr TRegion LogSwitch{layout::LogSwitch, 1};
constexpr TRegion ImageRegion{layout::ImageRegion, layout::ImageRegionSize};
constexpr TRegion IconRegion{layout::IconRegion, layout::IconRegionSize};
constexpr TRegion PictureRegion{layout::PictureRegion, layout::PictureRegionSize};
constexpr TRegion InstructionRegion{layout::Instructions, layout::InstructionsSize};

// Every region after the fixed fields lies at an offset of 1 modulo 8; starting the payload
// at 7 modulo 8 puts them all on the 8-byte granules that AddressSanitizer poisons whole.
alignas(8) uint8_t Storage[layout::PayloadSize + 8];
uint8_t* const Payload = Storage + 7;
static_assert(layout::ImageRegion % 8 == 1 && layout::IconRegion % 8 == 1 && layout::PictureRegion % 8 == 1 &&
              layout::Instructions % 8 == 1 && layout::LogSwitch % 8 == 1);

// Runs fn with only the given regions of the payload readable.
template <class F> void Only(std::initializer_list<TRegion> readable, F fn)
{
    ASAN_POISON_MEMORY_REGION(Payload, layout::PayloadSize);
    for (const TRegion& r : readable)
        ASAN_UNPOISON_MEMORY_REGION(Payload + r.Offset, r.Size);
    try {
        fn();
    } catch (const Exception&) {
    }
    ASAN_UNPOISON_MEMORY_REGION(Payload, layout::PayloadSize);
}

// Copies up to region.Size bytes of the input into the region, consuming them.
void Fill(const TRegion& region, const uint8_t*& data, size_t& size, size_t wanted)
{
    const size_t n = std::min({wanted, size, size_t(region.Size)});
    std::memcpy(Payload + region.Offset, data, n);
    data += n;
    size -= n;
}

size_t TakeLength(const uint8_t*& data, size_t& size)
{
    if (size < 2)
        return 0;
    const size_t n = size_t(data[0]) | (size_t(data[1]) << 8);
    data += 2;
    size -= 2;
    return n;
}

void Lay(const uint8_t* data, size_t size)
{
    const uint8_t fill = size > size_t(Fields.Size) ? data[Fields.Size] : 0;
    std::memset(Payload, fill, layout::PayloadSize);
    Fill(Fields, data, size, size_t(Fields.Size));
    if (size > 0) {
        ++data;
        --size;
    }
    const size_t iconLength = TakeLength(data, size);
    const size_t instructionLength = TakeLength(data, size);
    Fill(IconRegion, data, size, iconLength);
    Fill(InstructionRegion, data, size, instructionLength);
    Fill(PictureRegion, data, size, size);
}

// Keeps a value the optimiser would otherwise drop with the read that made it.
void Use(size_t value)
{
    static volatile size_t sink;
    sink = sink + value;
}

void Accessors(const TExeProgrammingInfo& info)
{
    Only({Fields, LogSwitch}, [&] {
        for (const std::string& text :
             {info.GetImageTitle(), info.GetBootConnect(), info.GetUserConnect(), info.GetConnectResponse()})
            Use(text.size());
        for (int32_t n : {info.GetStructureVersion(), info.GetFlashStart(), info.GetFlashLength(),
                          info.GetImageLength(), info.GetFlashBlockSize()})
            Use(size_t(n));
        Use(info.GetFlashCheckSeed() + info.GetFlashVerification() + info.GetFlashEncryption() + info.GetPictureType() +
            info.GetLogEnabled());
        if (info.Data() != Payload || info.GetImageData() != Payload + layout::ImageRegion)
            __builtin_trap();
        for (const uint8_t* block : {info.GetConnectSettings(), info.GetProgramSettings()}) {
            const TSerialSettingsIndices s = TExeProgrammingInfo::ReadSerialSettings(block);
            Use(s.BaudRate + s.DataBits + s.StopBits + s.Parity);
        }
        info.CheckVersion();
    });
    Only({Fields, ImageRegion}, [&] {
        for (uint8_t b : info.GetImage())
            Use(b);
    });
}

void Instructions(const TExeProgrammingInfo& info)
{
    Only({InstructionRegion}, [&] {
        TStringList lines;
        info.GetInstructions(lines);
        size_t total = 0;
        for (const std::string& line : lines)
            total += line.size();
        if (total > size_t(layout::InstructionsSize))
            __builtin_trap();
    });
}

void Graphics(const TExeProgrammingInfo& info)
{
    Only({IconRegion}, [&] {
        TIcon icon;
        info.LoadIcon(icon);
    });
    const uint8_t stored = Payload[layout::PictureType];
    // Both decoders over the same picture bytes, then the stored type as it is.
    for (int type : {int(layout::PictureBitmap), int(layout::PictureJpeg), int(stored)}) {
        Payload[layout::PictureType] = uint8_t(type);
        const bool known = type == layout::PictureBitmap || type == layout::PictureJpeg;
        TPicture picture;
        if (known)
            Only({Fields, PictureRegion}, [&] { info.LoadPicture(picture); });
        else
            Only({Fields}, [&] { info.LoadPicture(picture); });
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Lay(data, size);
    const TExeProgrammingInfo info(Payload);
    Accessors(info);
    Instructions(info);
    Graphics(info);
    return 0;
}
