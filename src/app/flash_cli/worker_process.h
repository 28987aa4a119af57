#pragma once
// Child processes for the station: one worker per port, each with a pipe for its
// messages and one for its standard error, polled together. How a worker is started,
// signalled and waited for is the system's: worker_process_posix.cpp, worker_process_win32.cpp.
#include <string>
#include <vector>

// In a worker: the descriptor its message pipe is on (-1 when it was not started by a station).
int ChildMessageChannel();
// In a worker: passes the station's stop requests on as stop signals, where the system
// does not deliver them by itself.
void HearSupervisorStops();

// Bytes handed to every child started with them: a private file each child reads exactly
// these bytes from (without a name on POSIX, so nothing is left behind however the station
// ends; a temporary file on Windows that nobody else may write while the station runs).
class TSharedBytes {
public:
    // Raises Exception when the file cannot be made.
    explicit TSharedBytes(const std::string& bytes);
    ~TSharedBytes();
    TSharedBytes(const TSharedBytes&) = delete;
    TSharedBytes& operator=(const TSharedBytes&) = delete;
    int Fd() const { return FFd; }
    // The path a child opens the bytes by.
    std::string ChildPath() const;

private:
    int FFd = -1;
    std::string FPath;
};

struct TChild {
    int Pid = -1;
    int MessageFd = -1; // the child's ChildMessageFd, read end
    int ErrorFd = -1;   // the child's standard error, read end
};

// Starts program with args (args[0] included). The child writes its standard output
// nowhere, does not see the terminal's Ctrl-C (it reaches only the caller, who passes it
// on once) and ends should the caller die. shared, when given, is readable by the child at
// shared->ChildPath(). Raises Exception when the pipes or the process cannot be made.
TChild StartChild(const std::string& program, const std::vector<std::string>& args,
                  const TSharedBytes* shared = nullptr);

// signal: SIGINT asks the child to stop (as Ctrl-C would), a second one to end at once.
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
