#pragma once
// How wide standard error's terminal is, for the station's live lines.
#include <cstddef>

// 80 when it cannot be told.
size_t TerminalColumns();
