#pragma once
// A program run as a child process: standard input from /dev/null, standard output and
// error captured. The destructor kills and reaps a child still running.
#include <sys/types.h>

#include <string>
#include <vector>

class TChildProcess {
public:
    // program is looked up in PATH when it has no slash.
    TChildProcess(const std::string& program, const std::vector<std::string>& args);
    ~TChildProcess();
    TChildProcess(const TChildProcess&) = delete;
    TChildProcess& operator=(const TChildProcess&) = delete;

    bool Started() const { return FPid > 0; }
    pid_t Pid() const { return FPid; }
    // False when the child still runs after ms milliseconds.
    bool WaitForFinished(int ms);
    // The exit status, or -1 for a child ended by a signal (or still running).
    int ExitCode() const { return FExitCode; }
    // The next line of standard output without its line end, waiting up to ms; "" when
    // none came in time.
    std::string ReadLine(int ms);
    // True once standard error (or output) holds text, waiting up to ms.
    bool WaitForError(const std::string& text, int ms);
    bool WaitForOutput(const std::string& text, int ms);
    // Everything read so far (all of it once finished), less lines taken by ReadLine.
    const std::string& Out() const { return FOut; }
    const std::string& Err() const { return FErr; }

private:
    // Reads what the pipes offer within ms: 1 when something came (or a pipe closed), 0
    // when nothing did, -1 when both are closed.
    int Pump(int ms);
    bool WaitFor(const std::string& from, const std::string& text, int ms);
    pid_t FPid = -1;
    int FOutFd = -1, FErrFd = -1;
    bool FReaped = false;
    int FExitCode = -1;
    std::string FOut, FErr;
};
