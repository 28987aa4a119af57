#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "logging_file.h"

TLogOpen OpenLogForAppend(const std::string& fileName, bool createNew)
{
    TLogOpen r;
    const int fd = open(fileName.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | (createNew ? O_CREAT | O_EXCL : 0), 0644);
    if (fd < 0) {
        r.Result = errno == EEXIST ? TLogOpen::Exists : TLogOpen::Failed;
        r.Reason = std::strerror(errno);
        return r;
    }
    // The exclusive flock keeps a second instance from writing into the same log.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        close(fd);
        r.Result = err == EWOULDBLOCK ? TLogOpen::Busy : TLogOpen::Failed;
        r.Reason = std::strerror(err);
        return r;
    }
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
