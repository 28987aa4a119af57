#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "framework/file_input.h"
#include "serial/logging_file.h"

namespace {

TLogOpen Failure(int err)
{
    TLogOpen r;
    r.Result = err == EEXIST ? TLogOpen::Exists : TLogOpen::Failed;
    r.Reason = std::strerror(err);
    return r;
}

TLogOpen NotAFile(mode_t mode)
{
    TLogOpen r;
    r.Result = TLogOpen::NotAFile;
    r.Reason = NotAFileReason(mode);
    return r;
}

} // namespace

TLogOpen OpenLogForAppend(const std::string& fileName, bool createNew)
{
    // Non-blocking, so a FIFO cannot hold the open: without a reader it fails with ENXIO, and
    // with one fstat refuses it. Regular files ignore the flag.
    const int fd =
        open(fileName.c_str(),
             O_WRONLY | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | (createNew ? O_CREAT | O_EXCL : 0), 0644);
    struct stat st { };
    if (fd < 0) {
        const int err = errno;
        if (err != EEXIST && ::stat(fileName.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
            return NotAFile(st.st_mode);
        return Failure(err);
    }
    if (fstat(fd, &st) != 0) {
        const int err = errno;
        close(fd);
        return Failure(err);
    }
    if (!S_ISREG(st.st_mode)) {
        close(fd);
        return NotAFile(st.st_mode);
    }
    // The exclusive flock keeps a second instance from writing into the same log.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        close(fd);
        TLogOpen r = Failure(err);
        if (err == EWOULDBLOCK)
            r.Result = TLogOpen::Busy;
        return r;
    }
    TLogOpen r;
    r.Result = TLogOpen::Opened;
    r.Fd = fd;
    return r;
}

void WriteLogLine(int fd, const std::string& line)
{
    ssize_t r;
    do {
        r = write(fd, line.data(), line.size());
    } while (r < 0 && errno == EINTR);
}

void CloseLog(int fd)
{
    close(fd);
}

std::string LogTimeStamp()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, int(now.tv_nsec / 1000000));
    return buf;
}

const char* PathSeparators()
{
    return "/";
}
