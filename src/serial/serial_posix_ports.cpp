// The Linux serial port list: sysfs for real devices, links under /dev for virtual ones.
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "serial_platform.h"

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

} // namespace

int ListPlatformPorts(std::vector<TPlatformPort>& ports, const std::string& sysClassTty, const std::string& devDir)
{
    const fs::path sys(sysClassTty);
    int err = ForEachEntry(sys, [&](const fs::directory_entry& entry) {
        std::error_code ec;
        const fs::path dir = sys / entry.path().filename();
        if (!fs::exists(dir / "device", ec) || ec || IsPlaceholder(dir))
            return;
        ports.push_back({entry.path().filename().string()});
    });
    if (err != 0)
        return err;
    const fs::path dev = fs::path(devDir).lexically_normal();
    return ForEachEntry(dev, [&](const fs::directory_entry& entry) {
        if (IsPtyLink(entry, dev))
            ports.push_back({entry.path().filename().string()});
    });
}
