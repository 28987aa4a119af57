// osslsigncode started with posix_spawn, its password in a private temporary file.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "job/job.h"
#include "job/signing_run.h"

extern char** environ;

namespace job {

PasswordFile::PasswordFile(const char* password)
{
    if (!password)
        return;
    const char* dir = std::getenv("TMPDIR");
    Path = std::string(dir && *dir ? dir : "/tmp") + "/moravent-sign-XXXXXX";
    const int fd = ::mkstemp(Path.data());
    if (fd < 0)
        throw JobError(std::string("cannot hand the key's password to osslsigncode: ") + std::strerror(errno));
    const size_t n = std::strlen(password);
    const bool written = ::write(fd, password, n) == static_cast<ssize_t>(n);
    ::close(fd);
    if (!written) {
        ::unlink(Path.c_str());
        throw JobError("cannot hand the key's password to osslsigncode");
    }
}

PasswordFile::~PasswordFile()
{
    if (!Path.empty())
        ::unlink(Path.c_str());
}

int RunSigner(const std::vector<std::string>& args, std::string& output)
{
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0)
        throw JobError(std::string("cannot start osslsigncode: ") + std::strerror(errno));
    pid_t pid = 0;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, pipe[1], STDERR_FILENO);
    const int err = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipe[1]);
    if (err == 0) {
        char buf[4096];
        for (ssize_t n; (n = ::read(pipe[0], buf, sizeof buf)) != 0;)
            if (n > 0)
                output.append(buf, size_t(n));
            else if (errno != EINTR)
                break;
    }
    ::close(pipe[0]);
    if (err == ENOENT)
        throw JobError("signing needs osslsigncode, which is not installed (apt install osslsigncode)");
    if (err != 0)
        throw JobError(std::string("cannot start osslsigncode: ") + std::strerror(err));
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

} // namespace job
