#include "job/output_file.h"

#include <windows.h>

#include <algorithm>

#include "framework/exceptions.h"
#include "framework/win32_error.h"

namespace job {

const char* const DefaultTemplateName = "moravent-flash.exe";

// Windows has no modes: a program is runnable by its name alone.
void WriteAtomically(const std::string& out, const std::string& bytes, bool)
{
    const std::string tmp = out + ".partial-" + std::to_string(GetCurrentProcessId());
    const HANDLE h = CreateFileA(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        throw Exception(out + ": cannot create a temporary file beside it: " + Win32ErrorText(GetLastError()));
    auto abandon = [&](const std::string& what) {
        const DWORD e = GetLastError();
        CloseHandle(h);
        DeleteFileA(tmp.c_str());
        throw Exception(out + ": " + what + ": " + Win32ErrorText(e));
    };
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        const DWORD chunk = DWORD(std::min<size_t>(bytes.size() - done, 1u << 30));
        if (!WriteFile(h, bytes.data() + done, chunk, &written, nullptr) || written == 0)
            abandon("cannot write");
        done += written;
    }
    if (!FlushFileBuffers(h))
        abandon("cannot write");
    CloseHandle(h);
    if (!MoveFileExA(tmp.c_str(), out.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD e = GetLastError();
        DeleteFileA(tmp.c_str());
        throw Exception(out + ": cannot put it in place: " + Win32ErrorText(e));
    }
}

void RemoveFile(const std::string& path)
{
    DeleteFileA(path.c_str());
}

} // namespace job
