#pragma once
// Failures from below the system's own exception family (an allocation, a thread start),
// injected where the serial layer asks for its devices.
#include <memory>
#include <new>
#include <system_error>

#include "serial/serial_platform.h"

// The system's own device, except that its first open throws what a failed thread start throws.
class TOpenFailsOnce : public TSerialDevice {
public:
    TOpenFailsOnce(bool& failed) : Failed(failed), Real(CreatePlatformSerialDevice()) { }
    int Open(const std::string& name) override
    {
        if (!Failed) {
            Failed = true;
            throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again),
                                    "thread start failed");
        }
        return Real->Open(name);
    }
    void Close() override { Real->Close(); }
    bool IsOpen() const override { return Real->IsOpen(); }
    int ApplyLineSettings(const TLineSettings& s) override { return Real->ApplyLineSettings(s); }
    int ApplyTimeouts(const TTimeoutSettings& t) override { return Real->ApplyTimeouts(t); }
    int ApplyBufferSizes(int32_t in, int32_t out) override { return Real->ApplyBufferSizes(in, out); }
    int Read(void* b, int32_t n, int32_t& done) override { return Real->Read(b, n, done); }
    int Write(const void* b, int32_t n, int32_t& done) override { return Real->Write(b, n, done); }
    int Purge(bool in, bool out) override { return Real->Purge(in, out); }
    int AbortPending() override { return Real->AbortPending(); }
    int Drain() override { return Real->Drain(); }
    int QueuedInput(int32_t& n) override { return Real->QueuedInput(n); }
    int ModemStatus(uint32_t& s) override { return Real->ModemStatus(s); }
    int ErrorFlags(uint32_t& f) override { return Real->ErrorFlags(f); }
    int SetLines(bool dtr, bool rts) override { return Real->SetLines(dtr, rts); }
    std::unique_ptr<TSerialEventWait> CreateEventWait(uint32_t mask) override { return Real->CreateEventWait(mask); }

private:
    bool& Failed;
    std::unique_ptr<TSerialDevice> Real;
};

// Replaces the device factory for a scope: failAt counts the devices asked for (from 1);
// that one throws std::bad_alloc. openFailsOnce: every device's first open of the process fails once.
class TInjectedFailureScope {
public:
    TInjectedFailureScope(int failAt, bool openFailsOnce)
    {
        SetSerialDeviceFactory([this, failAt, openFailsOnce]() -> std::unique_ptr<TSerialDevice> {
            if (++Created == failAt)
                throw std::bad_alloc();
            if (openFailsOnce)
                return std::make_unique<TOpenFailsOnce>(OpenFailed);
            return CreatePlatformSerialDevice();
        });
    }
    ~TInjectedFailureScope() { SetSerialDeviceFactory(nullptr); }
    TInjectedFailureScope(const TInjectedFailureScope&) = delete;
    TInjectedFailureScope& operator=(const TInjectedFailureScope&) = delete;

private:
    int Created = 0;
    bool OpenFailed = false;
};
