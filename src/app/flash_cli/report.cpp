#include "app/flash_cli/report.h"

#include <cmath>
#include <ctime>
#include <filesystem>
#include <span>

#include "app/flash_cli/report_os.h"
#include "framework/file_input.h"
#include "framework/product.h"
#include "storage/dev_params.h"

namespace {

TJson TextOrNull(const std::string& s)
{
    return s.empty() ? TJson(nullptr) : TJson(s);
}

const char* MethodName(int method)
{
    return method == 0 ? "user" : method == 1 ? "boot" : nullptr;
}

} // namespace

TJobFacts DescribeJob(const TJob& job)
{
    const TExeProgrammingInfo& info = job.Info();
    const std::span<const uint8_t> image = job.Image();
    TJobFacts facts;
    facts.File = job.File().empty() ? OwnExecutablePath() : std::filesystem::absolute(job.File()).string();
    facts.Title = info.GetImageTitle();
    facts.Identifier = TExeProgrammingInfo::ReadFixedText(info.Data() + layout::ImageIdentifier, layout::TextWidth);
    facts.ImageLength = static_cast<int32_t>(image.size());
    facts.ImageSha256 = Sha256Hex(image);
    facts.LogSwitch = info.GetLogEnabled();
    return facts;
}

std::string IsoTime(std::chrono::system_clock::time_point t)
{
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
    const time_t seconds = static_cast<time_t>(ms / 1000);
    tm local{};
    const long offset = LocalTime(seconds, local);
    char text[64];
    const size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    std::snprintf(text + n, sizeof text - n, ".%03d%c%02ld:%02ld", int(ms % 1000), offset < 0 ? '-' : '+',
                  std::labs(offset) / 60, std::labs(offset) % 60);
    return text;
}

TJson IdentityJson(const TUnitIdentity& unit)
{
    if (!unit.Known)
        return nullptr;
    TJson j;
    // The name field is NUL-padded on the line; the unit's name ends at the first NUL.
    j["name"] = unit.Name.substr(0, unit.Name.find('\0'));
    j["seed"] = unit.Seed;
    j["start"] = unit.Start;
    j["length"] = unit.Length;
    return j;
}

TUnitIdentity IdentityFromJson(const TJson& j)
{
    TUnitIdentity unit;
    if (!j.is_object())
        return unit;
    unit.Known = true;
    unit.Name = j.value("name", std::string());
    unit.Seed = j.value("seed", uint16_t(0));
    unit.Start = j.value("start", int32_t(0));
    unit.Length = j.value("length", int32_t(0));
    return unit;
}

TUnitRecord::TUnitRecord(std::string port, TJson usb, const TJobFacts& job)
    : FPort(std::move(port)), FUsb(std::move(usb)), FJob(job), FStart(std::chrono::system_clock::now()),
      FStartSteady(Steady::now()), FRecordId(NewUnitId())
{
}

void TUnitRecord::Phase(TRunPhase phase)
{
    FPhase = phase;
    const auto now = Steady::now();
    if (phase == TRunPhase::Program) {
        FProgramStart = now;
        FProgrammed = true;
    }
    if (phase == TRunPhase::Verify && FProgrammed) {
        const double seconds = std::chrono::duration<double>(now - FProgramStart).count();
        if (seconds > 0)
            FProgramRate = FJob.ImageLength / seconds;
    }
}

std::string DetailText(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += (text.empty() ? "" : " ") + line;
    return text;
}

void TUnitRecord::End(const std::string& result, const std::string& error, const std::string& detail)
{
    FDetail = detail;
    FEnd = std::chrono::system_clock::now();
    FEndSteady = Steady::now();
    FResult = result;
    FError = error;
}

double TUnitRecord::Seconds() const
{
    return std::chrono::duration<double>((Ended() ? FEndSteady : Steady::now()) - FStartSteady).count();
}

TJson TUnitRecord::Json() const
{
    TJson r;
    r["time_start"] = IsoTime(FStart);
    r["time_end"] = IsoTime(FEnd);
    r["duration_s"] = std::round(Seconds() * 1000.0) / 1000.0;
    r["station"] = TextOrNull(HostName());
    r["port"] = FPort;
    r["fixture"] = TextOrNull(FFixture);
    r["round"] = FRound;
    r["usb"] = FUsb;
    r["tool_version"] = ProductVersion;
    r["job"] = {{"file", TextOrNull(FJob.File)},
                {"title", FJob.Title},
                {"identifier", FJob.Identifier},
                {"image_length", FJob.ImageLength},
                {"image_sha256", FJob.ImageSha256}};
    const char* method = MethodName(FMethod);
    r["method"] = method ? TJson(method) : TJson(nullptr);
    r["unit"] = IdentityJson(FUnit);
    r["program_rate"] = FProgramRate >= 0 ? TJson(std::lround(FProgramRate)) : TJson(nullptr);
    r["phase"] = RunPhaseName(FPhase);
    // A skip-if-current run is a program run; "programmed" says whether it had to.
    r["mode"] = FMode == TRunMode::SkipIfCurrent ? "program" : RunModeName(FMode);
    r["programmed"] = FProgrammed;
    r["result"] = FResult;
    r["error"] = TextOrNull(FError);
    r["detail"] = TextOrNull(FDetail);
    r["operator"] = TextOrNull(FWho.Operator);
    r["unit_serial"] = TextOrNull(FWho.UnitSerial);
    r["record_id"] = FRecordId;
    return r;
}
