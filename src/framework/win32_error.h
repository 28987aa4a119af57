#pragma once
// Windows builds only: the system's words for a GetLastError value, without the final full
// stop and line end, for "(reason)" in a message.
#include <string>

std::string Win32ErrorText(unsigned long error);
