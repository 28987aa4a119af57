// The report's ties to a POSIX system: the host name, local time with its offset, and the
// report file appended in one write(2) per line.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "app/flash_cli/report.h"
#include "app/flash_cli/report_os.h"
#include "framework/file_input.h"

std::string HostName()
{
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return std::string();
    return name;
}

long LocalTime(time_t seconds, tm& local)
{
    localtime_r(&seconds, &local);
    return local.tm_gmtoff / 60;
}

ssize_t WriteInOne(int fd, const std::string& text)
{
    ssize_t n;
    do {
        n = ::write(fd, text.data(), text.size());
    } while (n < 0 && errno == EINTR);
    return n;
}

TReportFile::TReportFile(const std::string& path) : Path(path)
{
    // A FIFO must be refused before the open, which would wait for a reader or, non-blocking,
    // fail with a reason nobody understands; non-blocking still covers one made meanwhile.
    struct stat before { };
    if (::stat(path.c_str(), &before) == 0 && !S_ISREG(before.st_mode))
        throw EFileError("Cannot open report file " + path + " (" + NotAFileReason(before.st_mode) + ")");
    // Read too: the file's last byte tells whether a line before was left without its end.
    Fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0644);
    if (Fd < 0)
        throw EFileError("Cannot open report file " + path + " (" + std::strerror(errno) + ")");
    struct stat st { };
    const bool known = ::fstat(Fd, &st) == 0;
    if (!known || !S_ISREG(st.st_mode)) {
        const std::string why = known ? NotAFileReason(st.st_mode) : std::strerror(errno);
        ::close(Fd);
        throw EFileError("Cannot open report file " + path + " (" + why + ")");
    }
}

TReportFile::~TReportFile()
{
    if (Fd >= 0)
        ::close(Fd);
}

namespace {

// Held while a line is appended: stations sharing the file take turns, so the end of the
// file each one looks at is the end it writes at.
class TAppendLock {
public:
    explicit TAppendLock(int fd) : Fd(fd)
    {
        while (::flock(Fd, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    ~TAppendLock() { ::flock(Fd, LOCK_UN); }

private:
    int Fd;
};

} // namespace

void TReportFile::Append(const TJson& record)
{
    std::string line = record.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    TAppendLock lock(Fd);
    struct stat st { };
    const bool sized = ::fstat(Fd, &st) == 0;
    char last = '\n';
    // A fragment someone left (a writer that died mid-line) is never continued.
    if (sized && st.st_size > 0 && ::pread(Fd, &last, 1, st.st_size - 1) == 1 && last != '\n')
        line.insert(0, "\n");
    const ssize_t n = WriteInOne(Fd, line);
    if (n != static_cast<ssize_t>(line.size())) {
        const int err = errno;
        // A line is whole or absent: what a full disk let through is taken back (should that
        // fail too, the next line still starts on a line of its own).
        if (n > 0 && sized && ::ftruncate(Fd, st.st_size) != 0)
            errno = err;
        throw EFileError("Cannot write report file " + Path + " (" + (n < 0 ? std::strerror(err) : "the disk is full") +
                         ")");
    }
    // The record must survive a power cut right after the unit leaves the fixture.
    ::fdatasync(Fd);
}
