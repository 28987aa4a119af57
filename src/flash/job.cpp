#include "flash/job.h"

#include "storage/stored_file.h"
#include "storage/storeexe.h"

namespace {

// A job executable is a program with one stored block in it; nothing real comes near this.
constexpr size_t JobFileLimit = 256u << 20;

} // namespace

TJob::TJob(const uint8_t* block, std::shared_ptr<const std::string> bytes, std::string file)
    : FBytes(std::move(bytes)), FBlock(block), FInfo(CheckStoredData(block)), FFile(std::move(file))
{
    FInfo.CheckVersion();
    // A length outside the image region would read past it; refused with the other checks.
    FImage = FInfo.GetImage();
}

TJob TJob::Stamped()
{
    return TJob(StoredDataBlock, nullptr, std::string());
}

TJob TJob::FromFile(const std::string& path)
{
    auto bytes = std::make_shared<const std::string>(ReadStoredBlock(path, JobFileLimit));
    const auto* block = reinterpret_cast<const uint8_t*>(bytes->data());
    return TJob(block, std::move(bytes), path);
}

TJob TJob::Over(const uint8_t* block, std::string file)
{
    return TJob(block, nullptr, std::move(file));
}

std::string NoValidImageMessage(const std::string& reason)
{
    return "No Valid FLASH Image Present! (" + reason + ").";
}
