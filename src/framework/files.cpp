#include "files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

namespace {

class FileHandle {
public:
    explicit FileHandle(int fd) : Fd(fd) { }
    ~FileHandle()
    {
        if (Fd >= 0)
            ::close(Fd);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    int Fd;
};

} // namespace

std::string ReadFileBytes(const std::string& path, size_t limit, const std::string& what, const std::string& limitName)
{
    // Non-blocking, so a FIFO without a writer cannot hold the open; fstat then refuses it.
    FileHandle file(::open(path.c_str(), O_RDONLY | O_BINARY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (file.Fd < 0)
        Fail("Cannot open", what, path, std::strerror(errno));
    struct stat st { };
    if (::fstat(file.Fd, &st) != 0)
        Fail("Cannot read", what, path, std::strerror(errno));
    if (!S_ISREG(st.st_mode))
        Fail("Cannot read", what, path, NotAFileReason(st.st_mode));
    const std::string most = "more than the " + std::to_string(limit) + "-byte " + limitName;
    const auto tooLarge = [&] { Fail("Cannot read", what, path, most); };
    if (static_cast<unsigned long long>(st.st_size) > limit)
        Fail("Cannot read", what, path, std::to_string(st.st_size) + " bytes, " + most);
    std::string bytes;
    bytes.resize(static_cast<size_t>(st.st_size));
    size_t done = 0;
    for (;;) {
        if (done == bytes.size()) {
            // The file may have grown since fstat: one byte more than the limit is enough to tell.
            if (bytes.size() > limit)
                tooLarge();
            bytes.resize(std::min(limit + 1, bytes.size() + 65536));
        }
        const ssize_t n = ::read(file.Fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            Fail("Cannot read", what, path, std::strerror(errno));
        if (n == 0)
            break;
        done += size_t(n);
    }
    bytes.resize(done);
    if (done > limit)
        tooLarge();
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
