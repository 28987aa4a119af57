// Sharing for reading only keeps a second writer out, as the POSIX side's flock does.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "logging_file.h"
#include "win32_error.h"

TLogOpen OpenLogForAppend(const std::string& fileName, bool createNew)
{
    TLogOpen r;
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
