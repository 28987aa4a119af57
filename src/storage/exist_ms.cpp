#include "storage/exist_ms.h"

TExistingMemoryStream::TExistingMemoryStream(const void* memory, int64_t size)
{
    // The base class keeps a mutable pointer; this stream never writes through it.
    SetPointer(static_cast<uint8_t*>(const_cast<void*>(memory)), size);
}

int32_t TExistingMemoryStream::Write(const void*, int32_t)
{
    return 0;
}
