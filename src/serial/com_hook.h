#pragma once
// A notification hook of a port: an optional function (a std::function type) that the
// user-interface thread may assign while the event thread tests or fires it. The function
// is swapped under a lock and fired from a snapshot, so a call in progress finishes with
// the function it started with, and the one replaced is released outside the lock.
#include <memory>
#include <mutex>
#include <utility>

template <class Function> class TComHook {
public:
    TComHook() = default;
    TComHook(const TComHook&) = delete;
    TComHook& operator=(const TComHook&) = delete;

    TComHook& operator=(Function fn)
    {
        std::shared_ptr<const Function> next = fn ? std::make_shared<const Function>(std::move(fn)) : nullptr;
        std::lock_guard<std::mutex> lock(FLock);
        FFunction.swap(next);
        return *this;
    }

    explicit operator bool() const { return Snapshot() != nullptr; }

    // Does nothing while unassigned.
    template <class... Args> void operator()(Args&&... args) const
    {
        if (const std::shared_ptr<const Function> fn = Snapshot())
            (*fn)(std::forward<Args>(args)...);
    }

private:
    std::shared_ptr<const Function> Snapshot() const
    {
        std::lock_guard<std::mutex> lock(FLock);
        return FFunction;
    }

    mutable std::mutex FLock;
    std::shared_ptr<const Function> FFunction;
};
