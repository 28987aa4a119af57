// The POSIX backend's wait for port events.
#include <asm/ioctls.h>
#include <asm/termios.h> // TIOCM_* (pulls in termbits)
#include <linux/serial.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>

#include "serial/serial_deadline.h"
#include "serial/serial_posix_ioctl.h"

namespace {

class TPosixEventWait : public TSerialEventWait {
public:
    TPosixEventWait(int fd, uint32_t mask) : FFd(fd), FFullMask(mask)
    {
        FEpoll = epoll_create1(EPOLL_CLOEXEC);
        FStopFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (FEpoll >= 0 && FStopFd >= 0) {
            epoll_event ev{};
            ev.events = EPOLLIN;
            ev.data.fd = FStopFd;
            epoll_ctl(FEpoll, EPOLL_CTL_ADD, FStopFd, &ev);
        }
        // Line states and error counters have no change notification that fits in
        // the epoll set, so they are sampled where the driver reports them at all.
        if (mask & (emCTS | emDSR | emRLSD | emRing))
            FModemSupported = Ioctl(FFd, TIOCMGET, &FModem) == 0;
        if (mask & (emErr | emBreak))
            FCountsSupported = Ioctl(FFd, TIOCGICOUNT, &FCounts) == 0;
        SetMask(mask);
    }

    ~TPosixEventWait() override
    {
        if (FEpoll >= 0)
            close(FEpoll);
        if (FStopFd >= 0)
            close(FStopFd);
    }

    void SetMask(uint32_t mask) override
    {
        mask &= FFullMask;
        if (mask == FMask && FMaskSet)
            return;
        FMaskSet = true;
        FMask = mask;
        if (FEpoll >= 0 && !FDeviceGone) {
            // Edge-triggered: one wake-up per arrival, even while earlier bytes
            // are deliberately left unread for the reader.
            epoll_event ev{};
            ev.events = EPOLLIN | EPOLLET;
            if (mask & emTxEmpty)
                ev.events |= EPOLLOUT;
            ev.data.fd = FFd;
            const bool watch = (mask & (emRxChar | emTxEmpty | emErr)) != 0;
            if (watch)
                FWatchingDevice = epoll_ctl(FEpoll, FWatchingDevice ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, FFd, &ev) == 0;
            else if (FWatchingDevice)
                FWatchingDevice = epoll_ctl(FEpoll, EPOLL_CTL_DEL, FFd, nullptr) != 0;
        }
        const bool modem = FModemSupported && (mask & (emCTS | emDSR | emRLSD | emRing));
        const bool counts = FCountsSupported && (mask & (emErr | emBreak));
        // Sampling starts from the present state, so nothing from before counts as a change.
        if (modem && !FSampleModem)
            Ioctl(FFd, TIOCMGET, &FModem);
        if (counts && !FSampleCounts)
            Ioctl(FFd, TIOCGICOUNT, &FCounts);
        FSampleModem = modem;
        FSampleCounts = counts;
    }

    bool Wait(uint32_t& events) override
    {
        events = 0;
        if (FEpoll < 0 || FStopFd < 0) {
            // Without an epoll set there is nothing to wait on; sleep until stopped.
            while (!FStop.load())
                poll(nullptr, 0, 50);
            return false;
        }
        for (;;) {
            epoll_event evs[4];
            const int timeout = (FSampleModem || FSampleCounts) ? SampleIntervalMs : FMask == 0 ? IdleRecheckMs : -1;
            int n = epoll_wait(FEpoll, evs, 4, timeout);
            if (FStop.load())
                return false;
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                poll(nullptr, 0, 50); // unexpected failure: do not spin
                continue;
            }
            uint32_t found = 0;
            for (int i = 0; i < n; ++i) {
                if (evs[i].data.fd != FFd)
                    continue;
                const uint32_t e = evs[i].events;
                if (e & (EPOLLHUP | EPOLLERR)) {
                    // The device is gone: report it once, then stop watching it so a
                    // hung-up descriptor cannot make the loop spin.
                    found |= emErr | emRxChar;
                    epoll_ctl(FEpoll, EPOLL_CTL_DEL, FFd, nullptr);
                    FWatchingDevice = false;
                    FDeviceGone = true;
                    FSampleModem = FSampleCounts = false;
                    FModemSupported = FCountsSupported = false;
                }
                if (e & EPOLLIN)
                    found |= emRxChar;
                if (e & EPOLLOUT) {
                    int queued = 0;
                    if (Ioctl(FFd, TIOCOUTQ, &queued) == 0 && queued == 0)
                        found |= emTxEmpty;
                }
            }
            found |= Sample();
            events = found & FMask;
            // With nothing to wait for, return now and then so the caller can widen the mask.
            if (events || FMask == 0)
                return true;
        }
    }

    void Stop() override
    {
        FStop.store(true);
        if (FStopFd >= 0) {
            uint64_t one = 1;
            ssize_t r = write(FStopFd, &one, sizeof one);
            (void)r;
        }
    }

private:
    static constexpr int SampleIntervalMs = 100;
    static constexpr int IdleRecheckMs = 100;

    uint32_t Sample()
    {
        uint32_t found = 0;
        if (FSampleModem) {
            int now = 0;
            if (Ioctl(FFd, TIOCMGET, &now) != 0) {
                FSampleModem = false;
            } else {
                const int changed = now ^ FModem;
                FModem = now;
                if (changed & TIOCM_CTS)
                    found |= emCTS;
                if (changed & TIOCM_DSR)
                    found |= emDSR;
                if (changed & TIOCM_CAR)
                    found |= emRLSD;
                if ((changed & TIOCM_RNG) && !(now & TIOCM_RNG))
                    found |= emRing;
            }
        }
        if (FSampleCounts) {
            serial_icounter_struct now{};
            if (Ioctl(FFd, TIOCGICOUNT, &now) != 0) {
                FSampleCounts = false;
            } else {
                if (now.frame != FCounts.frame || now.parity != FCounts.parity || now.overrun != FCounts.overrun ||
                    now.buf_overrun != FCounts.buf_overrun)
                    found |= emErr;
                if (now.brk != FCounts.brk)
                    found |= emBreak;
                FCounts = now;
            }
        }
        return found;
    }

    int FFd;
    const uint32_t FFullMask; // the port's Events
    uint32_t FMask = 0;       // the part of them someone handles
    bool FMaskSet = false;
    int FEpoll = -1;
    int FStopFd = -1;
    bool FWatchingDevice = false;
    bool FDeviceGone = false;
    bool FModemSupported = false;
    bool FCountsSupported = false;
    bool FSampleModem = false;
    bool FSampleCounts = false;
    int FModem = 0;
    serial_icounter_struct FCounts{};
    std::atomic<bool> FStop{false};
};

} // namespace

std::unique_ptr<TSerialEventWait> CreatePosixEventWait(int fd, uint32_t mask)
{
    return std::make_unique<TPosixEventWait>(fd, mask);
}
