#pragma once
// A read-only stream over memory somebody else owns (the stored data block).
#include <cstdint>

#include "framework/streams.h"

class TExistingMemoryStream : public TCustomMemoryStream {
public:
    // Position starts at 0. The memory must outlive the stream; it is never freed.
    TExistingMemoryStream(const void* memory, int64_t size);
    TExistingMemoryStream(const TExistingMemoryStream&) = delete;
    TExistingMemoryStream& operator=(const TExistingMemoryStream&) = delete;

    // Stores nothing and returns 0, so WriteBuffer raises EWriteError for any count > 0.
    int32_t Write(const void* buffer, int32_t count) override;
};
