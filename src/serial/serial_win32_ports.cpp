// The Windows serial port list (the registry's SERIALCOMM key) and what the Windows
// errors of an open mean for a person.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>

#include "serial/serial_platform.h"
#include "serial/serial_win32_devices.h"

namespace {

constexpr const char* SerialCommKey = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

} // namespace

// The names of the ports under keyPath (HKEY_LOCAL_MACHINE); a key that does not exist, as
// on a computer without serial ports, holds none.
int ListRegistryPorts(std::vector<TPlatformPort>& ports, const char* keyPath)
{
    HKEY key = nullptr;
    const LONG opened = ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &key);
    if (opened == ERROR_FILE_NOT_FOUND)
        return 0;
    if (opened != ERROR_SUCCESS)
        return int(opened);
    std::vector<TPlatformPort> found;
    LONG result = ERROR_SUCCESS;
    for (DWORD index = 0;; ++index) {
        char name[256];
        BYTE data[256];
        DWORD nameSize = sizeof name, dataSize = sizeof data - 1, type = 0;
        result = ::RegEnumValueA(key, index, name, &nameSize, nullptr, &type, data, &dataSize);
        if (result == ERROR_NO_MORE_ITEMS) {
            result = ERROR_SUCCESS;
            break;
        }
        if (result != ERROR_SUCCESS)
            break; // a name or value too long for its buffer is 234, as the list has always said
        data[dataSize] = 0;
        TPlatformPort port;
        port.Name = reinterpret_cast<const char*>(data);
        port.Path = SerialDevicePath(port.Name);
        port.Driver = name; // the value's name is the driver's device (\Device\Serial0, ...)
        found.push_back(std::move(port));
    }
    ::RegCloseKey(key);
    if (result != ERROR_SUCCESS)
        return int(result);
    ports.insert(ports.end(), found.begin(), found.end());
    return 0;
}

namespace {

// "USB Serial Port (COM5)" without the port it names.
std::string WithoutPortName(const std::string& friendly, const std::string& port)
{
    const std::string tail = " (" + port + ")";
    return friendly.size() > tail.size() && friendly.compare(friendly.size() - tail.size(), tail.size(), tail) == 0
        ? friendly.substr(0, friendly.size() - tail.size())
        : friendly;
}

void TakeDevice(TPlatformPort& port, const TWin32Device& d)
{
    port.Product = WithoutPortName(d.FriendlyName, d.PortName);
    port.Manufacturer = d.Manufacturer;
    if (!d.Service.empty())
        port.Driver = d.Service;
    port.Vid = d.Vid;
    port.Pid = d.Vid >= 0 ? d.Pid : -1;
    if (d.Vid >= 0) {
        port.Serial = d.Serial;
        port.UsbPath = d.Location;
        port.Bus = "usb";
    }
}

} // namespace

int ListPlatformPorts(std::vector<TPlatformPort>& ports, const std::string&, const std::string&)
{
    const size_t first = ports.size();
    if (const int err = ListRegistryPorts(ports, SerialCommKey); err != 0)
        return err;
    // What SetupAPI knows of each port's device; a present port the device map lacks is added.
    for (const TWin32Device& d : ListWin32Devices()) {
        auto known = std::find_if(ports.begin() + first, ports.end(), [&](const TPlatformPort& p) {
            return ::lstrcmpiA(p.Name.c_str(), d.PortName.c_str()) == 0;
        });
        if (known == ports.end()) {
            TPlatformPort port;
            port.Name = d.PortName;
            port.Path = SerialDevicePath(port.Name);
            ports.push_back(port);
            known = ports.end() - 1;
        }
        TakeDevice(*known, d);
    }
    return 0;
}

int LatencyTimerMs(const std::string& portName, const std::string&)
{
    return Win32LatencyTimerMs(portName);
}

std::vector<std::string> DiagnoseOpenFailure(const std::string& portName, int systemError,
                                             const std::vector<TPlatformPort>& ports)
{
    switch (systemError) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return MissingPortLines(portName, ports);
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return {portName +
                " is in use by another program (a terminal, another programmer, a modem or sync "
                "tool): close it and try again."};
    case ERROR_GEN_FAILURE:
    case ERROR_DEVICE_NOT_CONNECTED: return {portName + " does not answer: the adapter was unplugged or has failed."};
    default: return {};
    }
}

std::vector<std::string> DiagnoseLineFailure(const std::string& portName, int systemError)
{
    char target[512];
    if (::QueryDosDeviceA(portName.c_str(), target, sizeof target) == 0 && ::GetLastError() == ERROR_FILE_NOT_FOUND)
        return {"The port " + portName + " has gone: the adapter was unplugged, or the line's far end hung up."};
    if (systemError == ERROR_DEVICE_NOT_CONNECTED || systemError == ERROR_GEN_FAILURE ||
        systemError == ERROR_BAD_COMMAND || systemError == ERROR_OPERATION_ABORTED)
        return {"The line to the unit went dead: the adapter was unplugged, or the far end hung up."};
    return {};
}

bool ModemManagerRunning()
{
    return false;
}

std::string LatencyTimerFix()
{
    return "set it to 1 ms in Device Manager: the port's Properties, Port Settings, Advanced, Latency Timer (msec)";
}
