#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point end)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

// Between fork and exec only async-signal-safe calls: the test's other threads may hold
// any lock at the fork.
[[noreturn]] void ExecChild(char* const* argv, int in, int out, int err, int failed)
{
    ::dup2(in, STDIN_FILENO);
    ::dup2(out, STDOUT_FILENO);
    ::dup2(err, STDERR_FILENO);
    ::execvp(argv[0], argv);
    const int e = errno;
    [[maybe_unused]] ssize_t n = ::write(failed, &e, sizeof e);
    ::_exit(127);
}

} // namespace

TChildProcess::TChildProcess(const std::string& program, const std::vector<std::string>& args)
{
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    int out[2], err[2], failed[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0 || ::pipe2(failed, O_CLOEXEC) != 0)
        return;
    const int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    FPid = ::fork();
    if (FPid == 0)
        ExecChild(argv.data(), in, out[1], err[1], failed[1]);
    ::close(in);
    ::close(out[1]);
    ::close(err[1]);
    ::close(failed[1]);
    FOutFd = out[0];
    FErrFd = err[0];
    // The exec failure pipe closes unread when the exec succeeds.
    int e = 0;
    if (FPid > 0 && ::read(failed[0], &e, sizeof e) == static_cast<ssize_t>(sizeof e)) {
        ::waitpid(FPid, nullptr, 0);
        FPid = -1;
    }
    ::close(failed[0]);
}

TChildProcess::~TChildProcess()
{
    if (FPid > 0 && !FReaped) {
        ::kill(FPid, SIGKILL);
        ::waitpid(FPid, nullptr, 0);
    }
    for (int fd : {FOutFd, FErrFd})
        if (fd >= 0)
            ::close(fd);
}

int TChildProcess::Pump(int ms)
{
    pollfd fds[2] = {{FOutFd, POLLIN, 0}, {FErrFd, POLLIN, 0}};
    if (FOutFd < 0 && FErrFd < 0)
        return -1;
    if (::poll(fds, 2, ms) <= 0)
        return 0;
    std::string* sinks[2] = {&FOut, &FErr};
    int* fdsOwned[2] = {&FOutFd, &FErrFd};
    for (int i = 0; i < 2; ++i) {
        if (*fdsOwned[i] < 0 || fds[i].revents == 0)
            continue;
        char buf[4096];
        const ssize_t n = ::read(*fdsOwned[i], buf, sizeof buf);
        if (n > 0) {
            sinks[i]->append(buf, size_t(n));
        } else if (n == 0 || errno != EINTR) {
            ::close(*fdsOwned[i]);
            *fdsOwned[i] = -1;
        }
    }
    return 1;
}

bool TChildProcess::WaitForFinished(int ms)
{
    if (FPid <= 0)
        return false;
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(ms);
    while (!FReaped) {
        int status = 0;
        if (::waitpid(FPid, &status, WNOHANG) == FPid) {
            FReaped = true;
            FExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            break;
        }
        if (MsLeft(end) == 0)
            return false;
        if (Pump(std::min(MsLeft(end), 20)) < 0)
            ::usleep(2000);
    }
    // What it wrote before it ended, unless something it left behind holds the pipes.
    while (MsLeft(end) > 0 && Pump(std::min(MsLeft(end), 100)) > 0) {
    }
    return true;
}

std::string TChildProcess::ReadLine(int ms)
{
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(ms);
    size_t eol;
    while ((eol = FOut.find('\n')) == std::string::npos && MsLeft(end) > 0)
        if (Pump(MsLeft(end)) < 0)
            break;
    if (eol == std::string::npos)
        return std::string();
    std::string line = FOut.substr(0, eol);
    FOut.erase(0, eol + 1);
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

bool TChildProcess::WaitFor(const std::string& from, const std::string& text, int ms)
{
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(ms);
    while (from.find(text) == std::string::npos && MsLeft(end) > 0)
        if (Pump(MsLeft(end)) < 0)
            break;
    return from.find(text) != std::string::npos;
}

bool TChildProcess::WaitForError(const std::string& text, int ms)
{
    return WaitFor(FErr, text, ms);
}

bool TChildProcess::WaitForOutput(const std::string& text, int ms)
{
    return WaitFor(FOut, text, ms);
}
