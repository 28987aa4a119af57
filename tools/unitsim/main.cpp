// moravent-unitsim: a simulated unit on a pseudo-terminal, for trying the programmer
// without hardware. Prints the slave's path as its first line and serves until a signal.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <stdexcept>
#include <string>

#include "unitsim.h"

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
                           wrong, short or missing; @N only the N-th time (block replies: block N
                           of each transfer). Repeatable.
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
  --link PATH              also make PATH a symbolic link to the slave (removed at exit)
  --dump FILE              write the flash contents to FILE at exit
  --trace FILE             write every byte both ways, with time stamps, to FILE at exit
  --exit-after-finish      exit once the host has sent the finish command
  --help                   this text

Host behaviour that breaks the protocol is reported on standard error and in the trace.
Exit status: 0, or 1 for a usage error or a pseudo-terminal that cannot be made.
)";

volatile sig_atomic_t g_signal = 0;

void OnSignal(int sig)
{
    g_signal = sig;
}

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
                                                                    {"missing", unitsim::FaultKind::Missing}};
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
        throw std::invalid_argument("--fault: unknown kind \"" + kind + "\" (wrong, short or missing)");
    cfg.fault(r) = {k->second, at};
}

struct Options {
    unitsim::SimConfig cfg;
    std::string link, dump, trace;
    bool exitAfterFinish = false;
};

Options Parse(int argc, char** argv)
{
    Options o;
    o.cfg.reportToStderr = true;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                throw std::invalid_argument(a + " needs a value");
            return argv[++i];
        };
        auto count = [&](long long hi) { return int(Number(a, value(), 0, hi)); };
        if (a == "--help" || a == "-h") {
            std::fputs(Usage, stdout);
            std::exit(0);
        } else if (a == "--identity") {
            unitsim::ParseIdentity(value(), o.cfg);
        } else if (a == "--boot-connect") {
            o.cfg.bootConnect = value();
        } else if (a == "--user-connect") {
            o.cfg.userConnect = value();
        } else if (a == "--connect-response") {
            o.cfg.connectResponse = value();
        } else if (a == "--no-application") {
            o.cfg.applicationRunning = false;
        } else if (a == "--boot-loader") {
            o.cfg.startInBootLoader = true;
        } else if (a == "--boot-answer-from") {
            o.cfg.bootAnswerFrom = count(1000000);
        } else if (a == "--boot-never") {
            o.cfg.bootAnswerFrom = 0;
        } else if (a == "--boot-wrong-at") {
            o.cfg.bootWrongReplyAt = count(1000000);
        } else if (a == "--register") {
            o.cfg.baudRegister = uint8_t(count(255));
        } else if (a == "--erase-verdict") {
            o.cfg.eraseVerdict = uint8_t(count(255));
        } else if (a == "--fill") {
            o.cfg.initialFill = uint8_t(count(255));
        } else if (a == "--fault") {
            ParseFault(value(), o.cfg);
        } else if (a == "--fail-program-block") {
            o.cfg.program.failBlock = count(1 << 30);
        } else if (a == "--fail-verify-block") {
            o.cfg.verify.failBlock = count(1 << 30);
        } else if (a == "--silent-from-program-block") {
            o.cfg.program.silentFromBlock = count(1 << 30);
        } else if (a == "--silent-from-verify-block") {
            o.cfg.verify.silentFromBlock = count(1 << 30);
        } else if (a == "--hangup-at-program-block") {
            o.cfg.program.hangupAtBlock = count(1 << 30);
        } else if (a == "--hangup-at-verify-block") {
            o.cfg.verify.hangupAtBlock = count(1 << 30);
        } else if (a == "--block-delay") {
            o.cfg.blockDelayMs = count(600000);
        } else if (a == "--erase-delay") {
            o.cfg.eraseDelayMs = count(600000);
        } else if (a == "--reply-delay") {
            ParseReplyDelay(value(), o.cfg);
        } else if (a == "--pace") {
            o.cfg.pace = true;
        } else if (a == "--link") {
            o.link = value();
        } else if (a == "--dump") {
            o.dump = value();
        } else if (a == "--trace") {
            o.trace = value();
        } else if (a == "--exit-after-finish") {
            o.exitAfterFinish = true;
        } else {
            throw std::invalid_argument("unknown option \"" + a + "\" (see --help)");
        }
    }
    o.cfg.keepTrace = !o.trace.empty();
    return o;
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

} // namespace

int main(int argc, char** argv)
{
    Options o;
    try {
        o = Parse(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "moravent-unitsim: %s\n", e.what());
        return 1;
    }

    struct sigaction sa { };
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    int status = 0;
    try {
        unitsim::UnitSimulator sim(o.cfg);
        if (!o.link.empty()) {
            struct stat st { };
            if (::lstat(o.link.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
                ::unlink(o.link.c_str()); // a stale link from an earlier run; never other files
            if (::symlink(sim.SlavePath().c_str(), o.link.c_str()) != 0)
                throw std::runtime_error("cannot make the link " + o.link + ": " + std::strerror(errno));
        }
        std::printf("%s\n", sim.SlavePath().c_str());
        std::fflush(stdout);
        sim.Start();
        while (!g_signal) {
            if (sim.WaitForStop(std::chrono::milliseconds(0)) && sim.Stats().hungUp)
                break;
            if (o.exitAfterFinish && sim.WaitForFinish(std::chrono::milliseconds(100)))
                break;
            if (!o.exitAfterFinish)
                ::usleep(100 * 1000);
        }
        sim.Stop();
        if (!o.link.empty())
            ::unlink(o.link.c_str());
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
    } catch (const std::exception& e) {
        if (!o.link.empty())
            ::unlink(o.link.c_str());
        std::fprintf(stderr, "moravent-unitsim: %s\n", e.what());
        return 1;
    }
    return status;
}
