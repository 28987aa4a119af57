#pragma once
// The simulator's record: every byte both ways and the unit's notes, stamped on one clock,
// and the host behaviour that broke the protocol. Safe to use from any thread.
#include <chrono>
#include <mutex>
#include <string>
#include <vector>

namespace unitsim {

class TraceLog {
public:
    // keep: keep the lines in memory (Text()); toStderr: also print each violation.
    TraceLog(bool keep, bool toStderr) : FKeep(keep), FToStderr(toStderr) { }

    void Restart(); // stamps count from now
    void Line(const std::string& line);
    // prefix and bytes in hex; formatted only when kept, as it runs for every chunk on the line.
    void BytesLine(const char* prefix, const std::string& bytes);
    void Note(const std::string& text) { Line("note: " + text); }
    void Violation(const std::string& text);

    std::string Text() const;
    std::vector<std::string> Violations() const;

private:
    const bool FKeep, FToStderr;
    mutable std::mutex FLock;
    std::chrono::steady_clock::time_point FStart = std::chrono::steady_clock::now();
    std::string FText;
    std::vector<std::string> FViolations;
};

// "63 DE 3D 96"
std::string HexBytes(const std::string& bytes);
// "0x0A"
std::string Hex8(unsigned v);

} // namespace unitsim
