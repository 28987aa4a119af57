#include "app/flash_cli/worker_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "framework/exceptions.h"
#include "framework/file_input.h"

namespace {

// The descriptor numbers a child finds its message pipe and the shared bytes on.
constexpr int ChildMessageFd = 3;
constexpr int ChildSharedFd = 4;

void MakePipe(int fds[2])
{
    if (::pipe2(fds, O_CLOEXEC) != 0)
        throw Exception(std::string("Cannot make a pipe for a worker (") + std::strerror(errno) + ")");
}

// dup2 onto itself would keep the close-on-exec flag the pipes are made with.
bool PutFdAt(int fd, int at)
{
    return fd == at ? ::fcntl(fd, F_SETFD, 0) == 0 : ::dup2(fd, at) == at;
}

// Between fork and exec: only async-signal-safe calls.
[[noreturn]] void BecomeChild(const char* program, char* const argv[], pid_t parent, int messageFd, int errorFd,
                              int sharedFd)
{
#ifdef __linux__
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
#endif
    if (::getppid() != parent)
        ::_exit(127);
    ::setpgid(0, 0);
    // Out of the way of the numbers the others are put at.
    if (sharedFd >= 0 && (sharedFd = ::fcntl(sharedFd, F_DUPFD_CLOEXEC, 10)) < 0)
        ::_exit(127);
    const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null < 0 || !PutFdAt(null, STDIN_FILENO) || !PutFdAt(null, STDOUT_FILENO) || !PutFdAt(errorFd, STDERR_FILENO) ||
        !PutFdAt(messageFd, ChildMessageFd) || (sharedFd >= 0 && !PutFdAt(sharedFd, ChildSharedFd)))
        ::_exit(127);
    ::execv(program, argv);
    const char text[] = "cannot start the worker program\n";
    [[maybe_unused]] ssize_t n = ::write(STDERR_FILENO, text, sizeof text - 1);
    ::_exit(127);
}

} // namespace

TSharedBytes::TSharedBytes(const std::string& bytes)
{
    FFd = ::memfd_create("moravent-shared", MFD_CLOEXEC);
    if (FFd < 0) {
        // Kernels without memfd: a temporary file, unlinked at once.
        const char* dir = std::getenv("TMPDIR");
        std::string path = std::string(dir && *dir ? dir : "/tmp") + "/moravent-shared-XXXXXX";
        FFd = ::mkostemp(path.data(), O_CLOEXEC);
        if (FFd >= 0)
            ::unlink(path.c_str());
    }
    const auto fail = [this] {
        const int e = errno;
        if (FFd >= 0)
            ::close(FFd);
        throw Exception(std::string("Cannot hand the job to the workers (") + std::strerror(e) + ")");
    };
    if (FFd < 0)
        fail();
    for (size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::write(FFd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            fail();
        done += size_t(n);
    }
}

std::string TSharedBytes::ChildPath() const
{
    return "/dev/fd/" + std::to_string(ChildSharedFd);
}

TSharedBytes::~TSharedBytes()
{
    if (FFd >= 0)
        ::close(FFd);
}

TChild StartChild(const std::string& program, const std::vector<std::string>& args, const TSharedBytes* shared)
{
    int message[2], error[2];
    MakePipe(message);
    try {
        MakePipe(error);
    } catch (...) {
        ::close(message[0]);
        ::close(message[1]);
        throw;
    }
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0)
        BecomeChild(program.c_str(), argv.data(), parent, message[1], error[1], shared ? shared->Fd() : -1);
    const int forkError = errno;
    ::close(message[1]);
    ::close(error[1]);
    if (pid < 0) {
        ::close(message[0]);
        ::close(error[0]);
        throw Exception(std::string("Cannot start a worker (") + std::strerror(forkError) + ")");
    }
    // Also from here, so a signal passed on at once finds the group made.
    ::setpgid(pid, pid);
    for (int fd : {message[0], error[0]})
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    return TChild{pid, message[0], error[0]};
}

std::string SelfForChildren()
{
    return ::access("/proc/self/exe", X_OK) == 0 ? "/proc/self/exe" : OwnExecutablePath();
}

void SignalChild(const TChild& child, int signal)
{
    if (child.Pid > 0)
        ::kill(child.Pid, signal);
}

std::string WaitChild(TChild& child)
{
    if (child.Pid <= 0)
        return std::string();
    int status = 0;
    pid_t r;
    do {
        r = ::waitpid(child.Pid, &status, 0);
    } while (r < 0 && errno == EINTR);
    child.Pid = -1;
    if (r < 0)
        return std::string("worker lost (") + std::strerror(errno) + ")";
    if (WIFSIGNALED(status))
        return "worker ended by signal " + std::to_string(WTERMSIG(status)) + " (" + ::strsignal(WTERMSIG(status)) +
            ")";
    if (WIFEXITED(status) && WEXITSTATUS(status) != 0)
        return "worker ended with exit status " + std::to_string(WEXITSTATUS(status));
    return std::string();
}

void WaitForInput(const std::vector<int>& fds, int timeoutMs, std::vector<bool>& ready)
{
    std::vector<pollfd> p;
    for (int fd : fds)
        p.push_back(pollfd{fd, POLLIN, 0}); // poll skips negative descriptors
    ready.assign(fds.size(), false);
    if (::poll(p.data(), p.size(), timeoutMs) <= 0)
        return;
    for (size_t i = 0; i < p.size(); ++i)
        ready[i] = fds[i] >= 0 && (p[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
}

bool ReadAvailable(int fd, std::string& into)
{
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) {
            into.append(buf, size_t(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        return !(n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK));
    }
}

void CloseFd(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

void IgnoreBrokenPipes()
{
    ::signal(SIGPIPE, SIG_IGN);
}

int ChildMessageChannel()
{
    return ChildMessageFd;
}

// Signals reach a worker by themselves.
void HearSupervisorStops() { }
