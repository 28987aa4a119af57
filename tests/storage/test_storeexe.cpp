#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>

#include "framework/exceptions.h"
#include "storage/block_writer.h"
#include "storage/exist_ms.h"
#include "storage/stored_file.h"
#include "storage/storeexe.h"

namespace {

// A block in ordinary memory: the running marker, a payload and its checksum.
std::vector<uint8_t> MakeBlock(const std::vector<uint8_t>& payload)
{
    std::string exe = StoredDataMarker() + std::string(layout::PayloadSize + 4, '\0');
    StampBlock(exe, 0, payload);
    return std::vector<uint8_t>(exe.begin(), exe.end());
}

bool Valid(const std::vector<uint8_t>& block)
{
    try {
        EXPECT_EQ(CheckStoredData(block.data()), block.data() + 20);
        return true;
    } catch (const EStoredDataError& e) {
        EXPECT_STREQ(e.what(), "Stored data is not valid");
        return false;
    }
}

} // namespace

TEST(StoredData, ChecksumOfUniformPayloads)
{
    std::vector<uint8_t> p(layout::PayloadSize, 0);
    EXPECT_EQ(PayloadChecksum(p.data()), 0x12345678u);
    std::fill(p.begin(), p.end(), 0xFF);
    EXPECT_EQ(PayloadChecksum(p.data()), 0x192D5678u);
    // Sums past 2^32 wrap, and bytes count as unsigned.
    uint32_t expected = 0x12345678u;
    for (size_t i = 0; i < p.size(); ++i) {
        p[i] = uint8_t(i * 7 + 0x80);
        expected += p[i];
    }
    EXPECT_EQ(PayloadChecksum(p.data()), expected);
}

TEST(StoredData, EverySingleByteChangeCountsExceptTheMarker)
{
    std::vector<uint8_t> payload = NewPayload();
    PutI32(payload, layout::StructureVersion, 4);
    std::vector<uint8_t> block = MakeBlock(payload);
    ASSERT_TRUE(Valid(block));

    struct Case {
        const char* name;
        size_t offset;
        bool stillValid;
    };
    const Case cases[] = {
        {"first marker byte", 0, true},
        {"last marker byte", 19, true},
        {"first payload byte", 20, false},
        {"a record field", 20 + layout::FlashStart, false},
        {"log switch", 20 + layout::LogSwitch, false},
        {"first spare byte", 20 + layout::SpareStart, false},
        {"last payload byte", 20 + layout::PayloadSize - 1, false},
        {"checksum low byte", layout::ChecksumOffset, false},
        {"checksum high byte", layout::ChecksumOffset + 3, false},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> changed = block;
        changed[c.offset] ^= 0x01;
        EXPECT_EQ(Valid(changed), c.stillValid) << c.name;
    }
    // Two changes that cancel in the sum are not detected: the check is a plain sum.
    std::vector<uint8_t> swapped = block;
    swapped[20] -= 1; // version 4 -> 3
    swapped[21] += 1;
    EXPECT_TRUE(Valid(swapped));
}

TEST(StoredData, TemplateBlockIsMarkerThenZeroAndInvalid)
{
    EXPECT_EQ(reinterpret_cast<uintptr_t>(StoredDataBlock) % 4, 0u);
    const std::string marker = StoredDataMarker();
    ASSERT_EQ(marker.size(), 20u);
    EXPECT_EQ(marker.find('\0'), std::string::npos);
    for (int i = layout::MarkerSize; i < layout::BlockSize; ++i)
        ASSERT_EQ(StoredDataBlock[i], 0) << "offset " << i;
    EXPECT_THROW(CheckStoredData(StoredDataBlock), EStoredDataError);
}

TEST(StoredData, FindStoredBlockReportsEveryOccurrence)
{
    const std::string m = StoredDataMarker();
    EXPECT_TRUE(FindStoredBlock("").empty());
    EXPECT_TRUE(FindStoredBlock(m.substr(0, 19)).empty());
    const std::vector<size_t> expected = {3, 3 + m.size() + 5};
    EXPECT_EQ(FindStoredBlock("abc" + m + "xxxxx" + m + m.substr(0, 10)), expected);
}

// A job executable is scanned in pieces of 1 MiB: a marker or a block across a piece's end
// is found whole, and the errors are those of LocateStoredBlock.
TEST(StoredData, ReadStoredBlockFromAFile)
{
    const std::string m = StoredDataMarker();
    const std::string block = m + std::string(layout::PayloadSize, '\x5A') + "CSUM";
    const size_t piece = size_t(1) << 20;
    struct Case {
        const char* Name;
        std::string Bytes;
        const char* Error; // nullptr: the block is read
    } cases[] = {
        {"at the start", block + "tail", nullptr},
        {"marker across a piece", std::string(piece - 7, 'x') + block, nullptr},
        {"block across a piece", std::string(piece - 1000, 'x') + block + "tail", nullptr},
        {"none", std::string(5000, 'x'), "No stored data block in "},
        {"two", block + m, "More than one stored data block in "},
        {"cut short", std::string(100, 'x') + block.substr(0, 1000), "Stored data block in "},
    };
    const std::string path = testing::TempDir() + "stored_block_file.bin";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        std::ofstream(path, std::ios::binary | std::ios::trunc) << c.Bytes;
        try {
            EXPECT_EQ(ReadStoredBlock(path, size_t(8) << 20), block);
            EXPECT_EQ(c.Error, nullptr);
        } catch (const Exception& e) {
            ASSERT_NE(c.Error, nullptr) << e.what();
            EXPECT_EQ(std::string(e.what()).rfind(c.Error + path, 0), 0u) << e.what();
        }
    }
    std::remove(path.c_str());
}

TEST(BlockWriter, FieldsAndRefusals)
{
    std::vector<uint8_t> p = NewPayload();
    PutText(p, layout::ImageTitle, 40, std::string(40, 'T'));
    EXPECT_EQ(p[layout::ImageTitle + 39], 'T');
    EXPECT_EQ(p[layout::ImageTitle + 40], 0) << "no NUL written past a full field";
    PutText(p, layout::ImageTitle, 40, "ab");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(&p[layout::ImageTitle]), 4), std::string("ab\0\0", 4));
    PutI32(p, layout::FlashStart, -2);
    EXPECT_EQ(p[layout::FlashStart + 3], 0xFF);
    PutU16(p, layout::FlashCheckSeed, 0x0081);
    EXPECT_EQ(p[layout::FlashCheckSeed], 0x81);
    EXPECT_EQ(p[layout::FlashCheckSeed + 1], 0x00);

    EXPECT_THROW(PutText(p, layout::ImageTitle, 40, std::string(41, 'x')), Exception);
    EXPECT_THROW(PutU32(p, layout::PayloadSize - 3, 1), Exception);
    EXPECT_THROW(PutU8(p, -1, 1), Exception);
    const std::string big(layout::IconRegionSize + 1, 'i');
    EXPECT_THROW(PutRegion(p, layout::IconRegion, layout::IconRegionSize, big.data(), big.size()), Exception);
    std::vector<uint8_t> small(100);
    EXPECT_THROW(PutU8(small, 0, 1), Exception);
}

TEST(BlockWriter, StampRefusesWhatIsNotABlock)
{
    const std::vector<uint8_t> p = NewPayload();
    std::string exe = "head" + StoredDataMarker() + std::string(layout::PayloadSize + 4, '\x55') + "tail";
    std::string tooShort = exe.substr(0, exe.size() - 10);
    EXPECT_THROW(StampBlock(tooShort, 4, p), Exception);
    EXPECT_THROW(StampBlock(exe, 3, p), Exception) << "no marker there";
    EXPECT_THROW(StampBlock(exe, exe.size() + 1, p), Exception);
    EXPECT_THROW(StampBlock(exe, 4, std::vector<uint8_t>(10)), Exception);

    StampBlock(exe, 4, p);
    EXPECT_EQ(exe.substr(0, 4), "head");
    EXPECT_EQ(exe.substr(exe.size() - 4), "tail");
    const uint8_t* block = reinterpret_cast<const uint8_t*>(exe.data()) + 4;
    EXPECT_EQ(CheckStoredData(block), block + 20);
    EXPECT_EQ(std::memcmp(block + layout::ChecksumOffset, "\x78\x56\x34\x12", 4), 0);
}

TEST(ExistingMemoryStream, ReadSeekAndWriteRefusal)
{
    uint8_t mem[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    uint8_t out[20] = {};
    {
        TExistingMemoryStream s(mem, 10);
        EXPECT_EQ(s.Position(), 0);
        EXPECT_EQ(s.Size(), 10);
        s.SetPosition(4);
        EXPECT_EQ(s.Read(out, 20), 6);
        EXPECT_EQ(out[0], 4);
        EXPECT_EQ(out[5], 9);
        EXPECT_EQ(s.Read(out, 20), 0);
        EXPECT_THROW(s.ReadBuffer(out, 1), EReadError);

        EXPECT_EQ(s.Seek(5, soEnd), 15) << "seeking past the end is allowed";
        EXPECT_EQ(s.Read(out, 1), 0);
        EXPECT_EQ(s.Seek(-20, soCurrent), -5) << "not clamped";
        EXPECT_EQ(s.Read(out, 1), 0);
        s.SetPosition(0);
        EXPECT_EQ(s.Read(out, -1), 0);

        s.SetPosition(0);
        const uint8_t junk[4] = {0xEE, 0xEE, 0xEE, 0xEE};
        EXPECT_EQ(s.Write(junk, 4), 0);
        EXPECT_NO_THROW(s.WriteBuffer(junk, 0));
        try {
            s.WriteBuffer(junk, 1);
            ADD_FAILURE() << "write accepted";
        } catch (const EWriteError& e) {
            EXPECT_STREQ(e.what(), "Stream write error");
        }
        s.SetSize(2);
        EXPECT_EQ(s.Size(), 10) << "the size never changes";
    }
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(mem[i], i) << "memory intact after the stream is gone";
}
