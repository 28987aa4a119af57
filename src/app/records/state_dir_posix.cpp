#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "app/records/record_keeper.h"

std::string DefaultSpoolPath()
{
    std::filesystem::path dir;
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state == '/')
        dir = state;
    else if (const char* home = std::getenv("HOME"); home && *home)
        dir = std::filesystem::path(home) / ".local" / "state";
    else if (const passwd* pw = getpwuid(geteuid()); pw && pw->pw_dir)
        dir = std::filesystem::path(pw->pw_dir) / ".local" / "state";
    else
        throw ERecordsError("Cannot find a folder for the records spool: neither XDG_STATE_HOME nor HOME is set");
    dir /= "moravent";
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec)
        throw ERecordsError("Cannot create the records spool folder " + dir.string() + ": " + ec.message());
    return (dir / "records-spool.sqlite").string();
}
