// The message loop without a toolkit: the main thread's timers and the synchronisation
// queue, serviced by one wait on the queue's condition variable that ends at the nearest
// timer's expiry, a queued request or a wake-up.
#include "framework/message_loop.h"

#include <atomic>
#include <cstdio>
#include <thread>

#include "framework/syncqueue.h"
#include "framework/timers_native.h"

namespace {

std::atomic<std::thread::id> MainThread{std::thread::id()};

// Without a timer the wait still ends now and then; callers loop on their own condition.
constexpr auto IdleWait = std::chrono::seconds(1);

} // namespace

struct TApplication::TImpl {
    std::thread::id Previous;
};

TApplication::TApplication(int& /*argc*/, char** /*argv*/) : FImpl(std::make_unique<TImpl>())
{
    FImpl->Previous = MainThread.exchange(std::this_thread::get_id());
}

TApplication::~TApplication()
{
    MainThread.store(FImpl->Previous);
}

bool IsMainThread()
{
    const std::thread::id main = MainThread.load();
    return main != std::thread::id() && main == std::this_thread::get_id();
}

void ProcessMessages()
{
    ServiceSyncQueue();
    nativeloop::FireDueTimers();
}

void WaitAndProcessMessages()
{
    ServiceSyncQueue();
    const auto expiry = nativeloop::NearestTimerExpiry();
    WaitForSyncQueueUntil(expiry ? *expiry : nativeloop::TClock::now() + IdleWait);
    ServiceSyncQueue();
    nativeloop::FireDueTimers();
}

void WakeMainThread()
{
    WakeSyncQueueWaiters();
}

void Warn(const std::string& text)
{
    std::fprintf(stderr, "%s\n", text.c_str());
}
