#include "unitsim/trace.h"

#include <cstdint>
#include <cstdio>

namespace unitsim {

void TraceLog::Restart()
{
    std::lock_guard<std::mutex> lock(FLock);
    FStart = std::chrono::steady_clock::now();
}

void TraceLog::Line(const std::string& line)
{
    if (!FKeep)
        return;
    std::lock_guard<std::mutex> lock(FLock);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%11.6f ",
                  std::chrono::duration<double>(std::chrono::steady_clock::now() - FStart).count());
    FText += stamp;
    FText += line;
    FText += '\n';
}

void TraceLog::BytesLine(const char* prefix, const std::string& bytes)
{
    if (FKeep)
        Line(prefix + HexBytes(bytes));
}

void TraceLog::Violation(const std::string& text)
{
    Line("VIOLATION: " + text);
    if (FToStderr)
        std::fprintf(stderr, "moravent-unitsim: host violation: %s\n", text.c_str());
    std::lock_guard<std::mutex> lock(FLock);
    FViolations.push_back(text);
}

std::string TraceLog::Text() const
{
    std::lock_guard<std::mutex> lock(FLock);
    return FText;
}

std::vector<std::string> TraceLog::Violations() const
{
    std::lock_guard<std::mutex> lock(FLock);
    return FViolations;
}

std::string HexBytes(const std::string& bytes)
{
    static const char Digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 3);
    for (const char c : bytes) {
        if (!out.empty())
            out += ' ';
        out += Digits[uint8_t(c) >> 4];
        out += Digits[uint8_t(c) & 15];
    }
    return out;
}

std::string Hex8(unsigned v)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02X", v & 0xFFu);
    return buf;
}

} // namespace unitsim
