// POSIX (Linux) serial backend. termios2 is used throughout so that every bit rate
// can be set exactly; glibc's <termios.h> cannot be mixed with it, so this file
// talks to the tty through ioctl only.
#include <asm/ioctls.h>
#include <asm/termios.h> // termios2, TIOCM_* (pulls in termbits)
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <optional>

#include "serial/line_time.h"
#include "serial/serial_deadline.h"
#include "serial/serial_platform.h"
#include "serial/serial_posix_ioctl.h"

int PortFaultCode(TPortFault fault)
{
    return fault == TPortFault::TimedOut ? ETIMEDOUT : EINVAL;
}

namespace {

bool NotSupported(int err)
{
    return err == ENOTTY || err == EINVAL;
}

uint32_t AsUnsigned(int32_t v)
{
    return uint32_t(v);
}

// Waits for the fd to become ready for `events` until the deadline; returns the
// poll revents, 0 on time-out, or -errno.
int WaitReady(int fd, short events, const TDeadline& deadline)
{
    for (;;) {
        pollfd p{fd, events, 0};
        timespec ts{};
        const timespec* tp = nullptr;
        if (!deadline.Infinite()) {
            int64_t ns = deadline.RemainingNs();
            if (ns <= 0)
                return 0;
            ts.tv_sec = time_t(ns / 1000000000);
            ts.tv_nsec = long(ns % 1000000000);
            tp = &ts;
        }
        int r = ppoll(&p, 1, tp, nullptr);
        if (r > 0)
            return p.revents;
        if (r == 0)
            return 0;
        if (errno != EINTR)
            return -errno;
    }
}

class TPosixSerialDevice : public TSerialDevice {
public:
    ~TPosixSerialDevice() override { Close(); }

    int Open(const std::string& portName) override
    {
        if (FFd >= 0)
            return EBUSY;
        const std::string path = SerialDevicePath(portName);
        if (path.empty())
            return ENOENT;
        int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return errno;
        termios2 t{};
        if (int err = Ioctl(fd, TCGETS2, &t); err != 0) {
            close(fd);
            return err; // not a terminal device
        }
        // TIOCEXCL keeps other processes out, but not root; flock stops root too.
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            int err = errno;
            close(fd);
            return (err == EWOULDBLOCK) ? EBUSY : err;
        }
        Ioctl(fd, TIOCEXCL, nullptr);
        FFd = fd;
        FRaisedLowLatency = SetLowLatency(true);
        FCounts = {};
        FHaveCounts = Ioctl(FFd, TIOCGICOUNT, &FCounts) == 0;
        return 0;
    }

    void Close() override
    {
        if (FFd < 0)
            return;
        // The flag outlives the descriptor: the adapter is left as it was found.
        if (FRaisedLowLatency)
            SetLowLatency(false);
        FRaisedLowLatency = false;
        // The exclusive flag outlives the descriptor on a tty whose other side
        // stays open (a pseudo-terminal); clear it so the device can be reopened.
        Ioctl(FFd, TIOCNXCL, nullptr);
        close(FFd);
        FFd = -1;
    }

    bool IsOpen() const override { return FFd >= 0; }

    int ApplyLineSettings(const TLineSettings& s) override
    {
        if (FFd < 0)
            return EBADF;
        if (s.BaudRate == 0 || s.BaudRate > 0x7FFFFFFF)
            return EINVAL; // 0 would hang up the line
        termios2 t{};
        if (int err = Ioctl(FFd, TCGETS2, &t); err != 0)
            return err;

        t.c_iflag &= ~tcflag_t(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY |
                               INPCK | IGNPAR | IUCLC | IMAXBEL);
        t.c_oflag &= ~tcflag_t(OPOST);
        t.c_lflag &= ~tcflag_t(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
        t.c_cflag &= ~tcflag_t(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | HUPCL);
        t.c_cflag |= CREAD | CLOCAL;
        switch (s.ByteSize) {
        case 5: t.c_cflag |= CS5; break;
        case 6: t.c_cflag |= CS6; break;
        case 7: t.c_cflag |= CS7; break;
        case 8: t.c_cflag |= CS8; break;
        default: return EINVAL;
        }
        switch (s.Parity) {
        case prNone: break;
        case prOdd: t.c_cflag |= PARENB | PARODD; break;
        case prEven: t.c_cflag |= PARENB; break;
        case prMark: t.c_cflag |= PARENB | CMSPAR | PARODD; break;
        case prSpace: t.c_cflag |= PARENB | CMSPAR; break;
        default: return EINVAL;
        }
        if (s.Flags & lsParityCheck)
            t.c_iflag |= INPCK;
        // One and a half stop bits is what the UART sends for CSTOPB with 5 data bits.
        if (s.StopBits > 2)
            return EINVAL;
        if (s.StopBits != sbOneStopBit)
            t.c_cflag |= CSTOPB;
        if ((s.Flags & lsOutCTSFlow) || s.RTSControl() == rtsHandshake)
            t.c_cflag |= CRTSCTS;
        if (s.Flags & lsOutX)
            t.c_iflag |= IXON;
        if (s.Flags & lsInX)
            t.c_iflag |= IXOFF;
        t.c_cc[VSTART] = cc_t(s.XonChar);
        t.c_cc[VSTOP] = cc_t(s.XoffChar);
        t.c_cc[VMIN] = 0;
        t.c_cc[VTIME] = 0;

        t.c_cflag &= ~tcflag_t(CBAUD | (CBAUD << IBSHIFT));
        t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
        t.c_ispeed = s.BaudRate;
        t.c_ospeed = s.BaudRate;
        if (int err = Ioctl(FFd, TCSETS2, &t); err != 0)
            return err;
        FLineTime.SetSettings(s);

        int dtr = TIOCM_DTR, rts = TIOCM_RTS;
        int err = Ioctl(FFd, s.DTRControl() == dtrDisable ? TIOCMBIC : TIOCMBIS, &dtr);
        if (err == 0 && !(t.c_cflag & CRTSCTS))
            err = Ioctl(FFd, s.RTSControl() == rtsDisable ? TIOCMBIC : TIOCMBIS, &rts);
        return NotSupported(err) ? 0 : err;
    }

    int ApplyTimeouts(const TTimeoutSettings& timeouts) override
    {
        if (FFd < 0)
            return EBADF;
        FTimeouts = timeouts;
        return 0;
    }

    int ApplyBufferSizes(int32_t, int32_t) override
    {
        // The kernel's queues have fixed sizes; the request is advisory.
        return FFd < 0 ? EBADF : 0;
    }

    int Read(void* buffer, int32_t count, int32_t& done) override
    {
        done = 0;
        if (FFd < 0)
            return EBADF;
        if (count <= 0)
            return 0;
        const uint32_t interval = AsUnsigned(FTimeouts.ReadInterval);
        const uint32_t mult = AsUnsigned(FTimeouts.ReadTotalMultiplier);
        const uint32_t constant = AsUnsigned(FTimeouts.ReadTotalConstant);
        const bool immediate = interval == UINT32_MAX && mult == 0 && constant == 0;
        // Interval and multiplier all ones with a constant: return as soon as any
        // byte is there, or wait up to the constant for the first one.
        const bool returnOnAny =
            interval == UINT32_MAX && mult == UINT32_MAX && constant != 0 && constant != UINT32_MAX;
        // A completed write has only queued its bytes: the time-out of a reply counts from
        // the moment the request has left the line, as it does where writes complete on the wire.
        const TDeadline total = (returnOnAny ? TDeadline::After(constant) : TDeadline::ForTotal(mult, constant, count))
                                    .Later(FLineTime.BusyNs());
        const bool useInterval = interval != 0 && interval != UINT32_MAX;
        TDeadline gap = TDeadline::Never();
        auto* p = static_cast<unsigned char*>(buffer);
        int emptyWakeups = 0; // ready, yet nothing read
        for (;;) {
            ssize_t n = read(FFd, p + done, size_t(count - done));
            if (n > 0) {
                emptyWakeups = 0;
                done += int32_t(n);
                FLineTime.Answered();
                if (done == count || returnOnAny)
                    return 0;
                if (useInterval)
                    gap = TDeadline::After(interval);
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno != EAGAIN)
                return errno; // EIO/ENXIO: unplugged
            // Readable but nothing to read: the device has hung up (a hung-up tty
            // reads as end of file and polls as always ready).
            if (emptyWakeups >= 2)
                return EIO;
            if (immediate)
                return 0;
            const TDeadline& next = (done > 0 && useInterval && gap.Before(total)) ? gap : total;
            int r = WaitReady(FFd, POLLIN, next);
            if (r < 0)
                return -r;
            if (r == 0)
                return 0; // time-out: a short count
            emptyWakeups += (r & (POLLHUP | POLLERR | POLLNVAL)) ? 2 : 1;
        }
    }

    int Write(const void* buffer, int32_t count, int32_t& done) override
    {
        done = 0;
        if (FFd < 0)
            return EBADF;
        if (count <= 0)
            return 0;
        const TDeadline total = WriteDeadline(count);
        auto* p = static_cast<const unsigned char*>(buffer);
        while (done < count) {
            ssize_t n = write(FFd, p + done, size_t(count - done));
            if (n > 0) {
                done += int32_t(n);
                FLineTime.Queued(n);
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno != EAGAIN)
                return errno;
            int r = WaitReady(FFd, POLLOUT, total);
            if (r < 0)
                return -r;
            if (r == 0)
                return 0; // time-out: a short count
            if ((r & (POLLHUP | POLLERR | POLLNVAL)) && !(r & POLLOUT)) {
                n = write(FFd, p + done, size_t(count - done));
                if (n > 0) {
                    done += int32_t(n);
                    FLineTime.Queued(n);
                    continue;
                }
                return (n < 0 && errno != EAGAIN) ? errno : EIO;
            }
        }
        return 0;
    }

    int Purge(bool input, bool output) override
    {
        if (FFd < 0)
            return EBADF;
        if (!input && !output)
            return 0;
        int which = input && output ? TCIOFLUSH : input ? TCIFLUSH : TCOFLUSH;
        if (output)
            FLineTime.Clear();
        return Ioctl(FFd, TCFLSH, reinterpret_cast<void*>(intptr_t(which)));
    }

    int AbortPending() override
    {
        // Transfers run synchronously on the caller's thread: nothing is outstanding.
        return FFd < 0 ? EBADF : 0;
    }

    int Drain() override
    {
        if (FFd < 0)
            return EBADF;
        int queued = 0;
        if (int err = Ioctl(FFd, TIOCOUTQ, &queued); err != 0)
            return NotSupported(err) ? 0 : err;
        if (queued > 0) {
            TDeadline deadline = WriteDeadline(queued);
            // A write time-out of zero means "none"; a close must still end.
            if (deadline.Infinite())
                deadline = TDeadline::After(10000);
            while (queued > 0) {
                if (deadline.RemainingNs() <= 0)
                    return ETIMEDOUT;
                poll(nullptr, 0, 2);
                if (int err = Ioctl(FFd, TIOCOUTQ, &queued); err != 0)
                    return err;
            }
        }
        // The driver's queue is empty; let the last bytes leave the transmitter.
        int err = Ioctl(FFd, TCSBRK, reinterpret_cast<void*>(intptr_t(1)));
        return NotSupported(err) ? 0 : err;
    }

    int QueuedInput(int32_t& count) override
    {
        count = 0;
        if (FFd < 0)
            return EBADF;
        int n = 0;
        if (int err = Ioctl(FFd, TIOCINQ, &n); err != 0)
            return err;
        count = n;
        return 0;
    }

    int ModemStatus(uint32_t& status) override
    {
        status = 0;
        if (FFd < 0)
            return EBADF;
        int bits = 0;
        int err = Ioctl(FFd, TIOCMGET, &bits);
        if (NotSupported(err))
            return 0; // e.g. a pseudo-terminal: all lines off
        if (err != 0)
            return err;
        if (bits & TIOCM_CTS)
            status |= msCTS;
        if (bits & TIOCM_DSR)
            status |= msDSR;
        if (bits & TIOCM_RNG)
            status |= msRing;
        if (bits & TIOCM_CAR)
            status |= msRLSD;
        return 0;
    }

    int ErrorFlags(uint32_t& flags) override
    {
        flags = 0;
        if (FFd < 0)
            return EBADF;
        serial_icounter_struct now{};
        int err = Ioctl(FFd, TIOCGICOUNT, &now);
        if (NotSupported(err)) {
            // No error counters (a pseudo-terminal): no errors, but a dead device
            // must still show.
            int n = 0;
            err = Ioctl(FFd, TIOCINQ, &n);
            return NotSupported(err) ? 0 : err;
        }
        if (err != 0)
            return err;
        if (FHaveCounts) {
            if (now.frame != FCounts.frame)
                flags |= efFrame;
            if (now.parity != FCounts.parity)
                flags |= efRxParity;
            if (now.overrun != FCounts.overrun)
                flags |= efOverrun;
            if (now.buf_overrun != FCounts.buf_overrun)
                flags |= efRxOver;
            if (now.brk != FCounts.brk)
                flags |= efBreak;
        }
        FCounts = now;
        FHaveCounts = true;
        return 0;
    }

    int SetLines(bool dtr, bool rts) override
    {
        if (FFd < 0)
            return EBADF;
        int bit = TIOCM_DTR;
        int err = Ioctl(FFd, dtr ? TIOCMBIS : TIOCMBIC, &bit);
        if (err == 0) {
            bit = TIOCM_RTS;
            err = Ioctl(FFd, rts ? TIOCMBIS : TIOCMBIC, &bit);
        }
        return NotSupported(err) ? 0 : err; // a pseudo-terminal has no modem lines
    }

    std::unique_ptr<TSerialEventWait> CreateEventWait(uint32_t mask) override
    {
        return CreatePosixEventWait(FFd, mask);
    }

private:
    // USB adapters otherwise hold short replies back for their latency timer. True only
    // when this call turned the flag on and the driver kept it: a driver without the
    // setting (a pseudo-terminal, cp210x, ch341) accepts the request or refuses it, and
    // either way there is nothing to undo.
    bool SetLowLatency(bool on)
    {
        serial_struct ss{};
        if (Ioctl(FFd, TIOCGSERIAL, &ss) != 0 || bool(ss.flags & ASYNC_LOW_LATENCY) == on)
            return false;
        ss.flags = on ? (ss.flags | ASYNC_LOW_LATENCY) : (ss.flags & ~ASYNC_LOW_LATENCY);
        if (Ioctl(FFd, TIOCSSERIAL, &ss) != 0 || Ioctl(FFd, TIOCGSERIAL, &ss) != 0)
            return false;
        return bool(ss.flags & ASYNC_LOW_LATENCY) == on;
    }

    TDeadline WriteDeadline(int32_t count) const
    {
        return TDeadline::ForTotal(AsUnsigned(FTimeouts.WriteTotalMultiplier), AsUnsigned(FTimeouts.WriteTotalConstant),
                                   count);
    }

    int FFd = -1;
    TTimeoutSettings FTimeouts;
    TLineTime FLineTime;
    serial_icounter_struct FCounts{};
    bool FHaveCounts = false;
    bool FRaisedLowLatency = false;
};

} // namespace

std::unique_ptr<TSerialDevice> CreatePlatformSerialDevice()
{
    return std::make_unique<TPosixSerialDevice>();
}

std::string ListedPortName(const std::string& portName)
{
    // Only a COMn name turns into a ttyS device; every other name is listed as it is given.
    const std::string path = SerialDevicePath(portName);
    const bool comName = path.rfind("/dev/ttyS", 0) == 0 && portName.rfind("ttyS", 0) != 0 && portName[0] != '/';
    return comName ? path.substr(5) : portName;
}

namespace {

// "COMn" (any case, up to six digits): /dev/ttyS<n-1>, or "" for COM0; nullopt for any
// other name.
std::optional<std::string> ComPortPath(const std::string& portName)
{
    const auto upper = [](unsigned char c) { return char(std::toupper(c)); };
    if (portName.size() <= 3 || portName.size() > 9 || upper(portName[0]) != 'C' || upper(portName[1]) != 'O' ||
        upper(portName[2]) != 'M')
        return std::nullopt;
    const std::string digits = portName.substr(3);
    if (!std::all_of(digits.begin(), digits.end(), [](unsigned char c) { return std::isdigit(c); }))
        return std::nullopt;
    const long n = std::stol(digits);
    return n >= 1 ? "/dev/ttyS" + std::to_string(n - 1) : std::string();
}

bool Exists(const std::string& path)
{
    struct stat st { };
    return ::lstat(path.c_str(), &st) == 0;
}

} // namespace

std::string SerialDevicePath(const std::string& portName)
{
    if (portName.empty() || portName.find('\0') != std::string::npos)
        return {};
    if (portName.find('/') != std::string::npos)
        return portName;
    if (const std::optional<std::string> com = ComPortPath(portName))
        return *com;
    // A bare name is a device first; a link or file of that name in the current folder
    // (a fixture's ./unit3) only when /dev has none.
    const std::string dev = "/dev/" + portName;
    return Exists(dev) || !Exists(portName) ? dev : portName;
}
