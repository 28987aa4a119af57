#include "serial/portlist.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "serial/CPort.h"
#include "serial/serial_platform.h"

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

std::vector<TPlatformPort> ListSerialPortInfo(const std::string& sysClassTty, const std::string& devDir)
{
    std::vector<TPlatformPort> ports;
    if (int err = ListPlatformPorts(ports, sysClassTty, devDir); err != 0)
        throw EComPort(CError_RegError, err);
    std::stable_sort(ports.begin(), ports.end(),
                     [](const TPlatformPort& a, const TPlatformPort& b) { return PortNameLess(a.Name, b.Name); });
    ports.erase(std::unique(ports.begin(), ports.end(),
                            [](const TPlatformPort& a, const TPlatformPort& b) { return a.Name == b.Name; }),
                ports.end());
    return ports;
}

void ListSerialPorts(std::vector<std::string>& strings, const std::string& sysClassTty, const std::string& devDir)
{
    std::vector<std::string> names;
    for (const TPlatformPort& p : ListSerialPortInfo(sysClassTty, devDir))
        names.push_back(p.Name);
    strings = std::move(names);
}

std::string PciId(const TPlatformPort& port)
{
    char text[16];
    std::snprintf(text, sizeof text, "%04x:%04x", unsigned(port.PciVendor) & 0xFFFFu,
                  unsigned(port.PciDevice) & 0xFFFFu);
    return text;
}

std::string PortDescription(const TPlatformPort& port)
{
    if (!port.LinkTarget.empty())
        return "link to " + port.LinkTarget;
    if (port.Vid >= 0) {
        std::string text = port.Product.empty() ? "USB serial adapter" : port.Product;
        if (!port.Manufacturer.empty() && text.find(port.Manufacturer) == std::string::npos)
            text += " (" + port.Manufacturer + ")";
        return text;
    }
    if (port.Bus == "pci")
        return "PCI serial card" + (port.PciVendor >= 0 ? " (" + PciId(port) + ")" : std::string());
    // Windows names every port's device itself ("Communications Port").
    if (!port.Product.empty())
        return port.Product;
    if (port.Bus == "pnp" || port.Bus == "platform" || port.Driver == "serial8250" || port.Driver == "serial" ||
        port.Driver == "port")
        return "built-in serial port";
    return port.Driver;
}

namespace {

std::string Candidates(const std::vector<TPlatformPort>& ports, bool byPath)
{
    std::string text;
    for (const TPlatformPort& p : ports) {
        if (p.Vid < 0)
            continue;
        const std::string key = byPath ? p.UsbPath : p.Serial;
        text += (text.empty() ? "" : ", ") + (key.empty() ? std::string("(none)") : key) + " on " + p.Name;
    }
    return text.empty() ? "no USB serial adapters are present" : "present: " + text;
}

} // namespace

std::string ResolvePortSelector(const std::string& selector, const std::vector<TPlatformPort>& ports)
{
    const bool bySerial = selector.rfind("usb:", 0) == 0;
    const bool byPath = selector.rfind("usb-path:", 0) == 0;
    if (!bySerial && !byPath)
        return selector;
    const std::string key = selector.substr(bySerial ? 4 : 9);
    std::vector<const TPlatformPort*> found;
    for (const TPlatformPort& p : ports) {
        if (p.Vid < 0)
            continue;
        // A socket given without its interface means the adapter's first one.
        const bool match = bySerial ? p.Serial == key : (p.UsbPath == key || p.UsbPath == key + ":1.0");
        if (match)
            found.push_back(&p);
    }
    const std::string what = bySerial ? "serial number " + key : "USB path " + key;
    if (found.empty())
        throw Exception("No USB serial adapter with " + what + " (" + Candidates(ports, byPath) + ")");
    if (found.size() > 1) {
        std::string names;
        for (const TPlatformPort* p : found)
            names += (names.empty() ? "" : ", ") + p->Name;
        throw Exception("More than one USB serial adapter with " + what + ": " + names);
    }
    return found[0]->Name;
}
