#include "framework/file_input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

// Windows has no FIFOs to wait on, no controlling terminals and no close-on-exec flag, but
// would translate line ends without O_BINARY.
#ifndef O_NONBLOCK
constexpr int O_NONBLOCK = 0;
#endif
#ifndef O_NOCTTY
constexpr int O_NOCTTY = 0;
#endif
#ifndef O_CLOEXEC
constexpr int O_CLOEXEC = 0;
#endif
#ifndef O_BINARY
constexpr int O_BINARY = 0;
#endif
#ifndef S_ISSOCK
#define S_ISSOCK(m) false
#endif
#ifndef S_ISBLK
#define S_ISBLK(m) false
#endif

[[noreturn]] void Fail(const char* verb, const std::string& what, const std::string& path, const std::string& why)
{
    throw EFileError(std::string(verb) + " " + what + " " + path + " (" + why + ")");
}

} // namespace

std::string NotAFileReason(unsigned mode)
{
    if (S_ISDIR(mode))
        return "it is a directory";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "it is a device, not a file";
    if (S_ISFIFO(mode))
        return "it is a FIFO, not a file";
    if (S_ISSOCK(mode))
        return "it is a socket, not a file";
    return "it is not a regular file";
}

TInputFile::TInputFile(const std::string& path, const std::string& what) : FPath(path), FWhat(what)
{
    // Non-blocking, so a FIFO without a writer cannot hold the open; fstat then refuses it.
    FFd = ::open(path.c_str(), O_RDONLY | O_BINARY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (FFd < 0)
        Fail("Cannot open", what, path, std::strerror(errno));
    struct stat st { };
    if (::fstat(FFd, &st) != 0)
        Refuse(std::strerror(errno));
    if (!S_ISREG(st.st_mode))
        Refuse(NotAFileReason(st.st_mode));
    FSize = static_cast<unsigned long long>(st.st_size);
}

TInputFile::~TInputFile()
{
    if (FFd >= 0)
        ::close(FFd);
}

void TInputFile::Refuse(const std::string& why) const
{
    Fail("Cannot read", FWhat, FPath, why);
}

size_t TInputFile::Read(void* buffer, size_t count)
{
    for (;;) {
        const auto n = ::read(FFd, buffer, static_cast<unsigned>(std::min<size_t>(count, 1u << 30)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            Refuse(std::strerror(errno));
        return size_t(n);
    }
}

std::string ReadFileBytes(const std::string& path, size_t limit, const std::string& what, const std::string& limitName)
{
    TInputFile file(path, what);
    const std::string most = "more than the " + std::to_string(limit) + "-byte " + limitName;
    if (file.Size() > limit)
        file.Refuse(std::to_string(file.Size()) + " bytes, " + most);
    std::string bytes;
    bytes.resize(static_cast<size_t>(file.Size()));
    size_t done = 0;
    for (;;) {
        if (done == bytes.size()) {
            // The file may have grown since it was opened: one byte more than the limit is enough to tell.
            if (bytes.size() > limit)
                file.Refuse(most);
            bytes.resize(std::min(limit + 1, bytes.size() + 65536));
        }
        const size_t n = file.Read(bytes.data() + done, bytes.size() - done);
        if (n == 0)
            break;
        done += n;
    }
    bytes.resize(done);
    if (done > limit)
        file.Refuse(most);
    return bytes;
}

std::string OwnExecutablePath()
{
#ifdef _WIN32
    char path[MAX_PATH + 1];
    const DWORD n = ::GetModuleFileNameA(nullptr, path, sizeof path);
    return n > 0 && n < sizeof path ? std::string(path, n) : std::string();
#endif
    std::error_code ec;
    const std::filesystem::path p = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : p.string();
}
