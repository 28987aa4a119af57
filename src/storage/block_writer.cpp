#include "storage/block_writer.h"

#include <cstring>

#include "framework/byteorder.h"
#include "framework/exceptions.h"
#include "storage/storeexe.h"

namespace {

void CheckRange(const std::vector<uint8_t>& payload, int32_t offset, int64_t width)
{
    if (payload.size() != size_t(layout::PayloadSize))
        throw Exception("Payload must be " + std::to_string(layout::PayloadSize) + " bytes, not " +
                        std::to_string(payload.size()));
    if (offset < 0 || width < 0 || offset + width > layout::PayloadSize)
        throw Exception("Field at offset " + std::to_string(offset) + " of " + std::to_string(width) +
                        " bytes lies outside the payload");
}

void PutLE(std::vector<uint8_t>& payload, int32_t offset, uint32_t value, int bytes)
{
    CheckRange(payload, offset, bytes);
    for (int i = 0; i < bytes; ++i)
        payload[size_t(offset + i)] = uint8_t(value >> (8 * i));
}

} // namespace

std::vector<uint8_t> NewPayload()
{
    return std::vector<uint8_t>(size_t(layout::PayloadSize), 0);
}

void PutU8(std::vector<uint8_t>& payload, int32_t offset, uint8_t value)
{
    PutLE(payload, offset, value, 1);
}
void PutU16(std::vector<uint8_t>& payload, int32_t offset, uint16_t value)
{
    PutLE(payload, offset, value, 2);
}
void PutU32(std::vector<uint8_t>& payload, int32_t offset, uint32_t value)
{
    PutLE(payload, offset, value, 4);
}
void PutI32(std::vector<uint8_t>& payload, int32_t offset, int32_t value)
{
    PutLE(payload, offset, static_cast<uint32_t>(value), 4);
}

void PutText(std::vector<uint8_t>& payload, int32_t offset, int32_t width, const std::string& text)
{
    CheckRange(payload, offset, width);
    if (text.size() > size_t(width))
        throw Exception("Text of " + std::to_string(text.size()) + " characters does not fit its " +
                        std::to_string(width) + "-character field");
    PutRegion(payload, offset, width, text.data(), text.size());
}

void PutRegion(std::vector<uint8_t>& payload, int32_t offset, int32_t regionSize, const void* data, size_t size)
{
    CheckRange(payload, offset, regionSize);
    if (size > size_t(regionSize))
        throw Exception("Data of " + std::to_string(size) + " bytes does not fit its " + std::to_string(regionSize) +
                        "-byte region");
    uint8_t* dst = payload.data() + offset;
    if (size > 0)
        std::memcpy(dst, data, size);
    std::memset(dst + size, 0, size_t(regionSize) - size);
}

void PutSerialSettings(std::vector<uint8_t>& payload, int32_t offset, uint32_t baudRate, uint32_t dataBits,
                       uint32_t stopBits, uint32_t parity)
{
    CheckRange(payload, offset, layout::SerialBlockSize);
    PutU32(payload, offset, baudRate);
    PutU32(payload, offset + 4, dataBits);
    PutU32(payload, offset + 8, stopBits);
    PutU32(payload, offset + 12, parity);
}

void StampBlock(std::string& exeBytes, size_t markerOffset, const std::vector<uint8_t>& payload)
{
    if (payload.size() != size_t(layout::PayloadSize))
        throw Exception("Payload must be " + std::to_string(layout::PayloadSize) + " bytes, not " +
                        std::to_string(payload.size()));
    if (markerOffset > exeBytes.size() || exeBytes.size() - markerOffset < size_t(layout::BlockSize))
        throw Exception("Stored data block at offset " + std::to_string(markerOffset) +
                        " does not fit in the executable");
    if (exeBytes.compare(markerOffset, layout::MarkerSize, StoredDataMarker()) != 0)
        throw Exception("No stored data marker at offset " + std::to_string(markerOffset));
    std::memcpy(exeBytes.data() + markerOffset + layout::PayloadOffset, payload.data(), payload.size());
    uint8_t le[4];
    StoreLE32(le, PayloadChecksum(payload.data()));
    exeBytes.replace(markerOffset + layout::ChecksumOffset, 4, reinterpret_cast<const char*>(le), 4);
}
