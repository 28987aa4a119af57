#pragma once
// The stream family: an abstract stream, memory streams over owned or borrowed memory.
#include <cstdint>
#include <vector>

enum TSeekOrigin : int { soBeginning = 0, soCurrent = 1, soEnd = 2 };

class TStream {
public:
    virtual ~TStream() = default;
    virtual int32_t Read(void* buffer, int32_t count) = 0;
    virtual int32_t Write(const void* buffer, int32_t count) = 0;
    virtual int64_t Seek(int64_t offset, int origin) = 0;
    virtual void SetSize(int64_t newSize);

    int64_t Position() { return Seek(0, soCurrent); }
    void SetPosition(int64_t pos) { Seek(pos, soBeginning); }
    virtual int64_t Size();

    // Raise EReadError "Stream read error" / EWriteError "Stream write error" on a short transfer.
    void ReadBuffer(void* buffer, int32_t count);
    void WriteBuffer(const void* buffer, int32_t count);
};

// A stream over a memory block: address, size and position.
class TCustomMemoryStream : public TStream {
public:
    int32_t Read(void* buffer, int32_t count) override;
    int64_t Seek(int64_t offset, int origin) override;
    int64_t Size() override { return FSize; }
    const uint8_t* Memory() const { return FMemory; }

protected:
    void SetPointer(uint8_t* ptr, int64_t size)
    {
        FMemory = ptr;
        FSize = size;
    }
    uint8_t* FMemory = nullptr;
    int64_t FSize = 0;
    int64_t FPosition = 0;
};

// A growable stream that owns its memory.
class TMemoryStream : public TCustomMemoryStream {
public:
    TMemoryStream() = default;
    TMemoryStream(const TMemoryStream&) = delete;
    TMemoryStream& operator=(const TMemoryStream&) = delete;
    int32_t Write(const void* buffer, int32_t count) override;
    void SetSize(int64_t newSize) override;
    void Clear()
    {
        SetSize(0);
        FPosition = 0;
    }
    void LoadFrom(const void* data, int64_t size);
    uint8_t* Data() { return FMemory; }

private:
    std::vector<uint8_t> Storage;
};
