// What Windows knows of each COM port's device, from SetupAPI: the friendly name, the maker,
// the driver, and for a USB adapter its vendor and product id, serial number and socket; and
// the FTDI driver's latency timer in the device's parameters.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cfgmgr32.h>
#include <setupapi.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <functional>

#include "serial/serial_win32_devices.h"

namespace {

// The Ports setup class: every COM (and LPT) port Windows has installed.
const GUID PortsClass = {0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

bool SameName(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
           });
}

std::string Property(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property)
{
    char text[1024] = {};
    DWORD type = 0;
    if (!::SetupDiGetDeviceRegistryPropertyA(set, &device, property, &type, reinterpret_cast<BYTE*>(text),
                                             sizeof text - 2, nullptr))
        return {};
    return text; // a multi-string's first entry
}

// The device parameters key's PortName and, for an FTDI adapter, its LatencyTimer (-1: none).
void Parameters(HDEVINFO set, SP_DEVINFO_DATA& device, std::string& portName, int& latencyMs)
{
    latencyMs = -1;
    const HKEY key = ::SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE)
        return;
    char name[256] = {};
    DWORD size = sizeof name - 1, type = 0;
    if (::RegQueryValueExA(key, "PortName", nullptr, &type, reinterpret_cast<BYTE*>(name), &size) == ERROR_SUCCESS &&
        type == REG_SZ)
        portName = name;
    DWORD latency = 0;
    size = sizeof latency;
    if (::RegQueryValueExA(key, "LatencyTimer", nullptr, &type, reinterpret_cast<BYTE*>(&latency), &size) ==
            ERROR_SUCCESS &&
        type == REG_DWORD)
        latencyMs = static_cast<int>(latency);
    ::RegCloseKey(key);
}

int HexAfter(const std::string& id, const char* tag)
{
    const size_t at = id.find(tag);
    if (at == std::string::npos)
        return -1;
    const std::string digits = id.substr(at + std::strlen(tag), 4);
    if (digits.size() != 4 || !std::all_of(digits.begin(), digits.end(), ::isxdigit))
        return -1;
    return std::stoi(digits, nullptr, 16);
}

// A USB device's serial number is the last part of its instance id, unless Windows made one
// up because the device has none (those hold '&').
std::string SerialOfUsbId(const std::string& id)
{
    const size_t slash = id.rfind('\\');
    const std::string last = slash == std::string::npos ? std::string() : id.substr(slash + 1);
    return last.find('&') == std::string::npos ? last : std::string();
}

// FTDIBUS\VID_0403+PID_6001+A50285BIA\0000: the serial number with the channel letter the
// driver appends.
std::string SerialOfFtdiId(const std::string& id)
{
    const size_t plus = id.rfind('+'), slash = id.rfind('\\');
    if (plus == std::string::npos || slash == std::string::npos || slash < plus)
        return {};
    std::string serial = id.substr(plus + 1, slash - plus - 1);
    if (serial.size() > 1 && serial.back() >= 'A' && serial.back() <= 'D')
        serial.pop_back();
    return serial;
}

// The USB device above the port's device (an FTDI port's parent), or "" when there is none.
std::string ParentId(SP_DEVINFO_DATA& device)
{
    DEVINST parent = 0;
    char id[MAX_DEVICE_ID_LEN + 1] = {};
    if (::CM_Get_Parent(&parent, device.DevInst, 0) != CR_SUCCESS ||
        ::CM_Get_Device_IDA(parent, id, sizeof id, 0) != CR_SUCCESS)
        return {};
    return id;
}

void Describe(HDEVINFO set, SP_DEVINFO_DATA& device, TWin32Device& d)
{
    char id[MAX_DEVICE_ID_LEN + 1] = {};
    ::SetupDiGetDeviceInstanceIdA(set, &device, id, sizeof id, nullptr);
    d.InstanceId = id;
    d.FriendlyName = Property(set, device, SPDRP_FRIENDLYNAME);
    d.Manufacturer = Property(set, device, SPDRP_MFG);
    d.Service = Property(set, device, SPDRP_SERVICE);
    d.Location = Property(set, device, SPDRP_LOCATION_INFORMATION);
    const std::string hardware = Property(set, device, SPDRP_HARDWAREID);
    const std::string usb = ParentId(device);
    const std::string identity = usb.rfind("USB\\", 0) == 0 ? usb : d.InstanceId;
    for (const std::string& source : {identity, hardware, d.InstanceId}) {
        if (d.Vid < 0)
            d.Vid = HexAfter(source, "VID_");
        if (d.Pid < 0)
            d.Pid = HexAfter(source, "PID_");
    }
    if (identity.rfind("USB\\", 0) == 0)
        d.Serial = SerialOfUsbId(identity);
    else if (identity.rfind("FTDIBUS\\", 0) == 0)
        d.Serial = SerialOfFtdiId(identity);
}

void EachPortDevice(const std::function<void(HDEVINFO, SP_DEVINFO_DATA&)>& f)
{
    const HDEVINFO set = ::SetupDiGetClassDevsA(&PortsClass, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE)
        return;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; ::SetupDiEnumDeviceInfo(set, i, &device); ++i)
        f(set, device);
    ::SetupDiDestroyDeviceInfoList(set);
}

} // namespace

std::vector<TWin32Device> ListWin32Devices()
{
    std::vector<TWin32Device> devices;
    EachPortDevice([&](HDEVINFO set, SP_DEVINFO_DATA& device) {
        TWin32Device d;
        Parameters(set, device, d.PortName, d.LatencyTimerMs);
        if (d.PortName.rfind("COM", 0) != 0)
            return; // printer ports share the class
        Describe(set, device, d);
        devices.push_back(std::move(d));
    });
    return devices;
}

int Win32LatencyTimerMs(const std::string& portName)
{
    int latency = -1;
    EachPortDevice([&](HDEVINFO set, SP_DEVINFO_DATA& device) {
        std::string name;
        int ms = -1;
        Parameters(set, device, name, ms);
        if (SameName(name, portName))
            latency = ms;
    });
    return latency;
}
