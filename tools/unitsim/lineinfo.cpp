// Kept apart from <termios.h>: the kernel's termios2 (exact bit rates, also the
// non-standard ones a host sets with BOTHER) clashes with the C library's header.
#include "unitsim/lineinfo.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace unitsim {

bool ReadLineSettings(int fd, LineSettings& out)
{
    struct termios2 t { };
    if (ioctl(fd, TCGETS2, &t) != 0)
        return false;
    out.bitRate = static_cast<int>(t.c_ospeed);
    out.stopBits = (t.c_cflag & CSTOPB) ? 2 : 1;
    out.parity = (t.c_cflag & PARENB) != 0;
    switch (t.c_cflag & CSIZE) {
    case CS5: out.dataBits = 5; break;
    case CS6: out.dataBits = 6; break;
    case CS7: out.dataBits = 7; break;
    default: out.dataBits = 8; break;
    }
    return true;
}

} // namespace unitsim
