#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "framework/file_input.h"
#include "storage/block_writer.h"
#include "storage/storeexe.h"

namespace {

std::string ReadFile(const std::string& path)
{
    return ReadFileBytes(path, size_t(1) << 30);
}

struct RunResult {
    std::string output;
    int status;
};

// Writes bytes to a fresh executable file and runs it.
RunResult RunCopy(const std::string& bytes, const std::string& tag)
{
    const std::string path = testing::TempDir() + "/stored-probe-" + std::to_string(getpid()) + "-" + tag;
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), std::streamsize(bytes.size()));
    }
    chmod(path.c_str(), 0700);
    RunResult r{"", -1};
    if (FILE* p = popen(path.c_str(), "r")) {
        char buf[256];
        while (size_t n = fread(buf, 1, sizeof buf, p))
            r.output.append(buf, n);
        r.status = pclose(p);
    }
    unlink(path.c_str());
    return r;
}

class PatchedProbe : public testing::Test {
protected:
    void SetUp() override
    {
        Probe = ReadFile(MORAVENT_STORED_PROBE);
        ASSERT_GT(Probe.size(), size_t(layout::BlockSize)) << MORAVENT_STORED_PROBE;
        const std::vector<size_t> found = FindStoredBlock(Probe);
        ASSERT_EQ(found.size(), 1u) << "the marker must occur exactly once in the file";
        Marker = found[0];
    }
    std::string Probe;
    size_t Marker = 0;
};

} // namespace

TEST_F(PatchedProbe, TemplateBlockIsZeroAfterTheMarkerAndRejected)
{
    const std::string rest = Probe.substr(Marker + layout::MarkerSize, layout::PayloadSize + layout::ChecksumSize);
    EXPECT_EQ(rest.find_first_not_of('\0'), std::string::npos) << "payload and checksum of the template build are zero";
    const RunResult r = RunCopy(Probe, "template");
    EXPECT_EQ(r.output, "error:Stored data is not valid\n");
    EXPECT_NE(r.status, 0);
}

TEST_F(PatchedProbe, StampedBlockIsReadFromTheFile)
{
    std::vector<uint8_t> payload = NewPayload();
    PutI32(payload, layout::StructureVersion, 4);
    PutText(payload, layout::ImageTitle, layout::TextWidth, "Probe Title 7.1");
    PutU8(payload, layout::SpareStart + 1000, 0); // spare stays zero
    std::string patched = Probe;
    StampBlock(patched, Marker, payload);
    const RunResult ok = RunCopy(patched, "stamped");
    EXPECT_EQ(ok.output, "title:Probe Title 7.1\n");
    EXPECT_EQ(ok.status, 0);

    std::string badSum = patched;
    badSum[Marker + layout::ChecksumOffset] ^= 0x40;
    EXPECT_EQ(RunCopy(badSum, "badsum").output, "error:Stored data is not valid\n");

    std::string changedPayload = patched;
    changedPayload[Marker + layout::PayloadOffset + layout::SpareStart + 5] = 1;
    EXPECT_EQ(RunCopy(changedPayload, "changed").output, "error:Stored data is not valid\n");
}

TEST(StoredMarker, OccursOnceInThisTestProgram)
{
    EXPECT_EQ(FindStoredBlock(ReadFile("/proc/self/exe")).size(), 1u);
}
