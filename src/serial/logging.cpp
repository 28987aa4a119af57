#include "logging.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>

namespace {

// The log file descriptor, or -1 while logging is off. The exclusive flock on it
// keeps a second instance from writing into the same log; readers are not affected.
int LogFile = -1;
std::mutex LogLock;
std::function<void(const std::string&)> ErrorHook;

void ReportError(const std::string& text)
{
    try {
        std::function<void(const std::string&)> hook;
        {
            std::lock_guard<std::mutex> g(LogLock);
            hook = ErrorHook;
        }
        if (hook) {
            hook(text);
            return;
        }
    } catch (...) {
        // The hook must not turn a logging problem into a failure of the caller.
    }
    std::fprintf(stderr, "%s\n", text.c_str());
}

std::string TimeStamp()
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

void WriteLine(const std::string& text)
{
    if (LogFile < 0)
        return;
    const std::string line = TimeStamp() + ": " + text + "\r\n";
    // One write per line, straight to the file: the line is there even if the
    // program dies right after. A failed write is ignored.
    ssize_t r;
    do {
        r = write(LogFile, line.data(), line.size());
    } while (r < 0 && errno == EINTR);
}

// Opens an existing log for appending and takes the writer's lock; -1 with errno
// set on failure (EWOULDBLOCK: another instance is writing it).
int OpenForAppend(const std::string& fileName, int extraFlags)
{
    int fd = open(fileName.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | extraFlags, 0644);
    if (fd < 0)
        return -1;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int err = errno;
        close(fd);
        errno = err;
        return -1;
    }
    return fd;
}

} // namespace

void CommsLoggingInit(const std::string& fileName)
{
    std::string failure;
    try {
        std::lock_guard<std::mutex> g(LogLock);
        if (LogFile >= 0)
            return;
        bool created = false;
        int fd = OpenForAppend(fileName, 0);
        if (fd < 0) {
            const int openError = errno;
            if (openError == EWOULDBLOCK) {
                failure = "Log file " + fileName + " cannot be opened (Cannot open file \"" + fileName +
                    "\". It is being written by another process)";
            } else {
                // Create only a file that does not exist: a log that exists but
                // cannot be opened right now must never be emptied.
                fd = OpenForAppend(fileName, O_CREAT | O_EXCL);
                if (fd < 0) {
                    const int createError = errno;
                    const int shown = (createError == EEXIST) ? openError : createError;
                    failure = "Log file " + fileName + " cannot be opened (Cannot create file \"" + fileName + "\". " +
                        std::strerror(shown) + ")";
                } else {
                    created = true;
                }
            }
        }
        if (fd >= 0) {
            LogFile = fd;
            if (created)
                WriteLine("CommsLoggingInit: Log file created");
            WriteLine("CommsLoggingInit: Logging started");
        }
    } catch (...) {
    }
    // Reported outside the lock: the hook may show a window whose events log.
    if (!failure.empty())
        ReportError(failure);
}

void CommsLoggingDestroy()
{
    try {
        std::lock_guard<std::mutex> g(LogLock);
        if (LogFile < 0)
            return;
        WriteLine("CommsLoggingDestroy: Logging stopped");
        close(LogFile);
        LogFile = -1;
    } catch (...) {
    }
}

void CommsLog(const std::string& text)
{
    try {
        std::lock_guard<std::mutex> g(LogLock);
        WriteLine(text);
    } catch (...) {
    }
}

void CommsLogData(const std::string& portName, bool incoming, const std::string& data)
{
    try {
        std::lock_guard<std::mutex> g(LogLock);
        if (LogFile < 0)
            return;
        WriteLine(portName + (incoming ? " in: " : " out: ") + CommsLogEscape(data));
    } catch (...) {
    }
}

std::string CommsLogEscape(const std::string& data)
{
    static const char Hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(data.size());
    for (unsigned char c : data) {
        if (c >= 0x20 && c <= 0x7E) {
            out += char(c);
        } else {
            out += "\\x";
            out += Hex[c >> 4];
            out += Hex[c & 0x0F];
        }
    }
    return out;
}

void SetCommsLogErrorHook(std::function<void(const std::string&)> hook)
{
    std::lock_guard<std::mutex> g(LogLock);
    ErrorHook = std::move(hook);
}

bool CommsLoggingActive()
{
    std::lock_guard<std::mutex> g(LogLock);
    return LogFile >= 0;
}

std::string CommsLogFileFor(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
        return path.substr(0, dot) + "_log.txt";
    return path + "_log.txt";
}
