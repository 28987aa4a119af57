#pragma once
// Between the native timers and the native message loop: the calling thread's running
// timers, their nearest expiry and their firing.
#include <chrono>
#include <optional>

namespace nativeloop {

using TClock = std::chrono::steady_clock;

// The nearest expiry of a running timer of the calling thread; none when it has none.
std::optional<TClock::time_point> NearestTimerExpiry();

// Fires every timer of the calling thread that is due; returns how many fired.
int FireDueTimers();

} // namespace nativeloop
