#include "framework/streams.h"

#include <algorithm>
#include <cstring>

#include "framework/exceptions.h"

void TStream::SetSize(int64_t) { }

int64_t TStream::Size()
{
    const int64_t pos = Seek(0, soCurrent);
    const int64_t size = Seek(0, soEnd);
    Seek(pos, soBeginning);
    return size;
}

void TStream::ReadBuffer(void* buffer, int32_t count)
{
    if (count != 0 && Read(buffer, count) != count)
        throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, int32_t count)
{
    if (count != 0 && Write(buffer, count) != count)
        throw EWriteError("Stream write error");
}

int32_t TCustomMemoryStream::Read(void* buffer, int32_t count)
{
    if (FPosition < 0 || count < 0 || FPosition >= FSize)
        return 0;
    const int64_t n = std::min<int64_t>(count, FSize - FPosition);
    if (n > 0)
        std::memcpy(buffer, FMemory + FPosition, static_cast<size_t>(n));
    FPosition += n;
    return static_cast<int32_t>(n);
}

int64_t TCustomMemoryStream::Seek(int64_t offset, int origin)
{
    switch (origin) {
    case soBeginning: FPosition = offset; break;
    case soCurrent: FPosition += offset; break;
    case soEnd: FPosition = FSize + offset; break;
    default: break;
    }
    return FPosition;
}

int32_t TMemoryStream::Write(const void* buffer, int32_t count)
{
    if (FPosition < 0 || count < 0)
        return 0;
    const int64_t end = FPosition + count;
    if (end > FSize)
        SetSize(end);
    if (count > 0)
        std::memcpy(FMemory + FPosition, buffer, static_cast<size_t>(count));
    FPosition = end;
    return count;
}

void TMemoryStream::SetSize(int64_t newSize)
{
    if (newSize < 0)
        newSize = 0;
    Storage.resize(static_cast<size_t>(newSize));
    SetPointer(Storage.data(), newSize);
    if (FPosition > newSize)
        FPosition = newSize;
}

void TMemoryStream::LoadFrom(const void* data, int64_t size)
{
    SetSize(size);
    if (size > 0)
        std::memcpy(FMemory, data, static_cast<size_t>(size));
    FPosition = 0;
}
