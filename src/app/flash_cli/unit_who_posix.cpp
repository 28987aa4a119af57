#include <openssl/rand.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

#include "app/flash_cli/unit_who.h"
#include "app/records/uuid_text.h"
#include "framework/exceptions.h"

std::string NewUnitId()
{
    unsigned char bytes[16];
    if (RAND_bytes(bytes, sizeof bytes) != 1)
        throw Exception("Cannot make a record id: the random number generator failed");
    return UuidText(bytes, 4);
}

std::string LoginName()
{
    // The session's login name first: su and sudo keep it, so the person is named, not root.
    if (const char* name = getlogin(); name && *name)
        return name;
    if (const char* name = std::getenv("LOGNAME"); name && *name)
        return name;
    if (const passwd* pw = getpwuid(geteuid()); pw && pw->pw_name)
        return pw->pw_name;
    return std::string();
}
