#pragma once
// What the Windows message loop offers the window backend besides message_loop.h: a filter
// that sees each window message before it is dispatched (dialog keys), and the quit request.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

// Returns true when it has handled msg (IsDialogMessage); null for none.
using TMessageFilter = bool (*)(MSG& msg);
void SetMessageFilter(TMessageFilter filter);

// True once WM_QUIT has been taken from the queue; the exit code it carried.
bool QuitRequested();
int QuitExitCode();
