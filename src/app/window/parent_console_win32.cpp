#include "app/window/parent_console.h"

#include <windows.h>

#include <cstdio>

namespace {

bool Usable(DWORD which)
{
    const HANDLE h = GetStdHandle(which);
    return h != nullptr && h != INVALID_HANDLE_VALUE;
}

} // namespace

// Standard handles given by the starter (a redirection, Wine) are kept; a GUI program started
// from a command prompt has none and borrows the prompt's console.
void UseParentConsole()
{
    if ((Usable(STD_OUTPUT_HANDLE) && Usable(STD_ERROR_HANDLE)) || !AttachConsole(ATTACH_PARENT_PROCESS))
        return;
    if (!Usable(STD_OUTPUT_HANDLE))
        std::freopen("CONOUT$", "w", stdout);
    if (!Usable(STD_ERROR_HANDLE))
        std::freopen("CONOUT$", "w", stderr);
}
