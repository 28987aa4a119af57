#include "framework/syncqueue.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>

#include "framework/message_loop.h"

namespace {

struct TSyncItem {
    std::function<void()> Fn;
    std::exception_ptr Error;
    bool Done = false;
};

std::mutex Lock;
std::condition_variable Changed; // an item was queued or finished, or a wake-up
std::deque<std::shared_ptr<TSyncItem>> Queue;
uint64_t WakeCount = 0;

} // namespace

void Synchronize(const std::function<void()>& fn)
{
    if (IsMainThread()) {
        fn();
        return;
    }
    auto item = std::make_shared<TSyncItem>();
    item->Fn = fn;
    {
        std::lock_guard<std::mutex> g(Lock);
        Queue.push_back(item);
        ++WakeCount;
    }
    Changed.notify_all();
    WakeMainThread();
    std::unique_lock<std::mutex> g(Lock);
    Changed.wait(g, [&] { return item->Done; });
    if (item->Error)
        std::rethrow_exception(item->Error);
}

bool ServiceSyncQueue()
{
    bool ran = false;
    for (;;) {
        std::shared_ptr<TSyncItem> item;
        {
            std::lock_guard<std::mutex> g(Lock);
            if (Queue.empty())
                break;
            item = Queue.front();
            Queue.pop_front();
        }
        // The caller's event loop must never see an exception: hand it back to
        // the thread that asked.
        try {
            item->Fn();
        } catch (...) {
            item->Error = std::current_exception();
        }
        {
            std::lock_guard<std::mutex> g(Lock);
            item->Done = true;
        }
        Changed.notify_all();
        ran = true;
    }
    return ran;
}

void WaitForSyncQueue(int timeoutMs)
{
    WaitForSyncQueueUntil(std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs));
}

void WaitForSyncQueueUntil(std::chrono::steady_clock::time_point deadline)
{
    std::unique_lock<std::mutex> g(Lock);
    if (!Queue.empty())
        return;
    const uint64_t seen = WakeCount;
    Changed.wait_until(g, deadline, [&] { return !Queue.empty() || WakeCount != seen; });
}

void WakeSyncQueueWaiters()
{
    {
        std::lock_guard<std::mutex> g(Lock);
        ++WakeCount;
    }
    Changed.notify_all();
}
