#pragma once
// The headless programmer's command line.
#include <string>
#include <vector>

#include "flash/run.h"

// The flag a station gives the copies of this program it starts, one per port.
inline constexpr const char WorkerOption[] = "station-worker";

struct TCliOptions {
    std::vector<std::string> Ports;    // as given: names, paths, usb:SERIAL or usb-path:PATH
    std::vector<std::string> Fixtures; // each port's fixture name (--port NAME=SELECTOR), "" when unnamed
    std::string Job;
    std::string Method = "auto";
    std::string LogFile;
    std::string Report;
    std::string Records;          // the records database: a file, sqlite:PATH or a PostgreSQL target
    std::string Operator;         // the login name unless --operator names another
    std::string UnitSerial;       // one port's unit, from --unit-serial
    bool Scan = false;            // with --loop: each port's unit serial asked before every round
    bool SkipMissing = false;     // a station starts without the fixtures whose port cannot be opened
    bool NoProgress = false;
    bool ListPorts = false;
    bool Json = false;
    bool Loop = false;
    bool Worker = false;
    TRunMode Mode = TRunMode::Program; // --identify, --verify-only or --skip-if-current

    // Several ports, JSON events or the operator's loop: the station runs one worker
    // process per port. One port without them runs in this process, as it always has
    // (--report only adds the record).
    bool Station() const { return Ports.size() > 1 || Json || Loop; }
};

// The name of fixture i for people: its fixture name, else its port as given.
std::string FixtureLabel(const TCliOptions& options, size_t i);

// The option that names mode, "" for Program.
const char* RunModeOption(TRunMode mode);

// False when --help or --version has been answered. Raises EUsageError.
bool ParseCliArguments(int argc, char** argv, TCliOptions& options);
