#pragma once
// A timer component firing on the thread that created it, while that thread processes
// messages (message_loop.h): periodic by default, or single-shot. Start, stop and free it on
// that thread only.
#include <functional>
#include <memory>

#include "framework/component.h"

class TTimer : public TComponent {
public:
    explicit TTimer(TComponent* owner = nullptr);
    ~TTimer() override;

    // Runs at each expiry. An exception escaping it goes to the warning channel: the
    // message loop never sees one.
    std::function<void()> OnTimer;

    int Interval() const { return FInterval; }
    // Milliseconds; a running timer starts again with the new interval.
    void SetInterval(int ms);
    bool SingleShot() const { return FSingleShot; }
    void SetSingleShot(bool v) { FSingleShot = v; }
    // Precise timers keep to the millisecond; others may be late by a few percent, which
    // lets the system gather wake-ups.
    bool Precise() const { return FPrecise; }
    void SetPrecise(bool v) { FPrecise = v; }

    // (Re)starts the interval from now.
    void Start();
    void Stop();
    bool Enabled() const;

    struct TImpl; // the build's timer backend

private:
    friend struct TImpl;
    void Fire();
    int FInterval = 0;
    bool FSingleShot = false;
    bool FPrecise = false;
    std::unique_ptr<TImpl> FImpl;
};
