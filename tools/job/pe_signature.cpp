#include "job/pe_signature.h"

#include <cstdint>

#include "framework/byteorder.h"
#include "job/job.h"

namespace job {
namespace {

constexpr size_t SecurityDirectory = 4;

// Where the optional header's fields sit; found is false for a file that is no PE.
struct PeLayout {
    bool found = false;
    size_t checksum = 0; // the header checksum field
    size_t security = 0; // the certificate table's directory entry
};

const uint8_t* At(const std::string& bytes, size_t offset)
{
    return reinterpret_cast<const uint8_t*>(bytes.data()) + offset;
}

PeLayout Layout(const std::string& bytes)
{
    PeLayout l;
    if (bytes.size() < 0x40 || bytes.compare(0, 2, "MZ") != 0)
        return l;
    const size_t pe = LoadLE32(At(bytes, 0x3C));
    if (pe > bytes.size() || bytes.size() - pe < 24 + 96 || bytes.compare(pe, 4, std::string("PE\0\0", 4)) != 0)
        return l;
    const size_t optional = pe + 24;
    const uint16_t magic = LoadLE16(At(bytes, optional));
    const bool plus = magic == 0x20B;
    if (!plus && magic != 0x10B)
        return l;
    const size_t directories = optional + (plus ? 112 : 96);
    const uint32_t count = LoadLE32(At(bytes, optional + (plus ? 108 : 92)));
    if (count <= SecurityDirectory || directories + 8 * (SecurityDirectory + 1) > bytes.size())
        return l;
    l.found = true;
    l.checksum = optional + 64;
    l.security = directories + 8 * SecurityDirectory;
    return l;
}

void Put32(std::string& bytes, size_t offset, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[offset + i] = static_cast<char>(value >> (8 * i));
}

} // namespace

PeCertificateTable FindCertificateTable(const std::string& bytes, const std::string& fileName)
{
    const PeLayout l = Layout(bytes);
    PeCertificateTable t;
    if (!l.found)
        return t;
    t.offset = LoadLE32(At(bytes, l.security));
    t.size = LoadLE32(At(bytes, l.security + 4));
    t.present = t.offset != 0 && t.size != 0;
    if (t.present && (t.offset > bytes.size() || bytes.size() - t.offset < t.size))
        throw JobError(fileName + ": its signature's certificate table lies outside the file");
    return t;
}

void RemoveCertificateTable(std::string& bytes, const std::string& fileName)
{
    const PeCertificateTable t = FindCertificateTable(bytes, fileName);
    if (!t.present)
        return;
    // The table is 8-byte aligned at the end; what follows it up to the end is its padding.
    if (bytes.size() - (t.offset + t.size) >= 8)
        throw JobError(fileName + ": its signature is not at the end of the file, so it cannot be taken out");
    const PeLayout l = Layout(bytes);
    bytes.resize(t.offset);
    Put32(bytes, l.security, 0);
    Put32(bytes, l.security + 4, 0);
    Put32(bytes, l.checksum, PeChecksum(bytes, l.checksum));
}

uint32_t PeChecksum(const std::string& bytes, size_t checksumOffset)
{
    uint64_t sum = 0;
    for (size_t i = 0; i < bytes.size(); i += 2) {
        if (i == checksumOffset || i == checksumOffset + 2)
            continue;
        uint32_t word = static_cast<uint8_t>(bytes[i]);
        if (i + 1 < bytes.size())
            word |= static_cast<uint32_t>(static_cast<uint8_t>(bytes[i + 1])) << 8;
        sum += word;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint32_t>(sum + bytes.size());
}

} // namespace job
