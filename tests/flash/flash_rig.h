#pragma once
// Shared test rig: a simulated unit on a pseudo-terminal, a flash controller wired to it,
// recording status/progress sinks, a scriptable prompt and a captured communications log.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "flash/fdt.h"
#include "flash/h83664.h"
#include "flash/userprompt.h"
#include "framework/file_input.h"
#include "framework/streams.h"
#include "serial/comms.h"
#include "serial/logging.h"
#include "unitsim/unitsim.h"

namespace flashtest {

struct RecordingSinks : IStatusSink, IProgressSink {
    std::vector<std::string> Statuses;
    std::vector<std::string> Events; // "range 0 100", "step 1", "pos 0", "by 128"
    int Min = 0, Max = 100, Pos = 0;
    std::function<void()> OnStepBy;

    void SetStatusText(const std::string& text) override { Statuses.push_back(text); }
    void SetRange(int min, int max) override
    {
        Min = min;
        Max = max;
        Events.push_back("range " + std::to_string(min) + " " + std::to_string(max));
    }
    void SetStep(int step) override { Events.push_back("step " + std::to_string(step)); }
    void SetPosition(int position) override
    {
        Pos = position;
        Events.push_back("pos " + std::to_string(position));
    }
    void StepBy(int delta) override
    {
        Pos = std::min(Max, Pos + delta);
        Events.push_back("by " + std::to_string(delta));
        if (OnStepBy)
            OnStepBy();
    }
    int Position() const override { return Pos; }
};

struct StubPrompt : TUserPrompt {
    std::vector<std::string> Calls;
    int CancelAfter = -1; // Cancelled() turns true on its n-th call (1-based); -1 never
    int CancelChecks = 0;
    void ShowPrompt(const std::string& text) override { Calls.push_back("show " + text); }
    bool Cancelled() override
    {
        ++CancelChecks;
        return CancelAfter > 0 && CancelChecks >= CancelAfter;
    }
    void HidePrompt() override { Calls.push_back("hide"); }
};

// Starts the communications log into a fresh file and reads it back without time stamps.
class LogCapture {
public:
    LogCapture()
    {
        Path = (std::filesystem::temp_directory_path() /
                ("flashtest_log_" + std::to_string(::getpid()) + "_" + std::to_string(++Counter()) + ".txt"))
                   .string();
        std::filesystem::remove(Path);
        CommsLoggingInit(Path);
    }
    ~LogCapture()
    {
        CommsLoggingDestroy();
        std::filesystem::remove(Path);
    }
    // Every line after its "yyyy-mm-dd hh:mm:ss.zzz: " stamp.
    std::vector<std::string> Lines() const
    {
        const std::string text = std::filesystem::exists(Path) ? ReadFileBytes(Path, size_t(1) << 30) : "";
        std::vector<std::string> lines;
        size_t start = 0;
        for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
            lines.push_back(text.substr(start, end - start).substr(std::min<size_t>(25, end - start)));
        return lines;
    }
    // Protocol step lines only (no data lines, no start/stop lines).
    std::vector<std::string> StepLines() const
    {
        std::vector<std::string> out;
        for (const std::string& l : Lines())
            if (l.rfind("TFlashFDTDevice.", 0) == 0 || l.rfind("THitachiFlash.", 0) == 0 ||
                l.rfind("TBriskoComPort.", 0) == 0)
                out.push_back(l);
        return out;
    }

private:
    static int& Counter()
    {
        static int n = 0;
        return n;
    }
    std::string Path;
};

// Runs pending events for about ms milliseconds (keep-alive ticks arrive this way).
inline void Pump(int ms)
{
    TBriskoComPort::Delay(ms);
}

// The bytes one side put on the line, each with the trace's stamp of its line: for the host
// when the unit read it (unpaced, its arrival), for the unit when it sent it.
struct Timeline {
    std::string Data;
    std::vector<double> At; // per byte of Data: seconds since the unit started

    Timeline(const std::string& trace, const std::string& tag)
    {
        std::istringstream in(trace);
        std::string line;
        while (std::getline(in, line)) {
            const size_t at = line.find(tag);
            if (at == std::string::npos)
                continue;
            const double stamp = std::stod(line);
            std::istringstream hex(line.substr(at + tag.size()));
            unsigned v;
            while (hex >> std::hex >> v) {
                Data += char(v);
                At.push_back(stamp);
            }
        }
    }
};

// The stamp of the first "note: text" line; NaN when there is none.
inline double NoteTime(const std::string& trace, const std::string& text)
{
    const size_t at = trace.find(" note: " + text + "\n");
    if (at == std::string::npos)
        return std::nan("");
    const size_t start = trace.rfind('\n', at);
    return std::stod(trace.substr(start == std::string::npos ? 0 : start + 1));
}

struct Rig {
    unitsim::SimConfig Config;
    std::unique_ptr<unitsim::UnitSimulator> Sim;
    RecordingSinks Sinks;
    StubPrompt Prompt;
    std::unique_ptr<THitachiFlash> Flash;
    std::unique_ptr<TBriskoComPort> OperatorPort;

    // The controller's description of the unit; the simulator's identity may differ.
    uint16_t Seed = 0x0081;
    int32_t FlashStart = 0x1800;
    int32_t FlashLength = 256000;

    Rig() { Config.keepTrace = true; }

    // Starts the unit and a controller whose description matches it; the programming
    // phase runs at 57600 bit/s so the register is really scaled.
    void Start()
    {
        Sim = std::make_unique<unitsim::UnitSimulator>(Config);
        Sim->Start();
        Flash = std::make_unique<THitachiFlash>(nullptr, &Sinks, &Sinks, &Prompt);
        Flash->FlashStart = FlashStart;
        Flash->FlashLength = FlashLength;
        Flash->FlashCheckSeed = Seed;
        Flash->ConnectionInfo.BootConnect = Config.bootConnect;
        Flash->ConnectionInfo.UserConnect = Config.userConnect;
        Flash->ConnectionInfo.ConnectResponse = Config.connectResponse;
        Flash->ComProgram()->SetBaudRate(br57600);
        OperatorPort = std::make_unique<TBriskoComPort>(nullptr);
        OperatorPort->SetPort(Sim->SlavePath());
    }

    void Select(uint8_t method, uint8_t useDTR = 1)
    {
        TConnectChoice choice;
        choice.ConnectMethod = method;
        choice.UseDTR = useDTR;
        choice.Port = OperatorPort.get();
        Flash->SelectConnection(choice);
    }

    void Connect(uint8_t method)
    {
        Select(method);
        Flash->Connect();
    }

    ~Rig()
    {
        if (Flash)
            Flash->Disconnect();
        if (Sim)
            Sim->Stop();
    }

    // Every byte the host sent, in order, from the simulator's trace.
    std::string HostBytes() const { return SideBytes("host> "); }
    std::string UnitBytes() const { return SideBytes("unit> "); }

private:
    std::string SideBytes(const std::string& tag) const { return Timeline(Sim->Trace(), tag).Data; }
};

inline std::string Bytes(std::initializer_list<int> b)
{
    std::string s;
    for (int v : b)
        s += char(v);
    return s;
}

// A 32-bit value as it travels: most significant byte first.
inline std::string BE32(uint32_t v)
{
    return Bytes({int(v >> 24), int((v >> 16) & 0xFF), int((v >> 8) & 0xFF), int(v & 0xFF)});
}

// An image of n bytes with a recognisable pattern.
inline std::vector<uint8_t> Pattern(size_t n, uint8_t salt = 0)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = uint8_t(i * 7 + (i >> 8) + salt);
    return v;
}

inline void Fill(TMemoryStream& s, const std::vector<uint8_t>& bytes)
{
    s.LoadFrom(bytes.data(), int64_t(bytes.size()));
}

} // namespace flashtest
