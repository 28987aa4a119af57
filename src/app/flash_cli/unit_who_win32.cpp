#include <windows.h>

#include <bcrypt.h>
#include <lmcons.h>

#include "app/flash_cli/unit_who.h"
#include "app/records/uuid_text.h"
#include "framework/exceptions.h"

std::string NewUnitId()
{
    unsigned char bytes[16];
    if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, bytes, sizeof bytes, BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
        throw Exception("Cannot make a record id: the random number generator failed");
    return UuidText(bytes, 4);
}

std::string LoginName()
{
    char name[UNLEN + 1] = {};
    DWORD size = sizeof name;
    return GetUserNameA(name, &size) ? std::string(name) : std::string();
}
