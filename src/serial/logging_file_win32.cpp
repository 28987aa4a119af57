// Sharing for reading only keeps a second writer out, as the POSIX side's flock does.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "framework/win32_error.h"
#include "serial/logging_file.h"

namespace {

TLogOpen NotAFile(const char* reason)
{
    TLogOpen r;
    r.Result = TLogOpen::NotAFile;
    r.Reason = reason;
    return r;
}

// What a handle that is no disk file stands for.
const char* NotADiskFileReason(DWORD type)
{
    switch (type) {
    case FILE_TYPE_CHAR: return "it is a device, not a file";
    case FILE_TYPE_PIPE: return "it is a pipe, not a file";
    default: return "it is not a regular file";
    }
}

} // namespace

TLogOpen OpenLogForAppend(const std::string& fileName, bool createNew)
{
    TLogOpen r;
    const DWORD attributes = GetFileAttributesA(fileName.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return NotAFile("it is a directory");
    const HANDLE h = CreateFileA(fileName.c_str(), FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ, nullptr,
                                 createNew ? CREATE_NEW : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        r.Result = error == ERROR_SHARING_VIOLATION ? TLogOpen::Busy
            : error == ERROR_FILE_EXISTS            ? TLogOpen::Exists
                                                    : TLogOpen::Failed;
        r.Reason = Win32ErrorText(error);
        return r;
    }
    if (const DWORD type = GetFileType(h); type != FILE_TYPE_DISK) {
        CloseHandle(h);
        return NotAFile(NotADiskFileReason(type));
    }
    r.Fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_BINARY);
    if (r.Fd < 0) {
        CloseHandle(h);
        r.Reason = "no descriptor left";
        return r;
    }
    r.Result = TLogOpen::Opened;
    return r;
}

void WriteLogLine(int fd, const std::string& line)
{
    DWORD written = 0;
    WriteFile(reinterpret_cast<HANDLE>(_get_osfhandle(fd)), line.data(), static_cast<DWORD>(line.size()), &written,
              nullptr);
}

void CloseLog(int fd)
{
    _close(fd);
}

std::string LogTimeStamp()
{
    SYSTEMTIME t;
    GetLocalTime(&t);
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                  t.wSecond, t.wMilliseconds);
    return buf;
}

const char* PathSeparators()
{
    return "\\/";
}
