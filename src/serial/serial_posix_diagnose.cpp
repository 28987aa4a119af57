// Why a serial port could not be opened, in words for a person: file modes, groups and
// the processes that hold a device, read from the system.
#include <dirent.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "serial/serial_platform.h"

namespace fs = std::filesystem;

namespace {

std::string UserName(uid_t uid)
{
    const passwd* pw = ::getpwuid(uid);
    return pw ? pw->pw_name : std::to_string(uid);
}

std::string GroupName(gid_t gid)
{
    const group* gr = ::getgrgid(gid);
    return gr ? gr->gr_name : std::to_string(gid);
}

std::string ModeText(mode_t mode)
{
    std::string text = S_ISCHR(mode) ? "c" : S_ISDIR(mode) ? "d" : "-";
    const char* rwx = "rwxrwxrwx";
    for (int i = 0; i < 9; ++i)
        text += (mode & (0400 >> i)) ? rwx[i] : '-';
    return text;
}

bool InGroup(gid_t gid)
{
    if (::getegid() == gid)
        return true;
    std::vector<gid_t> groups(size_t(std::max(0, ::getgroups(0, nullptr))));
    const int n = ::getgroups(int(groups.size()), groups.data());
    return n > 0 && std::find(groups.begin(), groups.begin() + n, gid) != groups.begin() + n;
}

// True when the group's member list names the user although this process is not in it:
// the user was added after this session began.
bool ListedInGroup(gid_t gid, const std::string& user)
{
    const group* gr = ::getgrgid(gid);
    for (char** m = gr ? gr->gr_mem : nullptr; m && *m; ++m)
        if (user == *m)
            return true;
    return false;
}

std::vector<std::string> PermissionLines(const std::string& path)
{
    struct stat st { };
    std::string target = path;
    std::error_code ec;
    const fs::path real = fs::canonical(path, ec);
    if (!ec)
        target = real.string();
    if (::stat(target.c_str(), &st) != 0)
        return {"Permission denied on " + path + "."};
    const std::string user = UserName(::geteuid());
    const std::string group = GroupName(st.st_gid);
    const std::string where = target == path ? path : path + " (" + target + ")";
    std::vector<std::string> lines;
    lines.push_back("Permission denied: " + where + " belongs to " + UserName(st.st_uid) + ", group " + group + " (" +
                    ModeText(st.st_mode) + "), and user " + user + (InGroup(st.st_gid) ? " is" : " is not") +
                    " in group " + group + ".");
    if ((st.st_mode & 060) == 060 && !InGroup(st.st_gid)) {
        if (ListedInGroup(st.st_gid, user))
            lines.push_back("User " + user + " was added to group " + group +
                            " after this session began: log out and in again.");
        else
            lines.push_back("Fix: sudo usermod -aG " + group + " \"$USER\", then log out and in again.");
    } else {
        lines.push_back("Fix: give group dialout access to the port (the udev rules in " + UdevRulesPath() +
                        " do it for USB adapters), then: sudo usermod -aG dialout \"$USER\", and log out and in "
                        "again.");
    }
    return lines;
}

std::string ProcessName(const std::string& pid)
{
    std::ifstream in("/proc/" + pid + "/comm");
    std::string name;
    std::getline(in, name);
    return name;
}

// The command a process runs, its arguments joined by spaces and cut to fit a line; the
// short name in comm for one without arguments (a kernel thread, a zombie).
std::string ProcessCommand(const std::string& pid)
{
    constexpr size_t MostChars = 100;
    std::ifstream in("/proc/" + pid + "/cmdline", std::ios::binary);
    std::string text(MostChars + 1, '\0');
    in.read(text.data(), std::streamsize(text.size()));
    text.resize(size_t(in.gcount()));
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20)
            c = ' '; // the separating NULs, and line ends inside an argument
    text.erase(text.find_last_not_of(' ') + 1);
    if (text.empty())
        return ProcessName(pid);
    return text.size() > MostChars ? text.substr(0, MostChars - 3) + "..." : text;
}

template <class F> void ForEachProcess(F&& f)
{
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return;
    while (const dirent* e = ::readdir(proc)) {
        const std::string pid = e->d_name;
        if (!pid.empty() && std::all_of(pid.begin(), pid.end(), ::isdigit))
            f(pid);
    }
    ::closedir(proc);
}

std::vector<std::string> BusyLines(const std::string& path)
{
    std::error_code ec;
    fs::path real = fs::canonical(path, ec);
    if (ec)
        real = path;
    const std::string self = std::to_string(::getpid());
    std::vector<std::string> holders;
    ForEachProcess([&](const std::string& pid) {
        if (pid == self)
            return;
        std::error_code dirEc;
        for (fs::directory_iterator it("/proc/" + pid + "/fd", dirEc), end; !dirEc && it != end; it.increment(dirEc)) {
            std::error_code linkEc;
            if (fs::read_symlink(it->path(), linkEc) == real && !linkEc) {
                holders.push_back("process " + pid + " (" + ProcessCommand(pid) + ")");
                return;
            }
        }
    });
    if (holders.empty())
        return {"Another program holds " + path + " (an exclusive lock, or a process this user may not look into)."};
    std::string text;
    for (const std::string& h : holders)
        text += (text.empty() ? "" : ", ") + h;
    return {path + " is held by " + text + "."};
}

} // namespace

std::vector<std::string> DiagnoseOpenFailure(const std::string& portName, int systemError,
                                             const std::vector<TPlatformPort>& ports)
{
    const std::string path = SerialDevicePath(portName);
    switch (systemError) {
    case EACCES:
    case EPERM: return PermissionLines(path.empty() ? portName : path);
    case EBUSY:
    case EWOULDBLOCK: return BusyLines(path);
    case ENOENT:
    case ENODEV:
    case ENXIO: return MissingPortLines(portName, ports);
    case EISDIR: return {path + " is a directory, not a serial port."};
    case ENOTTY: return {(path.empty() ? portName : path) + " is not a serial port (not a terminal device)."};
    default: return {};
    }
}

bool ModemManagerRunning()
{
    bool found = false;
    ForEachProcess([&](const std::string& pid) {
        if (!found && ProcessName(pid) == "ModemManager")
            found = true;
    });
    return found;
}

std::vector<std::string> DiagnoseLineFailure(const std::string& portName, int systemError)
{
    if (const std::string path = SerialDevicePath(portName); !path.empty() && ::access(path.c_str(), F_OK) != 0)
        return {"The port " + portName + " has gone: the adapter was unplugged, or the line's far end hung up."};
    if (systemError == EIO || systemError == ENXIO || systemError == ENODEV)
        return {"The line to the unit went dead: the adapter was unplugged, or the far end hung up."};
    return {};
}

std::string LatencyTimerFix()
{
    return "the udev rule in " + UdevRulesPath() + " sets it to 1 ms";
}
