#pragma once
// What the POSIX serial backend's files share. They talk to the tty through ioctl only:
// the kernel's termios2 and glibc's <termios.h> cannot be included together.
#include <cerrno>
#include <cstdint>
#include <memory>

#include "serial/serial_platform.h"

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept;

// 0, or the request's errno; a call a signal interrupted is made again.
inline int Ioctl(int fd, unsigned long request, void* arg)
{
    for (;;) {
        if (ioctl(fd, request, arg) == 0)
            return 0;
        if (errno != EINTR)
            return errno;
    }
}

// Waits for the events of mask on the tty fd (epoll, with the modem lines and error
// counters sampled where the driver reports them).
std::unique_ptr<TSerialEventWait> CreatePosixEventWait(int fd, uint32_t mask);
