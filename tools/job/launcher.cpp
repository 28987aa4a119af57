#include "job/launcher.h"

#include <QBuffer>
#include <QImage>

#include <filesystem>

#include "framework/forms/qt/image_qt.h"
#include "framework/graphics.h"
#include "framework/streams.h"

namespace job {
namespace {

// A desktop entry's string value: backslash and control characters escaped.
std::string EscapeValue(const std::string& text)
{
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        case '\r': out += "\\r"; break;
        default: out += c;
        }
    }
    if (!out.empty() && out[0] == ' ')
        out.replace(0, 1, "\\s");
    return out;
}

// A path that stands for itself in Exec: always quoted, with the characters the quoting
// reserves escaped, and % doubled so that it is no field code.
std::string ExecArgument(const std::string& path)
{
    std::string quoted = "\"";
    for (const char c : path) {
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            quoted += '\\';
        if (c == '%')
            quoted += '%';
        quoted += c;
    }
    return EscapeValue(quoted + "\"");
}

std::string AbsolutePath(const std::string& path)
{
    const std::string abs = std::filesystem::absolute(path).lexically_normal().string();
    for (const unsigned char c : abs)
        if (c < 0x20 || c == 0x7F)
            throw JobError(path + ": a desktop launcher cannot name a path with control characters");
    return abs;
}

std::vector<uint8_t> IconAsPng(const std::vector<uint8_t>& ico, const std::string& out)
{
    TMemoryStream stream;
    stream.LoadFrom(ico.data(), static_cast<int64_t>(ico.size()));
    TIcon icon;
    try {
        icon.LoadFromStream(stream);
    } catch (const std::exception& e) {
        throw JobError(out + ": the job's icon cannot be drawn for the launcher: " + e.what());
    }
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!ToQImage(icon.Image()).save(&buffer, "PNG"))
        throw JobError(out + ": the job's icon cannot be written as PNG for the launcher");
    return std::vector<uint8_t>(png.begin(), png.end());
}

} // namespace

Launcher MakeLauncher(const Job& job, const std::string& out)
{
    const std::string exec = AbsolutePath(out);
    Launcher l;
    l.desktopPath = out + ".desktop";
    std::string name = job.title.empty() ? job.identifier : job.title;
    if (name.empty())
        name = std::filesystem::path(exec).filename().string();
    l.desktopText =
        "[Desktop Entry]\nType=Application\nName=" + EscapeValue(name) + "\nExec=" + ExecArgument(exec) + "\n";
    if (!job.icon.empty()) {
        l.png = IconAsPng(job.icon, out);
        l.iconPath = out + ".png";
        l.desktopText += "Icon=" + EscapeValue(AbsolutePath(l.iconPath)) + "\n";
    }
    l.desktopText += "Terminal=false\nCategories=Development;Electronics;\n";
    return l;
}

} // namespace job
