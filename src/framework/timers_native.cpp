// Timers without a toolkit: every timer is listed with the thread that created it and
// fired by that thread's message processing (message_loop_native.cpp).
#include "framework/timers.h"

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "framework/timers_native.h"

using nativeloop::TClock;

struct TTimer::TImpl {
    TTimer* Timer = nullptr;
    uint64_t Serial = 0; // tells a freed timer from a new one at the same address
    std::thread::id Thread = std::this_thread::get_id();
    bool Running = false;
    bool Firing = false; // a handler that processes messages is not re-entered by its own timer
    TClock::time_point Expiry;

    static bool Due(const TImpl& t, std::thread::id self, TClock::time_point now)
    {
        return t.Running && !t.Firing && t.Thread == self && t.Expiry <= now;
    }
    void Advance(TClock::time_point now);
    static void Fire(TTimer* timer) { timer->Fire(); }
};

namespace {

// Guards the list and the timers' state; handlers run outside it.
std::mutex Lock;
std::vector<TTimer::TImpl*> Timers;
uint64_t LastSerial = 0;

TTimer::TImpl* Find(TTimer::TImpl* impl, uint64_t serial)
{
    const auto it = std::find(Timers.begin(), Timers.end(), impl);
    return it != Timers.end() && (*it)->Serial == serial ? *it : nullptr;
}

} // namespace

void TTimer::TImpl::Advance(TClock::time_point now)
{
    if (Timer->FSingleShot) {
        Running = false;
        return;
    }
    // As a toolkit's timer does: keep the rhythm unless it fell a whole interval behind.
    const auto interval = std::chrono::milliseconds(std::max(Timer->FInterval, 1));
    Expiry += interval;
    if (Expiry < now)
        Expiry = now + interval;
}

TTimer::TTimer(TComponent* owner) : TComponent(owner), FImpl(std::make_unique<TImpl>())
{
    std::lock_guard<std::mutex> g(Lock);
    FImpl->Timer = this;
    FImpl->Serial = ++LastSerial;
    Timers.push_back(FImpl.get());
}

TTimer::~TTimer()
{
    std::lock_guard<std::mutex> g(Lock);
    std::erase(Timers, FImpl.get());
}

void TTimer::Start()
{
    std::lock_guard<std::mutex> g(Lock);
    FImpl->Expiry = TClock::now() + std::chrono::milliseconds(FInterval);
    FImpl->Running = true;
}

void TTimer::Stop()
{
    std::lock_guard<std::mutex> g(Lock);
    FImpl->Running = false;
}

bool TTimer::Enabled() const
{
    std::lock_guard<std::mutex> g(Lock);
    return FImpl->Running;
}

namespace nativeloop {

std::optional<TClock::time_point> NearestTimerExpiry()
{
    const std::thread::id self = std::this_thread::get_id();
    std::lock_guard<std::mutex> g(Lock);
    std::optional<TClock::time_point> nearest;
    for (const TTimer::TImpl* t : Timers)
        if (t->Running && !t->Firing && t->Thread == self && (!nearest || t->Expiry < *nearest))
            nearest = t->Expiry;
    return nearest;
}

int FireDueTimers()
{
    const std::thread::id self = std::this_thread::get_id();
    const TClock::time_point now = TClock::now();
    std::vector<std::pair<TTimer::TImpl*, uint64_t>> due;
    {
        std::lock_guard<std::mutex> g(Lock);
        for (TTimer::TImpl* t : Timers)
            if (TTimer::TImpl::Due(*t, self, now))
                due.emplace_back(t, t->Serial);
    }
    int fired = 0;
    for (const auto& [impl, serial] : due) {
        TTimer* timer;
        {
            // An earlier handler may have stopped, restarted or freed this one.
            std::lock_guard<std::mutex> g(Lock);
            TTimer::TImpl* t = Find(impl, serial);
            if (!t || !TTimer::TImpl::Due(*t, self, now))
                continue;
            t->Advance(now);
            t->Firing = true;
            timer = t->Timer;
        }
        TTimer::TImpl::Fire(timer);
        ++fired;
        std::lock_guard<std::mutex> g(Lock);
        if (TTimer::TImpl* t = Find(impl, serial))
            t->Firing = false;
    }
    return fired;
}

} // namespace nativeloop
