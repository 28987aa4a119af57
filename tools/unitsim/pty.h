#pragma once
// A pseudo-terminal pair standing in for a serial line: the host under test opens the
// slave, the far end (the simulated unit, a test's responder) holds the master.
#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

#include "unitsim/lineinfo.h"

namespace unitsim {

using Bytes = std::string; // byte strings, as everywhere in the system

// Writes all n bytes to a non-blocking descriptor, waiting while it is full; stops early
// when keepGoing (checked while waiting) turns false or the write fails. True when all went.
bool WriteAll(int fd, const void* data, size_t n, const std::function<bool()>& keepGoing = {});

class Pty {
public:
    // keepSlave: hold the slave open too, in raw mode at 9600 bit/s, so the line stays up
    // while the host has it closed (a unit's line does not vanish between two opens).
    // Raises std::runtime_error when the pair cannot be made.
    explicit Pty(bool keepSlave);
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    int Master() const { return FMaster; }
    bool IsOpen() const { return FMaster >= 0; }
    const std::string& SlavePath() const { return FSlave; }
    // The line settings the host last applied on the slave (all defaults when closed).
    LineSettings Settings() const;

    // Makes path a symbolic link to the slave, replacing a stale link (never another
    // file). The link goes when the line hangs up or the pair is destroyed.
    void Link(const std::string& path);

    bool Write(const Bytes& bytes, const std::function<bool()>& keepGoing = {});
    // Reads until n bytes arrived or the time-out passed; fewer when the line stays quiet.
    Bytes Read(size_t n, std::chrono::milliseconds timeout);

    // The line goes dead the way an unplugged adapter does: the device node (the link)
    // and the line go together. The host's open descriptor reads end of line from now on.
    void HangUp();

private:
    void RemoveLink();

    int FMaster = -1;
    int FKeeper = -1;
    std::string FSlave;
    std::string FLink;
};

} // namespace unitsim
