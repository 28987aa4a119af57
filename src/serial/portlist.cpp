#include "portlist.h"

#include <algorithm>
#include <cctype>

#include "CPort.h"
#include "serial_platform.h"

bool PortNameLess(const std::string& a, const std::string& b)
{
    auto lower = [](unsigned char c) { return std::tolower(c); };
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        int x = lower(static_cast<unsigned char>(a[i]));
        int y = lower(static_cast<unsigned char>(b[i]));
        if (x != y)
            return x < y;
    }
    if (a.size() != b.size())
        return a.size() < b.size();
    return a < b;
}

void ListSerialPorts(std::vector<std::string>& strings, const std::string& sysClassTty, const std::string& devDir)
{
    std::vector<TPlatformPort> ports;
    if (int err = ListPlatformPorts(ports, sysClassTty, devDir); err != 0)
        throw EComPort(CError_RegError, err);
    std::vector<std::string> names;
    for (const TPlatformPort& p : ports)
        names.push_back(p.Name);
    std::sort(names.begin(), names.end(), PortNameLess);
    names.erase(std::unique(names.begin(), names.end()), names.end());
    strings = std::move(names);
}
