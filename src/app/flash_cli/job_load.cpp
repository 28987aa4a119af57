#include "app/flash_cli/job_load.h"

#include <cctype>

#include "framework/file_input.h"
#include "storage/stored_file.h"
#include "storage/storeexe.h"

namespace {

// A job file is a JSON object; a programmer is a binary that never starts with '{'.
bool LooksLikeJobFile(const std::string& path)
{
    try {
        TInputFile file(path);
        char head[256];
        const size_t n = file.Read(head, sizeof head);
        for (size_t i = 0; i < n; ++i)
            if (!std::isspace(static_cast<unsigned char>(head[i])))
                return head[i] == '{';
    } catch (const std::exception&) {
    }
    return false;
}

bool CarriesNoJob(const std::string& jobFile)
{
    if (jobFile.empty())
        return IsBlankStoredBlock(StoredDataBlock);
    try {
        const std::string block = ReadStoredBlock(jobFile, std::string::npos);
        return IsBlankStoredBlock(reinterpret_cast<const uint8_t*>(block.data()));
    } catch (const std::exception&) {
        return false;
    }
}

std::vector<std::string> Hints(const std::string& jobFile)
{
    if (!jobFile.empty() && LooksLikeJobFile(jobFile))
        return {jobFile + " is a job file, not a programmer made from one: build one with 'moravent-job build " +
                jobFile + " -o OUT' and give OUT to --job."};
    if (!CarriesNoJob(jobFile))
        return {};
    if (jobFile.empty())
        return {"This program carries no job: give it one with --job FILE (a programmer made by 'moravent-job "
                "build'), or stamp one into a copy of it with 'moravent-job build JOB.json -o OUT --template " +
                OwnExecutablePath() + "'."};
    return {jobFile +
            " carries no job: stamp one into a copy of it with 'moravent-job build JOB.json -o OUT "
            "--template " +
            jobFile + "'."};
}

} // namespace

TJob LoadCliJob(const std::string& jobFile)
{
    try {
        return jobFile.empty() ? TJob::Stamped() : TJob::FromFile(jobFile);
    } catch (const std::exception& e) {
        EJobRefused refused(NoValidImageMessage(e.what()));
        refused.AddDetails(Hints(jobFile));
        throw refused;
    }
}
