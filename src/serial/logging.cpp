#include "serial/logging.h"

#include <cctype>
#include <cstdio>
#include <mutex>

#include "serial/logging_file.h"

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

std::string Capitalised(std::string text)
{
    if (!text.empty())
        text[0] = char(std::toupper(static_cast<unsigned char>(text[0])));
    return text;
}

std::string CannotOpen(const std::string& fileName, const std::string& reason)
{
    return "Cannot open file \"" + fileName + "\". " + reason;
}

// Why an open that did not succeed failed, or "" when it is for the caller to go on.
std::string Refusal(const std::string& fileName, const TLogOpen& r)
{
    if (r.Result == TLogOpen::Busy)
        return CannotOpen(fileName, "It is being written by another process");
    if (r.Result == TLogOpen::NotAFile)
        return CannotOpen(fileName, Capitalised(r.Reason));
    return {};
}

// Opens the log for appending, creating it when it does not exist; returns why it cannot be
// opened, or "" with fd set.
std::string OpenLog(const std::string& fileName, int& fd, bool& created)
{
    const TLogOpen opened = OpenLogForAppend(fileName, false);
    if (opened.Result == TLogOpen::Opened)
        return fd = opened.Fd, std::string();
    if (std::string refused = Refusal(fileName, opened); !refused.empty())
        return refused;
    // Create only a file that does not exist: a log that exists but cannot be opened right
    // now must never be emptied.
    const TLogOpen made = OpenLogForAppend(fileName, true);
    if (made.Result == TLogOpen::Opened)
        return fd = made.Fd, created = true, std::string();
    if (std::string refused = Refusal(fileName, made); !refused.empty())
        return refused;
    const std::string& shown = made.Result == TLogOpen::Exists ? opened.Reason : made.Reason;
    return "Cannot create file \"" + fileName + "\". " + shown;
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
        int fd = -1;
        failure = OpenLog(fileName, fd, created);
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
        ReportError("Log file " + fileName + " cannot be opened (" + failure + ")");
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
    const size_t slash = path.find_last_of(PathSeparators());
    const size_t dot = path.find_last_of('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
        return path.substr(0, dot) + "_log.txt";
    return path + "_log.txt";
}
