#include "app/flash_cli/terminal_width.h"

#include <sys/ioctl.h>
#include <unistd.h>

size_t TerminalColumns()
{
    winsize w{};
    return ::ioctl(STDERR_FILENO, TIOCGWINSZ, &w) == 0 && w.ws_col > 0 ? w.ws_col : 80;
}
