#include "app/flash_cli/port_commands.h"

#include <unistd.h>

#include <cstdio>
#include <nlohmann/json.hpp>

#include "framework/cmdline.h"
#include "serial/CPort.h"
#include "serial/portlist.h"
#include "serial/serial_platform.h"

namespace {

std::string Hex4(int v)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04x", unsigned(v) & 0xFFFFu);
    return buf;
}

nlohmann::ordered_json TextOrNull(const std::string& s)
{
    return s.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(s);
}

void PrintJson(const std::vector<TPlatformPort>& ports)
{
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const TPlatformPort& p : ports) {
        nlohmann::ordered_json o;
        o["name"] = p.Name;
        o["path"] = TextOrNull(p.Path);
        o["driver"] = TextOrNull(p.Driver);
        o["vid"] = p.Vid >= 0 ? nlohmann::ordered_json(Hex4(p.Vid)) : nlohmann::ordered_json(nullptr);
        o["pid"] = p.Pid >= 0 ? nlohmann::ordered_json(Hex4(p.Pid)) : nlohmann::ordered_json(nullptr);
        o["manufacturer"] = TextOrNull(p.Manufacturer);
        o["product"] = TextOrNull(p.Product);
        o["serial"] = TextOrNull(p.Serial);
        o["usb_path"] = TextOrNull(p.UsbPath);
        o["bus"] = TextOrNull(p.Bus);
        o["pci_id"] = p.PciVendor >= 0 ? nlohmann::ordered_json(PciId(p)) : nlohmann::ordered_json(nullptr);
        list.push_back(std::move(o));
    }
    std::printf("%s\n", list.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
}

// One port a line, the name first, so scripts that took the old name-per-line list can
// still cut the first column; the heading only for a person at a terminal.
void PrintTable(const std::vector<TPlatformPort>& ports)
{
    std::vector<std::vector<std::string>> rows;
    if (::isatty(STDOUT_FILENO))
        rows.push_back({"NAME", "DESCRIPTION", "VID:PID", "SERIAL"});
    for (const TPlatformPort& p : ports)
        rows.push_back({p.Name, PortDescription(p), p.Vid >= 0 ? Hex4(p.Vid) + ":" + Hex4(p.Pid) : "-",
                        p.Serial.empty() ? "-" : p.Serial});
    size_t width[3] = {};
    for (const auto& row : rows)
        for (size_t i = 0; i < 3; ++i)
            width[i] = std::max(width[i], row[i].size());
    for (const auto& row : rows)
        std::printf("%-*s  %-*s  %-*s  %s\n", int(width[0]), row[0].c_str(), int(width[1]), row[1].c_str(),
                    int(width[2]), row[2].c_str(), row[3].c_str());
}

bool SamePort(const TPlatformPort& p, const std::string& port)
{
    return p.Name == port || p.Path == port || (!p.Path.empty() && p.Path == SerialDevicePath(port));
}

} // namespace

int ListPortsCommand(bool json)
{
    std::vector<TPlatformPort> ports;
    try {
        ports = ListSerialPortInfo();
    } catch (const Exception& e) {
        std::fprintf(stderr, "%s\n", WithFullStop(e.message()).c_str());
        return ExitFailed;
    }
    if (json)
        PrintJson(ports);
    else
        PrintTable(ports);
    return ExitOk;
}

std::string ResolvePort(const std::string& selector)
{
    if (selector.rfind("usb:", 0) != 0 && selector.rfind("usb-path:", 0) != 0)
        return selector;
    return ResolvePortSelector(selector, ListSerialPortInfo());
}

nlohmann::ordered_json PortUsbJson(const std::string& port)
{
    std::vector<TPlatformPort> ports;
    try {
        ports = ListSerialPortInfo();
    } catch (const std::exception&) {
        return nullptr;
    }
    for (const TPlatformPort& p : ports)
        if (SamePort(p, port) && p.Vid >= 0)
            return {{"vid", Hex4(p.Vid)},
                    {"pid", Hex4(p.Pid)},
                    {"serial", TextOrNull(p.Serial)},
                    {"usb_path", TextOrNull(p.UsbPath)}};
    return nullptr;
}
