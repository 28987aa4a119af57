#pragma once
// The user-interface thread's synchronisation queue: a worker thread hands it a
// callable and waits until the user-interface thread has run it. The message loop
// (message_loop.h) services the queue, and so does anyone who waits for a worker thread to
// finish (ServiceSyncQueue), so a waiting worker can never deadlock its own shutdown.
#include <chrono>
#include <functional>

// Runs fn on the user-interface thread and returns when it has run. An exception
// raised by fn is handed back and rethrown here. Called on the user-interface
// thread itself it simply runs fn.
void Synchronize(const std::function<void()>& fn);

// Runs every queued callable now; returns true when at least one ran. Call it on
// the user-interface thread only.
bool ServiceSyncQueue();

// Sleeps until a callable is queued, WakeSyncQueueWaiters() is called or timeoutMs
// passes, whichever comes first.
void WaitForSyncQueue(int timeoutMs);
void WaitForSyncQueueUntil(std::chrono::steady_clock::time_point deadline);
void WakeSyncQueueWaiters();
