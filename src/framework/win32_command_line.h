#pragma once
// Windows builds only: a command line for CreateProcess that the C runtime splits back into
// exactly these arguments.
#include <string>
#include <vector>

std::string Win32CommandLine(const std::vector<std::string>& args);
