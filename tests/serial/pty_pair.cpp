// termios2 is needed to see exact bit rates; it cannot share a file with <termios.h>.
#include "pty_pair.h"

#include <asm/termios.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept;

TPtyPair::TPtyPair()
{
    FMaster = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (FMaster < 0 || grantpt(FMaster) != 0 || unlockpt(FMaster) != 0)
        throw std::runtime_error("no pseudo-terminal");
    char name[128];
    if (ptsname_r(FMaster, name, sizeof name) != 0)
        throw std::runtime_error("no pseudo-terminal name");
    FSlave = name;
    fcntl(FMaster, F_SETFL, fcntl(FMaster, F_GETFL) | O_NONBLOCK);
}

TPtyPair::~TPtyPair()
{
    CloseMaster();
}

void TPtyPair::CloseMaster()
{
    if (FMaster >= 0)
        close(FMaster);
    FMaster = -1;
}

void TPtyPair::Write(const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(FMaster, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += size_t(n);
        } else {
            pollfd p{FMaster, POLLOUT, 0};
            poll(&p, 1, 10);
        }
    }
}

std::string TPtyPair::Read(size_t n, int timeoutMs)
{
    std::string got;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got.size() < n && std::chrono::steady_clock::now() < end) {
        char buf[4096];
        ssize_t r = read(FMaster, buf, std::min(sizeof buf, n - got.size()));
        if (r > 0) {
            got.append(buf, size_t(r));
        } else {
            pollfd p{FMaster, POLLIN, 0};
            poll(&p, 1, 5);
            if (p.revents & POLLHUP)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    return got;
}

uint32_t TPtyPair::Speed() const
{
    termios2 t{};
    ioctl(FMaster, TCGETS2, &t);
    return t.c_ospeed;
}

bool TPtyPair::TwoStopBits() const
{
    termios2 t{};
    ioctl(FMaster, TCGETS2, &t);
    return (t.c_cflag & CSTOPB) != 0;
}

TResponder::TResponder(TPtyPair& pty, size_t requestSize, std::string reply, int delayMs)
    : FPty(pty), FRequestSize(requestSize), FReply(std::move(reply)), FDelayMs(delayMs), FThread([this] { Run(); })
{
}

TResponder::~TResponder()
{
    FStop = true;
    FThread.join();
}

std::string TResponder::Received()
{
    std::lock_guard<std::mutex> g(FLock);
    return FReceived;
}

void TResponder::Run()
{
    size_t pending = 0;
    while (!FStop) {
        pollfd p{FPty.Master(), POLLIN, 0};
        poll(&p, 1, 5);
        if (p.revents & POLLHUP) { // no slave open at the moment
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        char buf[4096];
        ssize_t n = read(FPty.Master(), buf, sizeof buf);
        if (n <= 0)
            continue;
        {
            std::lock_guard<std::mutex> g(FLock);
            FReceived.append(buf, size_t(n));
        }
        pending += size_t(n);
        while (FRequestSize > 0 && pending >= FRequestSize) {
            pending -= FRequestSize;
            if (FDelayMs)
                std::this_thread::sleep_for(std::chrono::milliseconds(FDelayMs));
            FPty.Write(FReply);
        }
    }
}
