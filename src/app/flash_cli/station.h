#pragma once
// The production station: every --port programs its own unit from the same job, all at
// once, one worker process per port so that nothing on one port stops or slows another;
// a record of every unit; with --loop, round after round for one operator.
#include "app/flash_cli/options.h"

// Returns the exit status: 0 when every unit succeeded, 1 when any failed.
int RunStation(const TCliOptions& options);

// The log of one port among several: the port's name (without /dev/, other characters
// than letters, digits, '.', '-' and '_' as '_') added before the extension:
// "comms.txt" and /dev/ttyUSB0 give "comms_ttyUSB0.txt".
std::string PortLogFile(const std::string& file, const std::string& port);
