#pragma once
// Child processes for the station: one worker per port, each with a pipe for its
// messages and one for its standard error, polled together. POSIX only: a build for
// another system leaves this pair out or brings its own.
#include <string>
#include <vector>

// The descriptor number a child finds its message pipe on.
inline constexpr int ChildMessageFd = 3;
// The descriptor number a child finds the bytes handed to it on (TSharedBytes), and the
// path it opens them by.
inline constexpr int ChildSharedFd = 4;
inline constexpr const char ChildSharedPath[] = "/dev/fd/4";

// Bytes handed to every child started with them: a private file without a name, so nothing
// is left behind however the station ends, and each child reads exactly these bytes.
class TSharedBytes {
public:
    // Raises Exception when the file cannot be made.
    explicit TSharedBytes(const std::string& bytes);
    ~TSharedBytes();
    TSharedBytes(const TSharedBytes&) = delete;
    TSharedBytes& operator=(const TSharedBytes&) = delete;
    int Fd() const { return FFd; }

private:
    int FFd = -1;
};

struct TChild {
    int Pid = -1;
    int MessageFd = -1; // the child's ChildMessageFd, read end
    int ErrorFd = -1;   // the child's standard error, read end
};

// Starts program with args (args[0] included). The child reads /dev/null and writes its
// standard output there, runs in a process group of its own (the terminal's Ctrl-C
// reaches only the caller, who passes it on once) and gets SIGTERM should the caller
// die. shared, when given, is the child's ChildSharedFd. Raises Exception when the pipes or
// the process cannot be made.
TChild StartChild(const std::string& program, const std::vector<std::string>& args,
                  const TSharedBytes* shared = nullptr);

void SignalChild(const TChild& child, int signal);

// What a child of this program is started from: the running program itself, also when its
// file has been replaced or removed since it started.
std::string SelfForChildren();

// Waits for the child to end and reaps it: "" after exit status 0, else the reason as a
// person reads it ("worker ended by signal 9 (Killed)", "worker ended with exit status 3").
std::string WaitChild(TChild& child);

// Waits up to timeoutMs for any of fds (negative ones are skipped) to be readable or
// closed; ready[i] tells which. A signal ends the wait early with nothing ready.
void WaitForInput(const std::vector<int>& fds, int timeoutMs, std::vector<bool>& ready);

// Appends what fd has to into without blocking for more; false once the writer has
// closed it and nothing is left.
bool ReadAvailable(int fd, std::string& into);

void CloseFd(int& fd);

// Writes to a closed pipe fail with EPIPE instead of ending the process.
void IgnoreBrokenPipes();
