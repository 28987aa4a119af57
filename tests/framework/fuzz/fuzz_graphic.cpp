// Any bytes as one file for the decoder named by FUZZ_GRAPHIC (TBitmap, TIcon or
// TJPEGImage): an image within the decoders' bounds or EInvalidGraphic, never a crash, a
// hang, a leak or a read past the data. libFuzzer's input buffer is exactly the data's
// size, so AddressSanitizer sees any read beyond it.
#include <cstddef>
#include <cstdint>

#include "framework/exceptions.h"
#include "framework/graphics.h"
#include "framework/streams.h"

namespace {

class TFuzzStream : public TCustomMemoryStream {
public:
    TFuzzStream(const uint8_t* data, size_t size) { SetPointer(const_cast<uint8_t*>(data), int64_t(size)); }
    int32_t Write(const void*, int32_t) override { return 0; }
};

bool WithinBounds(const TGraphic& g)
{
    return !g.Empty() && g.Width() <= 16384 && g.Height() <= 16384 && int64_t(g.Width()) * g.Height() <= 32LL << 20;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    TFuzzStream stream(data, size);
    FUZZ_GRAPHIC graphic;
    try {
        graphic.LoadFromStream(stream);
    } catch (const EInvalidGraphic&) {
        if (!graphic.Empty())
            __builtin_trap(); // a failed load must leave nothing behind
        return 0;
    }
    if (!WithinBounds(graphic) || stream.Position() > int64_t(size) || graphic.Clone()->Width() != graphic.Width())
        __builtin_trap();
    return 0;
}
