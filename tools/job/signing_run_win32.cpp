// osslsigncode.exe started with CreateProcess, its password in a temporary file in the user's
// own temporary folder.
#include <windows.h>

#include <cstring>

#include "framework/win32_command_line.h"
#include "framework/win32_error.h"
#include "job/job.h"
#include "job/signing_run.h"

namespace job {

PasswordFile::PasswordFile(const char* password)
{
    if (!password)
        return;
    char dir[MAX_PATH + 1], path[MAX_PATH + 1];
    const DWORD n = GetTempPathA(sizeof dir, dir);
    if (n == 0 || n > MAX_PATH || GetTempFileNameA(dir, "mvs", 0, path) == 0)
        throw JobError("cannot hand the key's password to osslsigncode: " + Win32ErrorText(GetLastError()));
    Path = path;
    const HANDLE h = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr);
    DWORD written = 0;
    const DWORD size = DWORD(std::strlen(password));
    const bool ok = h != INVALID_HANDLE_VALUE && WriteFile(h, password, size, &written, nullptr) && written == size;
    if (h != INVALID_HANDLE_VALUE)
        CloseHandle(h);
    if (!ok) {
        DeleteFileA(path);
        throw JobError("cannot hand the key's password to osslsigncode");
    }
}

PasswordFile::~PasswordFile()
{
    if (!Path.empty())
        DeleteFileA(Path.c_str());
}

int RunSigner(const std::vector<std::string>& args, std::string& output)
{
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE read = nullptr, write = nullptr;
    if (!CreatePipe(&read, &write, &inherit, 0))
        throw JobError("cannot start osslsigncode: " + Win32ErrorText(GetLastError()));
    SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = write;
    si.hStdError = write;
    PROCESS_INFORMATION pi{};
    std::string line = Win32CommandLine(args);
    const BOOL started =
        CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi);
    const DWORD error = GetLastError();
    CloseHandle(write);
    if (!started) {
        CloseHandle(read);
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            throw JobError("signing needs osslsigncode.exe, which is not on the PATH");
        throw JobError("cannot start osslsigncode: " + Win32ErrorText(error));
    }
    char buf[4096];
    for (DWORD n = 0; ReadFile(read, buf, sizeof buf, &n, nullptr) && n > 0;)
        output.append(buf, n);
    CloseHandle(read);
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 128;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return int(code);
}

} // namespace job
