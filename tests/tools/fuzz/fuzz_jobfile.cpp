// Any text as a job file (no files beside it): a payload that describes itself again, or a
// JobError, never a crash.
#include <cstddef>
#include <cstdint>
#include <string>

#include "job/job.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    try {
        const job::ParsedJob parsed =
            job::ParseJob(std::string(reinterpret_cast<const char*>(data), size), "/nonexistent", "fuzz.json");
        const auto payload = job::BuildPayload(parsed.job);
        (void)job::DescribePayload(payload.data());
    } catch (const job::JobError&) {
    }
    return 0;
}
