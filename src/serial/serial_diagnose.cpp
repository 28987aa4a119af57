#include <filesystem>

#include "serial/serial_platform.h"

std::vector<std::string> MissingPortLines(const std::string& portName, const std::vector<TPlatformPort>& ports)
{
    if (ports.empty())
        return {"There is no serial port " + portName + ", and this computer has no serial ports at all."};
    std::string names;
    for (const TPlatformPort& p : ports)
        names += (names.empty() ? "" : ", ") + p.Name;
    return {"There is no serial port " + portName + ". Ports present: " + names + "."};
}

std::string UdevRulesPath(const std::string& installed)
{
    std::error_code ec;
    return std::filesystem::is_regular_file(installed, ec) ? installed : "contrib/udev/60-moravent-serial.rules";
}
