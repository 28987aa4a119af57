// The message loop on Windows: the thread's window messages, the framework's timers and the
// synchronisation queue, with one wait (MsgWaitForMultipleObjectsEx) that ends at the nearest
// timer's expiry, a window message or a wake-up posted to the thread.
#include "framework/message_loop.h"
#include "framework/message_loop_win32.h"

#include <atomic>
#include <cstdio>
#include <thread>

#include "framework/syncqueue.h"
#include "framework/timers_native.h"

namespace {

std::atomic<DWORD> MainThreadId{0};
TMessageFilter Filter = nullptr;
bool Quit = false;
int QuitCode = 0;

// Without a timer the wait still ends now and then; callers loop on their own condition.
constexpr DWORD IdleWaitMs = 1000;

void DispatchPending()
{
    MSG msg;
    while (!Quit && ::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            Quit = true;
            QuitCode = int(msg.wParam);
            break;
        }
        if (Filter && Filter(msg))
            continue;
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
}

DWORD WaitMs()
{
    const auto expiry = nativeloop::NearestTimerExpiry();
    if (!expiry)
        return IdleWaitMs;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*expiry - nativeloop::TClock::now()).count();
    return left <= 0 ? 0 : DWORD(std::min<long long>(left, IdleWaitMs));
}

} // namespace

struct TApplication::TImpl {
    DWORD Previous = 0;
};

TApplication::TApplication(int& /*argc*/, char** /*argv*/) : FImpl(std::make_unique<TImpl>())
{
    // The thread's message queue exists from here on, so a wake-up posted to it is kept.
    MSG msg;
    ::PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    FImpl->Previous = MainThreadId.exchange(::GetCurrentThreadId());
}

TApplication::~TApplication()
{
    MainThreadId.store(FImpl->Previous);
}

bool IsMainThread()
{
    const DWORD main = MainThreadId.load();
    return main != 0 && main == ::GetCurrentThreadId();
}

void ProcessMessages()
{
    ServiceSyncQueue();
    DispatchPending();
    nativeloop::FireDueTimers();
}

void WaitAndProcessMessages()
{
    ServiceSyncQueue();
    if (!Quit)
        ::MsgWaitForMultipleObjectsEx(0, nullptr, WaitMs(), QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    ServiceSyncQueue();
    DispatchPending();
    nativeloop::FireDueTimers();
}

void WakeMainThread()
{
    WakeSyncQueueWaiters();
    if (const DWORD main = MainThreadId.load())
        ::PostThreadMessageA(main, WM_NULL, 0, 0);
}

void Warn(const std::string& text)
{
    std::fprintf(stderr, "%s\n", text.c_str());
}

void SetMessageFilter(TMessageFilter filter)
{
    Filter = filter;
}

bool QuitRequested()
{
    return Quit;
}

int QuitExitCode()
{
    return QuitCode;
}
