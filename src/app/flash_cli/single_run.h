#pragma once
// One --port without the station's options: the run in this process, its texts and exit
// status as they have always been; --report adds the unit's record.
#include "app/flash_cli/options.h"

int ProgramOnePort(int argc, char** argv, const TCliOptions& options);
