#pragma once
// The job file: what one job-specific executable carries, read from JSON and turned into
// the stored record's payload; and the reverse, a stored payload described as JSON.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "flash/connect_defaults.h"

namespace job {

// Every complaint about a job names the file and the key (and the limit where there is one).
class JobError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct SerialSettings {
    uint32_t baudOrdinal = 7;     // br9600
    uint32_t dataBitsOrdinal = 3; // 8 data bits
    uint32_t stopBitsOrdinal = 0; // 1 stop bit
    uint32_t parityOrdinal = 0;   // none
};

struct Job {
    std::string identifier, title;
    SerialSettings connectSerial, programSerial;
    // The flash controller's defaults for what a job leaves out.
    std::string bootConnect = DefaultBootConnect;
    std::string userConnect = DefaultUserConnect;
    std::string connectResponse = DefaultConnectResponse;
    int32_t flashStart = 0, flashLength = 0, flashBlockSize = 0;
    uint16_t flashCheckSeed = 0;
    uint8_t flashVerification = 2, flashEncryption = 1;
    std::vector<uint8_t> image, icon, picture;
    uint8_t pictureType = 0;
    std::string instructions; // lines joined with CR LF
    bool log = false;
};

struct ParsedJob {
    Job job;
    std::vector<std::string> warnings;
};

constexpr int32_t MaxInstructionBytes = 2048;
constexpr int MaxInstructionLines = 20;
constexpr int ShownInstructionLines = 15; // what the connect wizard shows whole

// Parses the job file's text; relative paths are taken from baseDir. jobName is the
// file name used in messages.
ParsedJob ParseJob(const std::string& jsonText, const std::string& baseDir, const std::string& jobName);

// The payload of the stored data block for a job (layout::PayloadSize bytes).
std::vector<uint8_t> BuildPayload(const Job& job);

// The payload described as JSON text: the job's keys, the image's length and SHA-256,
// icon and picture sizes and the picture type. Raises JobError on a wrong structure version.
std::string DescribePayload(const uint8_t* payload);

} // namespace job
