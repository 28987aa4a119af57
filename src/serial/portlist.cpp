#include "portlist.h"

#include "CPort.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

namespace {

[[noreturn]] void Fail(const std::error_code& ec)
{
    throw EComPort(CError_RegError, ec.value());
}

// Iterates the entries of dir; a missing directory has none, any other failure raises.
template <class F> void ForEachEntry(const fs::path& dir, F&& f)
{
    std::error_code ec;
    fs::directory_iterator it(dir, ec);
    if (ec) {
        if (ec == std::errc::no_such_file_or_directory)
            return;
        Fail(ec);
    }
    for (fs::directory_iterator end; it != end; it.increment(ec)) {
        if (ec)
            Fail(ec);
        f(*it);
    }
    if (ec)
        Fail(ec);
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
    std::vector<std::string> names;
    const fs::path sys(sysClassTty);
    ForEachEntry(sys, [&](const fs::directory_entry& entry) {
        std::error_code ec;
        fs::path dir = sys / entry.path().filename();
        if (!fs::exists(dir / "device", ec) || ec)
            return;
        if (IsPlaceholder(dir))
            return;
        names.push_back(entry.path().filename().string());
    });
    const fs::path dev = fs::path(devDir).lexically_normal();
    ForEachEntry(dev, [&](const fs::directory_entry& entry) {
        if (IsPtyLink(entry, dev))
            names.push_back(entry.path().filename().string());
    });
    std::sort(names.begin(), names.end(), PortNameLess);
    names.erase(std::unique(names.begin(), names.end()), names.end());
    strings = std::move(names);
}
