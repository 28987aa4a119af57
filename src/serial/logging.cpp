#include "logging.h"

#include <cstdio>
#include <mutex>

#include "logging_file.h"

namespace {

// The log file descriptor, or -1 while logging is off; one writer at a time holds it.
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

void WriteLine(const std::string& text)
{
    // One write per line, straight to the file: the line is there even if the
    // program dies right after.
    if (LogFile >= 0)
        WriteLogLine(LogFile, LogTimeStamp() + ": " + text + "\r\n");
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
        const TLogOpen opened = OpenLogForAppend(fileName, false);
        int fd = opened.Fd;
        if (opened.Result == TLogOpen::Busy) {
            failure = "Log file " + fileName + " cannot be opened (Cannot open file \"" + fileName +
                "\". It is being written by another process)";
        } else if (opened.Result != TLogOpen::Opened) {
            // Create only a file that does not exist: a log that exists but
            // cannot be opened right now must never be emptied.
            const TLogOpen made = OpenLogForAppend(fileName, true);
            fd = made.Fd;
            if (made.Result == TLogOpen::Busy) {
                failure = "Log file " + fileName + " cannot be opened (Cannot open file \"" + fileName +
                    "\". It is being written by another process)";
            } else if (made.Result != TLogOpen::Opened) {
                const std::string& shown = made.Result == TLogOpen::Exists ? opened.Reason : made.Reason;
                failure = "Log file " + fileName + " cannot be opened (Cannot create file \"" + fileName + "\". " +
                    shown + ")";
            } else {
                created = true;
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
        CloseLog(LogFile);
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
