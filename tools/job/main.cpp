// moravent-job: stamps a job (image, settings, icon, picture, instructions) into a copy of
// the programmer's executable, and shows what a job-specific executable carries.
#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <span>
#include <string>
#include <vector>

#include "framework/byteorder.h"
#include "framework/cmdline.h"
#include "framework/file_input.h"
#include "job/job.h"
#include "job/job_diff.h"
#include "job/launcher.h"
#include "job/output_file.h"
#include "job/pe_signature.h"
#include "job/signing.h"
#include "job/template_version.h"
#include "storage/block_writer.h"
#include "storage/record_layout.h"
#include "storage/storeexe.h"

namespace {

const char* const Usage = R"(usage:
  moravent-job build JOB.json -o OUT [--template EXE] [--launcher]
                    [--sign CERT [--key KEY] [--timestamp URL]]
  moravent-job show FILE
  moravent-job diff FILE_A FILE_B
  moravent-job --help | --version

build  reads the job file and writes OUT (mode 0755): a copy of the template executable
       (default: moravent-flash next to moravent-job) with the job stamped into its stored
       data block. The template's block must be found exactly once. OUT is written to a
       temporary file and renamed, so a failed build leaves no OUT behind.
       --launcher also writes OUT.desktop, which starts OUT from the desktop under the
       job's title, and the job's icon beside it as OUT.png.
       A Windows template that is signed cannot keep its signature (stamping changes the
       file): its certificate table is taken out and OUT is written unsigned, with a note.
       --sign CERT --key KEY signs OUT with that certificate and private key (PEM or
       DER; --sign BUNDLE.pfx alone for a PKCS#12 bundle) through osslsigncode; a key's
       password comes from the environment variable MORAVENT_SIGN_PASSWORD.
       --timestamp URL has a time-stamp server countersign it, so the signature stays
       valid after the certificate expires.
show   checks the stored data block of FILE (checksum, structure version) and prints the
       job it carries as JSON, with image_length, image_sha256, icon_size, picture_size and
       picture_type added.
       A job that carries no image is noted on standard error; standard output holds the
       JSON alone. template_version is the version of the tool FILE is (from its version
       information; null when it carries none).
diff   compares the jobs two built programmers carry and prints a line for each key in
       which they differ ("title: \"A\" -> \"B\"", nested keys dotted, such as
       program_serial.baud), the image by its SHA-256 and the first offset at which the
       images differ. Exit 0 when the jobs are alike, 1 when they differ.

Job file keys (JSON object; an unknown key is an error; paths are relative to the job file):
  identifier, title        texts of at most 40 bytes
  connect_serial           {"baud": 9600, "data_bits": 8, "stop_bits": 1, "parity": "none"}
  program_serial           the same, for the programming phase. baud: 110 300 600 1200 2400
                           4800 9600 14400 19200 38400 56000 57600 115200 128000 256000;
                           data_bits 5-8; stop_bits 1, 1.5 or 2; parity none/odd/even/mark/space
                           (default 9600 8N1 for both)
  boot_connect             boot loader connect string, at most 40 bytes, stored as written;
                           %xx escapes (two hex digits) stand for one byte (default "SyNcBoOt")
  user_connect             application connect string (default "%02XM5281%03")
  connect_response         reply expected to either connect string (default "SyNcBoOt")
  flash_start, flash_length, flash_block_size
                           32-bit signed integers (decimal or "0x..." strings; default 0)
  flash_check_seed         0..65535 (default 0)
  flash_verification       0..255 (default 2)
  flash_encryption         0..255 (default 1)
  image                    the firmware: Motorola S-records (.mot .s19 .s28 .s37 .srec), Intel
                           HEX (.hex .ihex) or raw binary (any other name). Record addresses are
                           flash addresses from flash_start on; gaps become 0xFF; the image runs
                           to the highest byte filled, padded with 0xFF to whole 128-byte blocks,
                           and must fit the flash region and 262,144 bytes. A raw image is stored
                           as it is (warning when its size is not a multiple of 128).
                           Required, and may not be empty, unless allow_empty_image is true.
  allow_empty_image        true for a job meant to carry no image (the key image left out or
                           its file empty): a unit it programs is erased and left empty
                           (default false)
  icon                     a Windows icon (.ico) of at most 5,120 bytes
  picture                  a Windows bitmap or a JPEG of at most 131,072 bytes (type by content)
                           and 16,777,216 pixels (4096 x 4096)
  instructions             a text file, or an array of lines; joined with CR LF, at most 2,048
                           bytes and 20 lines (warning above 15: the wizard shows 15 whole)
  log                      true to start the communications log (default false)

Exit status 0 on success, 1 on any error, 2 for a usage error (one line on standard error).
)";

const char* const BuildUsage =
    "usage: moravent-job build JOB.json -o OUT [--template EXE] [--launcher] [--sign CERT [--key KEY]]";
const char* const ShowUsage = "usage: moravent-job show FILE";
const char* const DiffUsage = "usage: moravent-job diff FILE_A FILE_B";

[[noreturn]] void Fail(const std::string& message)
{
    throw Exception(message);
}

// A job executable is a program with one stored block; a job file is a small JSON text.
constexpr size_t ExecutableLimit = 256u << 20;
constexpr size_t JobFileLimit = 1u << 20;

std::string DirName(const std::string& path)
{
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    return parent.empty() ? "." : parent.string();
}

std::string DefaultTemplate()
{
    const std::string self = OwnExecutablePath();
    if (self.empty())
        Fail("cannot find my own folder for the default template; give --template EXE");
    return (std::filesystem::path(self).parent_path() / job::DefaultTemplateName).string();
}

// Signs the stamped program into a temporary file beside out, checks that it still carries
// its one job, then puts it in place.
void WriteSigned(const TCommandLine& cmd, const std::string& out, const std::string& exe)
{
    const std::string unsigned_ = out + ".unsigned", signed_ = out + ".signed";
    job::WriteAtomically(unsigned_, exe, true);
    try {
        job::SignPe(
            {cmd.Value("sign"), cmd.Value("key"), cmd.Value("timestamp"), MORAVENT_SIGN_DESCRIPTION, MORAVENT_SIGN_URL},
            unsigned_, signed_);
        const std::string bytes = ReadFileBytes(signed_, ExecutableLimit, "signed program");
        LocateStoredBlock(bytes, signed_);
        job::WriteAtomically(out, bytes, true);
    } catch (const std::exception& e) {
        job::RemoveFile(unsigned_);
        job::RemoveFile(signed_);
        Fail(out + ": " + e.what());
    }
    job::RemoveFile(unsigned_);
    job::RemoveFile(signed_);
}

int Build(const TCommandLine& cmd)
{
    const std::vector<std::string>& args = cmd.Positional();
    if (args.size() > 2)
        throw EUsageError("more than one job file given (see --help)");
    const std::string jobFile = args.size() == 2 ? args[1] : "", out = cmd.Value("o");
    if (jobFile.empty() || out.empty() || ((cmd.Has("key") || cmd.Has("timestamp")) && !cmd.Has("sign")))
        throw EUsageError(BuildUsage);
    const std::string templ = cmd.Has("template") ? cmd.Value("template") : DefaultTemplate();

    const std::string text = ReadFileBytes(jobFile, JobFileLimit, "job file");
    const job::ParsedJob parsed = job::ParseJob(text, DirName(jobFile), jobFile);
    for (const std::string& w : parsed.warnings)
        std::fprintf(stderr, "moravent-job: warning: %s\n", w.c_str());

    std::string exe = ReadFileBytes(templ, ExecutableLimit, "template");
    const size_t at = LocateStoredBlock(exe, templ);
    try {
        StampBlock(exe, at, job::BuildPayload(parsed.job));
    } catch (const std::exception& e) {
        Fail(templ + ": " + e.what());
    }
    const bool wasSigned = job::FindCertificateTable(exe, templ).present;
    job::RemoveCertificateTable(exe, templ);
    // Everything the launcher needs is made before anything is written.
    job::Launcher launcher;
    if (cmd.Has("launcher"))
        launcher = job::MakeLauncher(parsed.job, out);
    if (cmd.Has("sign"))
        WriteSigned(cmd, out, exe);
    else
        job::WriteAtomically(out, exe, true);
    if (wasSigned && !cmd.Has("sign"))
        std::fprintf(stderr,
                     "moravent-job: note: %s is signed, and stamping breaks a signature: %s is written unsigned "
                     "and needs signing (--sign CERT --key KEY) before it is handed out\n",
                     templ.c_str(), out.c_str());
    if (!launcher.iconPath.empty())
        job::WriteAtomically(launcher.iconPath, std::string(launcher.png.begin(), launcher.png.end()), false);
    if (!launcher.desktopPath.empty())
        job::WriteAtomically(launcher.desktopPath, launcher.desktopText, false);
    return 0;
}

// A built programmer's file and the checked payload of its stored block.
struct StoredJob {
    std::string bytes;
    const uint8_t* payload = nullptr;

    std::span<const uint8_t> Image() const
    {
        return {payload + layout::ImageRegion, size_t(LoadLE32(payload + layout::ImageLength))};
    }
};

StoredJob ReadStoredJob(const std::string& file)
{
    StoredJob job;
    job.bytes = ReadFileBytes(file, ExecutableLimit, "file");
    const size_t at = LocateStoredBlock(job.bytes, file);
    const uint8_t* block = reinterpret_cast<const uint8_t*>(job.bytes.data()) + at;
    job.payload = block + layout::PayloadOffset;
    const uint32_t stored = LoadLE32(block + layout::ChecksumOffset);
    const uint32_t computed = PayloadChecksum(job.payload);
    if (stored != computed) {
        char buf[128];
        std::snprintf(buf, sizeof buf, "stored data is not valid: checksum 0x%08X, the payload sums to 0x%08X", stored,
                      computed);
        Fail(file + ": " + buf + (stored == 0 ? " (no job stamped into it?)" : ""));
    }
    return job;
}

// The job's description, and the version of the tool it was stamped into (null when the
// file carries no version information).
std::string Describe(const StoredJob& job, const std::string& file)
{
    try {
        nlohmann::ordered_json d = nlohmann::ordered_json::parse(job::DescribePayload(job.payload));
        const std::string version = job::TemplateVersion(job.bytes);
        d["template_version"] = version.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(version);
        return d.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
    } catch (const std::exception& e) {
        Fail(file + ": " + e.what());
    }
}

int Show(const TCommandLine& cmd)
{
    if (cmd.Positional().size() != 2 || !cmd.Given().empty())
        throw EUsageError(ShowUsage);
    const std::string file = cmd.Positional()[1];
    const StoredJob job = ReadStoredJob(file);
    std::printf("%s\n", Describe(job, file).c_str());
    // Standard output stays the job's JSON alone, which scripts parse.
    if (job.Image().empty()) {
        std::fflush(stdout);
        std::fprintf(stderr,
                     "moravent-job: note: %s: the job carries no image (image_length 0): a unit it programs is "
                     "erased and left empty\n",
                     file.c_str());
    }
    return 0;
}

// Exit 0 when the two jobs are alike, 1 with a line per difference when they are not.
int Diff(const TCommandLine& cmd)
{
    if (cmd.Positional().size() != 3 || !cmd.Given().empty())
        throw EUsageError(DiffUsage);
    const std::string fileA = cmd.Positional()[1], fileB = cmd.Positional()[2];
    const StoredJob a = ReadStoredJob(fileA), b = ReadStoredJob(fileB);
    const std::vector<std::string> lines =
        job::DiffJobs(Describe(a, fileA), Describe(b, fileB), a.Image(), b.Image());
    for (const std::string& line : lines)
        std::printf("%s\n", line.c_str());
    return lines.empty() ? ExitOk : ExitFailed;
}

} // namespace

int main(int argc, char** argv)
{
    return RunMain("moravent-job", [&] {
        TCommandLine cmd("moravent-job", Usage);
        cmd.AddValue({"o", "output"});
        cmd.AddValue({"template"});
        cmd.AddFlag({"launcher"});
        for (const char* name : {"sign", "key", "timestamp"})
            cmd.AddValue({name});
        if (!cmd.Parse(argc, argv))
            return ExitOk;
        const std::string verb = cmd.Positional().empty() ? "" : cmd.Positional()[0];
        if (verb == "help") {
            std::fputs(Usage, stdout);
            return ExitOk;
        }
        if (verb == "build")
            return Build(cmd);
        if (verb == "show")
            return Show(cmd);
        if (verb == "diff")
            return Diff(cmd);
        throw EUsageError((verb.empty() ? std::string("no command given") : "unknown command \"" + verb + "\"") +
                          ": build, show or diff (see --help)");
    });
}
