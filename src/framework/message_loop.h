#pragma once
// The message loop of the main thread: the application object, the main-thread check,
// processing pending messages (timers, the synchronisation queue and, in the window
// tool, window events) with and without waiting, and the warning channel.
#include <memory>
#include <string>

// One per program, created on the main thread before any timer or port; the thread that
// creates it is the main thread. Under a window toolkit's own application object it
// adds nothing.
class TApplication {
public:
    TApplication(int& argc, char** argv);
    ~TApplication();
    TApplication(const TApplication&) = delete;
    TApplication& operator=(const TApplication&) = delete;

private:
    struct TImpl;
    std::unique_ptr<TImpl> FImpl;
};

// True on the main thread while an application object exists.
bool IsMainThread();

// Handles what is pending once: the synchronisation queue, then due timers and events.
void ProcessMessages();
// Sleeps until something arrives (a timer falls due, a synchronisation request, a window
// event), then handles what is pending; with nothing to come it may sleep for ever. May
// also return early: callers loop on their own condition.
void WaitAndProcessMessages();

// Makes a main thread that waits in WaitAndProcessMessages look at the synchronisation
// queue soon; any thread may call it.
void WakeMainThread();

// A diagnostic line for the developer (Qt's message handler, or standard error).
void Warn(const std::string& text);
