// The Windows build has no station yet: its workers are processes started and watched
// through POSIX calls. One port at a time works as everywhere.
#include "app/flash_cli/station.h"
#include "app/flash_cli/worker.h"
#include "framework/cmdline.h"

namespace {

[[noreturn]] void NoStation()
{
    throw EUsageError("several --port, --json and --loop need the station, which this Windows build does not have");
}

} // namespace

int RunStation(const TCliOptions&)
{
    NoStation();
}

int RunWorker(int, char**, const TCliOptions&)
{
    NoStation();
}
