#include "app/window/parent_console.h"

// A POSIX program inherits its terminal.
void UseParentConsole() { }
