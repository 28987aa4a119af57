#include "unitsim/pty.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace unitsim {

namespace {

[[noreturn]] void Refuse(const std::string& what)
{
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

} // namespace

bool WriteAll(int fd, const void* data, size_t n, const std::function<bool()>& keepGoing)
{
    const auto* p = static_cast<const char*>(data);
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w > 0) {
            p += w;
            n -= size_t(w);
            continue;
        }
        if (w < 0 && errno == EINTR)
            continue;
        if (w < 0 && errno != EAGAIN)
            return false;
        pollfd pfd{fd, POLLOUT, 0};
        ::poll(&pfd, 1, 100);
        if (keepGoing && !keepGoing())
            return false;
    }
    return true;
}

Pty::Pty(bool keepSlave)
{
    FMaster = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (FMaster < 0)
        Refuse("cannot open a pseudo-terminal");
    char path[128];
    if (::grantpt(FMaster) != 0 || ::unlockpt(FMaster) != 0 || ::ptsname_r(FMaster, path, sizeof path) != 0) {
        const int e = errno;
        ::close(FMaster);
        errno = e;
        Refuse("cannot prepare the pseudo-terminal");
    }
    FSlave = path;
    ::fcntl(FMaster, F_SETFL, ::fcntl(FMaster, F_GETFL) | O_NONBLOCK);
    if (!keepSlave)
        return;
    FKeeper = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (FKeeper < 0) {
        const int e = errno;
        ::close(FMaster);
        errno = e;
        Refuse("cannot open " + FSlave);
    }
    termios t{};
    if (::tcgetattr(FKeeper, &t) == 0) {
        ::cfmakeraw(&t);
        ::cfsetispeed(&t, B9600);
        ::cfsetospeed(&t, B9600);
        ::tcsetattr(FKeeper, TCSANOW, &t);
    }
}

Pty::~Pty()
{
    HangUp();
}

LineSettings Pty::Settings() const
{
    LineSettings s;
    if (FMaster >= 0)
        ReadLineSettings(FMaster, s);
    return s;
}

void Pty::Link(const std::string& path)
{
    struct stat st { };
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
        ::unlink(path.c_str()); // a stale link from an earlier run; never other files
    if (::symlink(FSlave.c_str(), path.c_str()) != 0)
        Refuse("cannot make the link " + path);
    FLink = path;
}

void Pty::RemoveLink()
{
    if (FLink.empty())
        return;
    // Only the link this pair made: something else may have taken the name since.
    char target[256] = {};
    if (::readlink(FLink.c_str(), target, sizeof target - 1) > 0 && FSlave == target)
        ::unlink(FLink.c_str());
    FLink.clear();
}

bool Pty::Write(const Bytes& bytes, const std::function<bool()>& keepGoing)
{
    return FMaster >= 0 && WriteAll(FMaster, bytes.data(), bytes.size(), keepGoing);
}

Bytes Pty::Read(size_t n, std::chrono::milliseconds timeout)
{
    Bytes got;
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (FMaster >= 0 && got.size() < n && std::chrono::steady_clock::now() < end) {
        char buf[4096];
        const ssize_t r = ::read(FMaster, buf, std::min(sizeof buf, n - got.size()));
        if (r > 0) {
            got.append(buf, size_t(r));
            continue;
        }
        pollfd p{FMaster, POLLIN, 0};
        ::poll(&p, 1, 5);
        if (p.revents & POLLHUP) // nobody holds the slave: wait, don't spin
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return got;
}

void Pty::HangUp()
{
    RemoveLink();
    if (FMaster >= 0)
        ::close(FMaster);
    if (FKeeper >= 0)
        ::close(FKeeper);
    FMaster = FKeeper = -1;
}

} // namespace unitsim
