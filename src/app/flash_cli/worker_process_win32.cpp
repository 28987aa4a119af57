// Station workers on Windows: this program started again with CreateProcess, without a
// console, with pipes for its messages and its standard error, and one on its standard input
// that carries the station's stop requests (Windows has no signals between processes). All
// workers sit in one job object that is closed with the station, so a station that dies
// takes its workers with it.
#include "app/flash_cli/worker_process.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <thread>

#include "framework/cmdline.h"
#include "framework/exceptions.h"
#include "framework/file_input.h"
#include "framework/win32_command_line.h"
#include "framework/win32_error.h"

namespace {

// The environment variable a worker finds its message pipe's handle in.
const char MessagePipeVariable[] = "MORAVENT_WORKER_PIPE";

// What only this file needs of a running child, by process id.
struct TWinChild {
    HANDLE Process = nullptr;
    HANDLE Control = nullptr; // write end of the child's standard input
};
std::map<int, TWinChild> Children;

HANDLE HandleOf(int fd)
{
    return reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

[[noreturn]] void Fail(const std::string& what, DWORD error)
{
    throw Exception(what + " (" + Win32ErrorText(error) + ")");
}

// Closed when the station ends in any way; the system then ends every worker in it.
HANDLE WorkerJob()
{
    static HANDLE job = [] {
        HANDLE j = CreateJobObjectA(nullptr, nullptr);
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (j)
            SetInformationJobObject(j, JobObjectExtendedLimitInformation, &limits, sizeof limits);
        return j;
    }();
    return job;
}

struct TPipe {
    HANDLE Read = nullptr, Write = nullptr;
};

// Both ends private to this process; the child's end is made inheritable just for the start.
TPipe MakePipe()
{
    TPipe p;
    if (!CreatePipe(&p.Read, &p.Write, nullptr, 0))
        Fail("Cannot make a pipe for a worker", GetLastError());
    return p;
}

void CloseHandles(std::initializer_list<HANDLE> handles)
{
    for (HANDLE h : handles)
        if (h && h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
}

// The station is single-threaded: while one child starts, only its own ends are inheritable.
PROCESS_INFORMATION Launch(const std::string& program, const std::string& commandLine, HANDLE in, HANDLE err,
                           HANDLE message)
{
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE null = CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0,
                              nullptr);
    for (HANDLE h : {in, err, message})
        SetHandleInformation(h, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    SetEnvironmentVariableA(MessagePipeVariable, std::to_string(reinterpret_cast<uintptr_t>(message)).c_str());
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = in;
    si.hStdOutput = null;
    si.hStdError = err;
    PROCESS_INFORMATION pi{};
    std::string line = commandLine;
    const BOOL started = CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, TRUE,
                                        CREATE_SUSPENDED | DETACHED_PROCESS, nullptr, nullptr, &si, &pi);
    const DWORD error = GetLastError();
    SetEnvironmentVariableA(MessagePipeVariable, nullptr);
    CloseHandles({null});
    if (!started)
        Fail("Cannot start a worker", error);
    return pi;
}

int FdOf(HANDLE h, int flags)
{
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), flags | _O_BINARY);
    if (fd < 0)
        CloseHandle(h);
    return fd;
}

} // namespace

TSharedBytes::TSharedBytes(const std::string& bytes)
{
    char dir[MAX_PATH + 1], path[MAX_PATH + 1];
    const DWORD n = GetTempPathA(sizeof dir, dir);
    if (n == 0 || n > MAX_PATH || GetTempFileNameA(dir, "mfj", 0, path) == 0)
        Fail("Cannot hand the job to the workers", GetLastError());
    FPath = path;
    // Readers may share it; no other writer may while the station runs.
    HANDLE h = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY,
                           nullptr);
    DWORD written = 0;
    if (h == INVALID_HANDLE_VALUE || !WriteFile(h, bytes.data(), DWORD(bytes.size()), &written, nullptr) ||
        written != bytes.size()) {
        const DWORD error = GetLastError();
        CloseHandles({h});
        DeleteFileA(path);
        Fail("Cannot hand the job to the workers", error);
    }
    FFd = FdOf(h, _O_WRONLY);
}

TSharedBytes::~TSharedBytes()
{
    if (FFd >= 0)
        _close(FFd);
    DeleteFileA(FPath.c_str());
}

std::string TSharedBytes::ChildPath() const
{
    return FPath;
}

TChild StartChild(const std::string& program, const std::vector<std::string>& args, const TSharedBytes*)
{
    const std::string commandLine = Win32CommandLine(args);
    const TPipe message = MakePipe();
    TPipe error{}, control{};
    try {
        error = MakePipe();
        control = MakePipe();
    } catch (...) {
        CloseHandles({message.Read, message.Write, error.Read, error.Write});
        throw;
    }
    PROCESS_INFORMATION pi{};
    try {
        pi = Launch(program, commandLine, control.Read, error.Write, message.Write);
    } catch (...) {
        CloseHandles({message.Read, message.Write, error.Read, error.Write, control.Read, control.Write});
        throw;
    }
    CloseHandles({message.Write, error.Write, control.Read});
    // Where job objects are missing the worker still runs; only the station's death goes unheard.
    AssignProcessToJobObject(WorkerJob(), pi.hProcess);
    ResumeThread(pi.hThread);
    CloseHandle(pi.hThread);
    const int pid = int(pi.dwProcessId);
    Children[pid] = TWinChild{pi.hProcess, control.Write};
    return TChild{pid, FdOf(message.Read, _O_RDONLY), FdOf(error.Read, _O_RDONLY)};
}

std::string SelfForChildren()
{
    return OwnExecutablePath();
}

void SignalChild(const TChild& child, int)
{
    const auto c = Children.find(child.Pid);
    DWORD written = 0;
    if (child.Pid > 0 && c != Children.end())
        WriteFile(c->second.Control, "\x03", 1, &written, nullptr);
}

std::string WaitChild(TChild& child)
{
    const auto c = Children.find(child.Pid);
    child.Pid = -1;
    if (c == Children.end())
        return std::string();
    const TWinChild win = c->second;
    Children.erase(c);
    DWORD code = 0;
    const bool known = WaitForSingleObject(win.Process, INFINITE) == WAIT_OBJECT_0 &&
                       GetExitCodeProcess(win.Process, &code);
    const DWORD error = GetLastError();
    CloseHandles({win.Process, win.Control});
    if (!known)
        return "worker lost (" + Win32ErrorText(error) + ")";
    if (code >= 0xC0000000u) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%08lX", static_cast<unsigned long>(code));
        return std::string("worker ended by exception ") + hex;
    }
    return code == 0 ? std::string() : "worker ended with exit status " + std::to_string(code);
}

// Anonymous pipes cannot be waited on: look at each in turn until one has something or ended.
void WaitForInput(const std::vector<int>& fds, int timeoutMs, std::vector<bool>& ready)
{
    ready.assign(fds.size(), false);
    const int signals = StopSignalsReceived();
    const ULONGLONG end = GetTickCount64() + ULONGLONG(timeoutMs);
    for (;;) {
        bool any = false;
        for (size_t i = 0; i < fds.size(); ++i) {
            DWORD available = 0;
            if (fds[i] >= 0 && (!PeekNamedPipe(HandleOf(fds[i]), nullptr, 0, nullptr, &available, nullptr) ||
                                available > 0))
                any = ready[i] = true;
        }
        if (any || StopSignalsReceived() != signals || GetTickCount64() >= end)
            return;
        Sleep(5);
    }
}

bool ReadAvailable(int fd, std::string& into)
{
    const HANDLE h = HandleOf(fd);
    char buf[4096];
    for (;;) {
        DWORD available = 0, n = 0;
        if (!PeekNamedPipe(h, nullptr, 0, nullptr, &available, nullptr))
            return false; // the writer has gone and everything it wrote has been read
        if (available == 0)
            return true;
        if (!ReadFile(h, buf, available < sizeof buf ? available : DWORD(sizeof buf), &n, nullptr) || n == 0)
            return false;
        into.append(buf, n);
    }
}

void CloseFd(int& fd)
{
    if (fd >= 0)
        _close(fd);
    fd = -1;
}

// A write to a pipe whose reader has gone fails; nothing ends the process.
void IgnoreBrokenPipes() { }

int ChildMessageChannel()
{
    const char* value = std::getenv(MessagePipeVariable);
    if (!value || !*value)
        return -1;
    return _open_osfhandle(static_cast<intptr_t>(std::strtoull(value, nullptr, 10)), _O_WRONLY | _O_BINARY);
}

// Each byte on standard input is one stop request; its end (the station gone) is none.
void HearSupervisorStops()
{
    std::thread([] {
        const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
        char c;
        DWORD n = 0;
        while (ReadFile(in, &c, 1, &n, nullptr) && n == 1)
            RaiseStopSignal();
    }).detach();
}
