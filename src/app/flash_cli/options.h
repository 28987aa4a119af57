#pragma once
// The headless programmer's command line.
#include <string>
#include <vector>

struct TCliOptions {
    std::vector<std::string> Ports; // as given: names, paths, usb:SERIAL or usb-path:PATH
    std::string Job;
    std::string Method = "auto";
    std::string LogFile;
    bool NoProgress = false;
    bool ListPorts = false;
    bool Json = false;
};

// False when --help or --version has been answered. A usage error (EUsageError) carries
// the usage text after its message.
bool ParseCliArguments(int argc, char** argv, TCliOptions& options);
