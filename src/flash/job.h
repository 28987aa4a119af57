#pragma once
// One job: the stored data block a run programs from and a record names, read once and
// checked once. Copies share the bytes.
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "storage/dev_params.h"

class TJob {
public:
    // The block stamped into this program.
    static TJob Stamped();
    // The block of a job executable on disk; only the block is read into memory.
    static TJob FromFile(const std::string& path);
    // A block that outlives the job, named file in messages ("" for this program's own).
    static TJob Over(const uint8_t* block, std::string file = {});

    // The job executable's path as given; "" for the block stamped into this program.
    const std::string& File() const { return FFile; }
    const uint8_t* Block() const { return FBlock; }
    const TExeProgrammingInfo& Info() const { return FInfo; }
    // The stored image: GetImageLength bytes of the image region.
    std::span<const uint8_t> Image() const { return FImage; }

private:
    // Checks the block's checksum, the record's structure version and that the image lies
    // within its region, raising the cause (front ends wrap it in NoValidImageMessage).
    TJob(const uint8_t* block, std::shared_ptr<const std::string> bytes, std::string file);

    std::shared_ptr<const std::string> FBytes; // the block, when read from a file
    const uint8_t* FBlock;
    TExeProgrammingInfo FInfo;
    std::span<const uint8_t> FImage;
    std::string FFile;
};

// "No Valid FLASH Image Present! (%s)." around the message of a start-up failure.
std::string NoValidImageMessage(const std::string& reason);
