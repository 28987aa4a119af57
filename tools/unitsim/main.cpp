// moravent-unitsim: a simulated unit on a pseudo-terminal, for trying the programmer
// without hardware. Prints the slave's path as its first line and serves until a signal.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <stdexcept>
#include <functional>
#include <string>
#include <vector>

#include "framework/cmdline.h"
#include "unitsim/unitsim.h"

namespace {

const char* const Usage = R"(usage: moravent-unitsim [options]

Simulates the unit (its running application and its boot loader) on a pseudo-terminal.
The first line on standard output is the path of the serial port to give the programmer.
Serves until SIGINT/SIGTERM, or until the finish command with --exit-after-finish.

Unit:
  --identity SEED,START,LENGTH,NAME  identity reported (default 0x81,0x1800,256000,MORAVENT SIM UNIT);
                                     the flash covers START..START+LENGTH
  --boot-connect TEXT      boot connect string, %xx escapes allowed (default SyNcBoOt)
  --user-connect TEXT      user connect string (default %02XM5281%03)
  --connect-response TEXT  reply to either connect string (default SyNcBoOt)
  --no-application         the application does not answer the user connect
  --boot-loader            start in the boot loader (no connect string needed)
  --boot-answer-from N     answer the boot connect from attempt N on (default 1; 0 never)
  --boot-never             never answer the boot connect (the unit is never reset)
  --boot-wrong-at N        answer boot connect attempt N with a full but wrong reply
  --register BYTE          baud-rate register reported (default 0x40)
  --erase-verdict BYTE     erase verdict: 0x24 '$' erased (default), 0x25 '%' failure, or any byte
  --fill BYTE              flash contents before the first erase (default 0x00)

Faults:
  --fault REPLY=KIND[@N]   spoil a reply: REPLY is connect, register, ack, identity, erase,
                           program-block, program-final, verify-block or verify-final; KIND is
                           wrong, short, missing or hangup (the line goes dead instead); @N only
                           the N-th time (block replies: block N of each transfer). Repeatable.
  --fail-program-block K   reply '#' to program block K (above the block count: to the end marker)
  --fail-verify-block K    the same for verify
  --silent-from-program-block K / --silent-from-verify-block K
                           say nothing more from that block on
  --hangup-at-program-block K / --hangup-at-verify-block K
                           close the line on receiving that block
  --block-delay MS         flash write time per programmed block
  --erase-delay MS         erase time
  --reply-delay REPLY=MS   wait MS before each such reply (REPLY as for --fault); repeatable

Line and output:
  --pace                   send and take in bytes no faster than the bit rate the host set
  --latency MS             hold the unit's bytes up to MS ms, as a USB adapter's latency timer
                           does (sent together when the timer, restarted with every packet,
                           next expires, or once 62 bytes have gathered)
  --link PATH              also make PATH a symbolic link to the slave (removed at exit, and at
                           a hang-up, as an unplugged adapter's device goes)
  --dump FILE              write the flash contents to FILE at exit
  --trace FILE             write every byte both ways, with time stamps, to FILE at exit
  --exit-after-finish      exit once the host has sent the finish command
  --help                   this text
  --version                the program's name and version

Host behaviour that breaks the protocol is reported on standard error and in the trace.
Exit status: 0; 1 when the unit cannot be set up as asked (a pseudo-terminal that cannot be
made, a bad connect string), or --link, --dump or --trace fails; 2 for a usage error.
)";

long long Number(const std::string& opt, const std::string& text, long long lo, long long hi)
{
    size_t used = 0;
    long long v = 0;
    try {
        v = std::stoll(text, &used, 0);
    } catch (const std::exception&) {
        used = 0;
    }
    if (text.empty() || used != text.size() || v < lo || v > hi)
        throw std::invalid_argument(opt + " \"" + text + "\": expected a number in " + std::to_string(lo) + ".." +
                                    std::to_string(hi));
    return v;
}

unitsim::Reply ReplyNamed(const std::string& opt, const std::string& name)
{
    static const std::map<std::string, unitsim::Reply> replies = {{"connect", unitsim::Reply::Connect},
                                                                  {"register", unitsim::Reply::Register},
                                                                  {"ack", unitsim::Reply::Ack},
                                                                  {"identity", unitsim::Reply::Identity},
                                                                  {"erase", unitsim::Reply::Erase},
                                                                  {"program-block", unitsim::Reply::ProgramBlock},
                                                                  {"program-final", unitsim::Reply::ProgramFinal},
                                                                  {"verify-block", unitsim::Reply::VerifyBlock},
                                                                  {"verify-final", unitsim::Reply::VerifyFinal}};
    const auto r = replies.find(name);
    if (r == replies.end())
        throw std::invalid_argument(opt + ": unknown reply \"" + name + "\"");
    return r->second;
}

// REPLY=MS
void ParseReplyDelay(const std::string& text, unitsim::SimConfig& cfg)
{
    const size_t eq = text.find('=');
    if (eq == std::string::npos)
        throw std::invalid_argument("--reply-delay \"" + text + "\": expected REPLY=MS");
    cfg.replyDelay(ReplyNamed("--reply-delay", text.substr(0, eq))) =
        int(Number("--reply-delay", text.substr(eq + 1), 0, 600000));
}

void ParseFault(const std::string& text, unitsim::SimConfig& cfg)
{
    static const std::map<std::string, unitsim::FaultKind> kinds = {{"wrong", unitsim::FaultKind::Wrong},
                                                                    {"short", unitsim::FaultKind::Short},
                                                                    {"missing", unitsim::FaultKind::Missing},
                                                                    {"hangup", unitsim::FaultKind::HangUp}};
    const size_t eq = text.find('=');
    if (eq == std::string::npos)
        throw std::invalid_argument("--fault \"" + text + "\": expected REPLY=KIND[@N]");
    const std::string reply = text.substr(0, eq);
    std::string kind = text.substr(eq + 1);
    int at = 0;
    if (const size_t atPos = kind.find('@'); atPos != std::string::npos) {
        at = int(Number("--fault", kind.substr(atPos + 1), 1, 1000000));
        kind.resize(atPos);
    }
    const unitsim::Reply r = ReplyNamed("--fault", reply);
    const auto k = kinds.find(kind);
    if (k == kinds.end())
        throw std::invalid_argument("--fault: unknown kind \"" + kind + "\" (wrong, short, missing or hangup)");
    cfg.fault(r) = {k->second, at};
}

struct Options {
    unitsim::SimConfig cfg;
    std::string link, dump, trace;
    bool exitAfterFinish = false;
};

using Handler = std::function<void(Options&, const std::string& value)>;

struct OptionRule {
    const char* name;
    bool takesValue;
    Handler apply;
    bool mayBeEmpty = false;
};

// A number in 0..hi.
OptionRule Count(const char* name, long long hi, std::function<void(Options&, int)> set)
{
    return {name, true, [name, hi, set](Options& o, const std::string& v) {
                set(o, int(Number(std::string("--") + name, v, 0, hi)));
            }};
}

OptionRule Flag(const char* name, std::function<void(Options&)> set)
{
    return {name, false, [set](Options& o, const std::string&) { set(o); }};
}

OptionRule Text(const char* name, std::string Options::*field)
{
    return {name, true, [field](Options& o, const std::string& v) { o.*field = v; }};
}

// A connect string or the reply to it, which may be empty on purpose.
OptionRule ConfigText(const char* name, std::string unitsim::SimConfig::*field)
{
    return {name, true, [field](Options& o, const std::string& v) { o.cfg.*field = v; }, true};
}

const std::vector<OptionRule>& Rules()
{
    constexpr long long Blocks = 1 << 30, Many = 1000000, Byte = 255, Ms = 600000;
    static const std::vector<OptionRule> rules = {
        {"identity", true, [](Options& o, const std::string& v) { unitsim::ParseIdentity(v, o.cfg); }},
        ConfigText("boot-connect", &unitsim::SimConfig::bootConnect),
        ConfigText("user-connect", &unitsim::SimConfig::userConnect),
        ConfigText("connect-response", &unitsim::SimConfig::connectResponse),
        Flag("no-application", [](Options& o) { o.cfg.applicationRunning = false; }),
        Flag("boot-loader", [](Options& o) { o.cfg.startInBootLoader = true; }),
        Count("boot-answer-from", Many, [](Options& o, int n) { o.cfg.bootAnswerFrom = n; }),
        Flag("boot-never", [](Options& o) { o.cfg.bootAnswerFrom = 0; }),
        Count("boot-wrong-at", Many, [](Options& o, int n) { o.cfg.bootWrongReplyAt = n; }),
        Count("register", Byte, [](Options& o, int n) { o.cfg.baudRegister = uint8_t(n); }),
        Count("erase-verdict", Byte, [](Options& o, int n) { o.cfg.eraseVerdict = uint8_t(n); }),
        Count("fill", Byte, [](Options& o, int n) { o.cfg.initialFill = uint8_t(n); }),
        {"fault", true, [](Options& o, const std::string& v) { ParseFault(v, o.cfg); }},
        Count("fail-program-block", Blocks, [](Options& o, int n) { o.cfg.program.failBlock = n; }),
        Count("fail-verify-block", Blocks, [](Options& o, int n) { o.cfg.verify.failBlock = n; }),
        Count("silent-from-program-block", Blocks, [](Options& o, int n) { o.cfg.program.silentFromBlock = n; }),
        Count("silent-from-verify-block", Blocks, [](Options& o, int n) { o.cfg.verify.silentFromBlock = n; }),
        Count("hangup-at-program-block", Blocks, [](Options& o, int n) { o.cfg.program.hangupAtBlock = n; }),
        Count("hangup-at-verify-block", Blocks, [](Options& o, int n) { o.cfg.verify.hangupAtBlock = n; }),
        Count("block-delay", Ms, [](Options& o, int n) { o.cfg.blockDelayMs = n; }),
        Count("erase-delay", Ms, [](Options& o, int n) { o.cfg.eraseDelayMs = n; }),
        {"reply-delay", true, [](Options& o, const std::string& v) { ParseReplyDelay(v, o.cfg); }},
        Flag("pace", [](Options& o) { o.cfg.pace = true; }),
        Count("latency", 1000, [](Options& o, int n) { o.cfg.latencyMs = n; }),
        Text("link", &Options::link),
        Text("dump", &Options::dump),
        Text("trace", &Options::trace),
        Flag("exit-after-finish", [](Options& o) { o.exitAfterFinish = true; }),
    };
    return rules;
}

// False when --help or --version has been answered. Options take effect in the order
// given, so a later one overrides an earlier one.
bool Parse(int argc, char** argv, Options& o)
{
    TCommandLine cmd("moravent-unitsim", Usage);
    for (const OptionRule& r : Rules()) {
        if (r.takesValue)
            cmd.AddValue({r.name}, r.mayBeEmpty);
        else
            cmd.AddFlag({r.name});
    }
    if (!cmd.Parse(argc, argv))
        return false;
    if (!cmd.Positional().empty())
        throw EUsageError("unexpected argument \"" + cmd.Positional()[0] + "\" (see --help)");
    o.cfg.reportToStderr = true;
    for (const auto& [name, value] : cmd.Given()) {
        for (const OptionRule& r : Rules()) {
            if (name != r.name)
                continue;
            try {
                r.apply(o, value);
            } catch (const std::invalid_argument& e) {
                throw EUsageError(e.what());
            }
        }
    }
    o.cfg.keepTrace = !o.trace.empty();
    return true;
}

bool WriteFile(const std::string& path, const void* data, size_t size)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(data), std::streamsize(size));
    out.close();
    if (!out) {
        std::fprintf(stderr, "moravent-unitsim: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    return true;
}

int Serve(const Options& o)
{
    signal(SIGPIPE, SIG_IGN);
    int status = 0;
    unitsim::UnitSimulator sim(o.cfg);
    if (!o.link.empty())
        sim.Link(o.link);
    std::printf("%s\n", sim.SlavePath().c_str());
    std::fflush(stdout);
    sim.Start();
    while (!StopSignalsReceived()) {
        if (sim.WaitForStop(std::chrono::milliseconds(0)) && sim.Stats().hungUp)
            break;
        if (o.exitAfterFinish && sim.WaitForFinish(std::chrono::milliseconds(100)))
            break;
        if (!o.exitAfterFinish)
            ::usleep(100 * 1000);
    }
    sim.Stop();
    if (!o.dump.empty()) {
        const auto flash = sim.Flash();
        if (!WriteFile(o.dump, flash.data(), flash.size()))
            status = 1;
    }
    if (!o.trace.empty()) {
        const std::string trace = sim.Trace();
        if (!WriteFile(o.trace, trace.data(), trace.size()))
            status = 1;
    }
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    return RunMain("moravent-unitsim", [&] {
        Options o;
        if (!Parse(argc, argv, o))
            return ExitOk;
        CatchStopSignals();
        return Serve(o);
    });
}
