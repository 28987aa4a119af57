// The report's ties to Windows: the computer's name, local time with its offset, and the
// report file appended one whole line at a time.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cerrno>

#include "app/flash_cli/report.h"
#include "app/flash_cli/report_os.h"
#include "framework/exceptions.h"
#include "framework/file_input.h"
#include "framework/win32_error.h"

namespace {

HANDLE HandleOf(int fd)
{
    return reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

OVERLAPPED At(LONGLONG offset)
{
    OVERLAPPED o{};
    o.Offset = static_cast<DWORD>(offset);
    o.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return o;
}

// Writers of the report take turns: the lock is on one byte far past any record, because a
// lock on the records themselves would refuse their readers.
class TAppendTurn {
public:
    explicit TAppendTurn(HANDLE h) : H(h), Where(At(0x7FFFFFFFFFFFFFFELL))
    {
        Held = LockFileEx(H, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &Where) != 0;
    }
    ~TAppendTurn()
    {
        if (Held)
            UnlockFileEx(H, 0, 1, 0, &Where);
    }

private:
    HANDLE H;
    OVERLAPPED Where;
    bool Held;
};

} // namespace

std::string HostName()
{
    char name[256] = {};
    DWORD size = sizeof name;
    if (!GetComputerNameExA(ComputerNameDnsHostname, name, &size))
        return std::string();
    return std::string(name, size);
}

long LocalTime(time_t seconds, tm& local)
{
    localtime_s(&local, &seconds);
    tm copy = local;
    return static_cast<long>((_mkgmtime(&copy) - seconds) / 60);
}

// A pipe keeps one WriteFile of a line in one piece.
ssize_t WriteInOne(int fd, const std::string& text)
{
    DWORD written = 0;
    if (!WriteFile(HandleOf(fd), text.data(), static_cast<DWORD>(text.size()), &written, nullptr)) {
        errno = EPIPE;
        return -1;
    }
    return static_cast<ssize_t>(written);
}

TReportFile::TReportFile(const std::string& path) : Path(path)
{
    const std::string cannot = "Cannot open report file " + path + " (";
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        throw EFileError(cannot + "it is a directory)");
    // Read to see whether the last line was left without its end, write to take a line back.
    const HANDLE h =
        CreateFileA(path.c_str(), FILE_READ_DATA | FILE_WRITE_DATA | FILE_APPEND_DATA | SYNCHRONIZE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        throw EFileError(cannot + Win32ErrorText(GetLastError()) + ")");
    if (GetFileType(h) != FILE_TYPE_DISK) {
        CloseHandle(h);
        throw EFileError(cannot + "it is a device, not a file)");
    }
    Fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_BINARY);
    if (Fd < 0) {
        CloseHandle(h);
        throw EFileError(cannot + "no descriptor left)");
    }
}

TReportFile::~TReportFile()
{
    if (Fd >= 0)
        _close(Fd);
}

void TReportFile::Append(const TJson& record)
{
    std::string line = record.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    const HANDLE h = HandleOf(Fd);
    TAppendTurn turn(h);
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(h, &size))
        throw EFileError("Cannot write report file " + Path + " (" + Win32ErrorText(GetLastError()) + ")");
    // A fragment someone left (a writer that died mid-line) is never continued.
    char last = '\n';
    DWORD got = 0;
    OVERLAPPED lastByte = At(size.QuadPart - 1);
    if (size.QuadPart > 0 && ReadFile(h, &last, 1, &got, &lastByte) && got == 1 && last != '\n')
        line.insert(0, "\n");
    DWORD written = 0;
    OVERLAPPED end = At(size.QuadPart);
    const bool ok = WriteFile(h, line.data(), static_cast<DWORD>(line.size()), &written, &end);
    const DWORD err = GetLastError();
    if (!ok || written != line.size()) {
        // A line is whole or absent: what a full disk let through is taken back.
        if (written > 0 && SetFilePointerEx(h, size, nullptr, FILE_BEGIN))
            SetEndOfFile(h);
        throw EFileError("Cannot write report file " + Path + " (" +
                         (ok ? std::string("the disk is full") : Win32ErrorText(err)) + ")");
    }
    // The record must survive a power cut right after the unit leaves the fixture.
    FlushFileBuffers(h);
}
