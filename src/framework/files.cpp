#include "files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace {

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

std::string ReadFileBytes(const std::string& path, size_t limit, const std::string& what)
{
    // Non-blocking, so a FIFO without a writer cannot hold the open; fstat then refuses it.
    FileHandle file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (file.Fd < 0)
        Fail("Cannot open", what, path, std::strerror(errno));
    struct stat st { };
    if (::fstat(file.Fd, &st) != 0)
        Fail("Cannot read", what, path, std::strerror(errno));
    if (!S_ISREG(st.st_mode))
        Fail("Cannot read", what, path, NotAFileReason(st.st_mode));
    const auto tooLarge = [&] { Fail("Cannot read", what, path, "larger than " + std::to_string(limit) + " bytes"); };
    if (static_cast<unsigned long long>(st.st_size) > limit)
        tooLarge();
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
    std::error_code ec;
    const std::filesystem::path p = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : p.string();
}
