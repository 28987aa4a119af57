// The Linux serial port list: sysfs for real devices, links under /dev for virtual ones.
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "serial/serial_platform.h"

namespace fs = std::filesystem;

namespace {

// Visits the entries of dir; a missing directory has none. Returns 0 or the error.
template <class F> int ForEachEntry(const fs::path& dir, F&& f)
{
    std::error_code ec;
    fs::directory_iterator it(dir, ec);
    if (ec)
        return ec == std::errc::no_such_file_or_directory ? 0 : ec.value();
    for (fs::directory_iterator end; it != end; it.increment(ec)) {
        if (ec)
            return ec.value();
        f(*it);
    }
    return ec.value();
}

bool IsPlaceholder(const fs::path& ttyDir)
{
    std::ifstream type(ttyDir / "type");
    if (!type)
        return false; // only serial-core ports carry a type
    std::string value;
    type >> value;
    return value == "0";
}

bool AllDigits(const std::string& s)
{
    return !s.empty() && std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c); });
}

// A link to devDir/pts/N (one step only: /dev/stdin and friends reach a pty through
// /proc and are not serial ports) whose slave still exists.
bool IsPtyLink(const fs::directory_entry& entry, const fs::path& devDir)
{
    std::error_code ec;
    if (!entry.is_symlink(ec) || ec)
        return false;
    fs::path target = fs::read_symlink(entry.path(), ec);
    if (ec)
        return false;
    if (target.is_relative())
        target = devDir / target;
    target = target.lexically_normal();
    if (target.parent_path() != (devDir / "pts").lexically_normal() || !AllDigits(target.filename().string()))
        return false;
    return fs::exists(target, ec) && !ec;
}

std::string ReadLine(const fs::path& file)
{
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\n'))
        line.pop_back();
    return line;
}

// Four hex digits at most, as USB ids (0403) and PCI ids (0x1415) are written.
int ReadHex(const fs::path& file)
{
    std::string text = ReadLine(file);
    if (text.rfind("0x", 0) == 0)
        text.erase(0, 2);
    if (text.empty() || text.size() > 4 || !std::all_of(text.begin(), text.end(), ::isxdigit))
        return -1;
    return std::stoi(text, nullptr, 16);
}

// The USB device above a tty's device: the interface (1-1.4:1.0) sits right below it, the
// usb-serial port (ttyUSB0) of a converter one level further down.
void ReadUsbIdentity(const fs::path& device, TPlatformPort& port)
{
    fs::path interface;
    fs::path p = device;
    for (int depth = 0; depth < 4 && p.has_relative_path(); ++depth, p = p.parent_path()) {
        if (fs::exists(p / "idVendor")) {
            port.Vid = ReadHex(p / "idVendor");
            port.Pid = ReadHex(p / "idProduct");
            port.Manufacturer = ReadLine(p / "manufacturer");
            port.Product = ReadLine(p / "product");
            port.Serial = ReadLine(p / "serial");
            port.UsbPath = interface.filename().string();
            return;
        }
        if (p.filename().string().find(':') != std::string::npos)
            interface = p;
    }
}

// The hardware behind a tty's device, past the serial core's port devices (the serial-base
// bus of Linux 6.5 and later sits between the tty and the card): its bus, and a PCI card's ids.
void ReadBus(const fs::path& device, TPlatformPort& port)
{
    fs::path p = device;
    for (int depth = 0; depth < 3 && p.has_relative_path(); ++depth, p = p.parent_path()) {
        std::error_code ec;
        const std::string bus = fs::read_symlink(p / "subsystem", ec).filename().string();
        if (ec)
            return;
        if (bus == "serial-base")
            continue;
        port.Bus = bus;
        if (bus == "pci") {
            port.PciVendor = ReadHex(p / "vendor");
            port.PciDevice = ReadHex(p / "device");
        }
        return;
    }
}

TPlatformPort DevicePort(const std::string& name, const fs::path& ttyDir, const fs::path& devDir)
{
    TPlatformPort port;
    port.Name = name;
    port.Path = (devDir / name).string();
    std::error_code ec;
    const fs::path device = fs::canonical(ttyDir / "device", ec);
    if (ec)
        return port;
    const fs::path driver = fs::read_symlink(device / "driver", ec);
    if (!ec)
        port.Driver = driver.filename().string();
    ReadUsbIdentity(device, port);
    if (port.Vid >= 0)
        port.Bus = "usb"; // the tty's own device may be a usb-serial port below the interface
    else
        ReadBus(device, port);
    return port;
}

} // namespace

int ListPlatformPorts(std::vector<TPlatformPort>& ports, const std::string& sysClassTty, const std::string& devDirName)
{
    const fs::path sys(sysClassTty);
    const fs::path devDir(devDirName);
    int err = ForEachEntry(sys, [&](const fs::directory_entry& entry) {
        std::error_code ec;
        const fs::path dir = sys / entry.path().filename();
        if (!fs::exists(dir / "device", ec) || ec || IsPlaceholder(dir))
            return;
        ports.push_back(DevicePort(entry.path().filename().string(), dir, devDir));
    });
    if (err != 0)
        return err;
    const fs::path dev = devDir.lexically_normal();
    return ForEachEntry(dev, [&](const fs::directory_entry& entry) {
        if (!IsPtyLink(entry, dev))
            return;
        TPlatformPort port;
        port.Name = entry.path().filename().string();
        port.Path = entry.path().string();
        std::error_code ec;
        fs::path target = fs::read_symlink(entry.path(), ec);
        port.LinkTarget = (target.is_relative() ? dev / target : target).lexically_normal().string();
        port.Driver = "pty";
        ports.push_back(std::move(port));
    });
}

int LatencyTimerMs(const std::string& portName, const std::string& sysClassTty)
{
    // A link names its tty through the link target (/dev/ttyMV -> /dev/ttyUSB0).
    std::error_code ec;
    const std::string path = SerialDevicePath(portName);
    if (path.empty())
        return -1;
    fs::path node = fs::canonical(path, ec);
    if (ec)
        node = path;
    const std::string text = ReadLine(fs::path(sysClassTty) / node.filename() / "device" / "latency_timer");
    if (text.empty() || text.size() > 6 || !std::all_of(text.begin(), text.end(), ::isdigit))
        return -1;
    return std::stoi(text);
}
