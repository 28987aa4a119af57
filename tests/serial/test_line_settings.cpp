// The platform-neutral pieces: line-settings record, event masks, settings objects,
// error messages and device names.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "serial/comms.h"
#include "serial/CPort.h"
#include "serial/line_settings.h"
#include "serial/serial_platform.h"

namespace {

struct TLineCase {
    const char* name;
    void (*setup)(TBriskoComPort&);
    uint32_t baud, flags;
    uint16_t limit;
    uint8_t byteSize, parity, stopBits;
    char errorChar;
};

const TLineCase LineCases[] = {
    {"defaults", [](TBriskoComPort&) {}, 9600, 0x0001, 1024, 8, 0, 0, 0},
    {"DTR held on", [](TBriskoComPort& p) { p.FlowControl()->SetControlDTR(dtrEnable); }, 9600, 0x0011, 1024, 8, 0, 0,
     0},
    {"DTR handshake, RTS toggle",
     [](TBriskoComPort& p) {
         p.FlowControl()->SetControlDTR(dtrHandshake);
         p.FlowControl()->SetControlRTS(rtsToggle);
     },
     9600, 0x3021, 1024, 8, 0, 0, 0},
    {"hardware flow", [](TBriskoComPort& p) { p.FlowControl()->SetFlowControl(fcHardware); }, 9600, 0x2005, 1024, 8, 0,
     0, 0},
    {"software flow and the rest",
     [](TBriskoComPort& p) {
         p.FlowControl()->SetFlowControl(fcSoftware);
         p.FlowControl()->SetOutDSRFlow(true);
         p.FlowControl()->SetDSRSensitivity(true);
         p.FlowControl()->SetTxContinueOnXoff(true);
         p.SetDiscardNull(true);
     },
     9600, 0x0BC9, 1024, 8, 0, 0, 0},
    {"parity check and replace",
     [](TBriskoComPort& p) {
         p.Parity()->SetBits(prEven);
         p.Parity()->SetCheck(true);
         p.Parity()->SetReplace(true);
         p.Parity()->SetReplaceChar('?');
     },
     9600, 0x0403, 1024, 8, 2, 0, '?'},
    {"replace without check is ignored",
     [](TBriskoComPort& p) {
         p.Parity()->SetReplace(true);
         p.Parity()->SetReplaceChar('?');
     },
     9600, 0x0001, 1024, 8, 0, 0, 0},
    {"custom rate, 5 data bits, space parity, 1.5 stop bits",
     [](TBriskoComPort& p) {
         p.SetBaudRate(brCustom);
         p.SetCustomBaudRate(31250);
         p.SetDataBits(dbFive);
         p.Parity()->SetBits(prSpace);
         p.SetStopBits(sbOne5StopBits);
     },
     31250, 0x0001, 1024, 5, 4, 1, 0},
    {"odd input size", [](TBriskoComPort& p) { p.Buffer()->SetInputSize(1027); }, 9600, 0x0001, 256, 8, 0, 0, 0},
    {"256000 and two stop bits",
     [](TBriskoComPort& p) {
         p.SetBaudRate(br256000);
         p.SetStopBits(sbTwoStopBits);
     },
     256000, 0x0001, 1024, 8, 0, 2, 0},
};

TEST(LineSettings, BuiltFromTheProperties)
{
    for (const TLineCase& c : LineCases) {
        SCOPED_TRACE(c.name);
        TBriskoComPort port;
        c.setup(port);
        const TLineSettings s = BuildLineSettings(port);
        EXPECT_EQ(s.BaudRate, c.baud);
        EXPECT_EQ(s.Flags, c.flags);
        EXPECT_EQ(s.XonLim, c.limit);
        EXPECT_EQ(s.XoffLim, c.limit);
        EXPECT_EQ(s.ByteSize, c.byteSize);
        EXPECT_EQ(s.Parity, c.parity);
        EXPECT_EQ(s.StopBits, c.stopBits);
        EXPECT_EQ(s.ErrorChar, c.errorChar);
        EXPECT_EQ(s.XonChar, 17);
        EXPECT_EQ(s.XoffChar, 19);
    }
}

TEST(LineSettings, EventMasks)
{
    const struct {
        TComEvent ev;
        uint32_t bit;
    } table[] = {
        {evRxChar, 0x0001}, {evTxEmpty, 0x0004}, {evRxFlag, 0x0002}, {evRing, 0x0100}, {evBreak, 0x0040},
        {evCTS, 0x0008},    {evDSR, 0x0010},     {evError, 0x0080},  {evRLSD, 0x0020}, {evRx80Full, 0x0400},
    };
    for (auto& row : table) {
        EXPECT_EQ(EventsToMask(ComEvent(row.ev)), row.bit) << row.ev;
        EXPECT_EQ(MaskToEvents(row.bit), ComEvent(row.ev)) << row.ev;
    }
    EXPECT_EQ(EventsToMask(AllComEvents), 0x05FFu);
    EXPECT_EQ(MaskToEvents(0xFFFFFFFF), AllComEvents); // unknown bits are ignored
    EXPECT_EQ(MaskToEvents(0x0200), 0);
}

TEST(SettingsObjects, FlowControlSummary)
{
    TComFlowControl fc;
    EXPECT_EQ(fc.FlowControl(), fcNone);
    fc.SetControlRTS(rtsEnable);
    EXPECT_EQ(fc.FlowControl(), fcCustom);
    fc.SetControlDTR(dtrEnable);
    fc.SetOutDSRFlow(true);
    fc.SetFlowControl(fcNone);
    EXPECT_EQ(fc.FlowControl(), fcNone);
    EXPECT_EQ(fc.ControlDTR(), dtrEnable); // not part of the summary
    EXPECT_TRUE(fc.OutDSRFlow());
    fc.SetFlowControl(fcHardware);
    EXPECT_EQ(fc.ControlRTS(), rtsHandshake);
    EXPECT_TRUE(fc.OutCTSFlow());
    fc.SetFlowControl(fcSoftware);
    EXPECT_EQ(fc.FlowControl(), fcSoftware);
    EXPECT_FALSE(fc.OutCTSFlow());
    fc.SetXonXoffIn(false);
    EXPECT_EQ(fc.FlowControl(), fcCustom);
    fc.SetFlowControl(fcCustom); // changes nothing
    EXPECT_EQ(fc.FlowControl(), fcCustom);
    EXPECT_TRUE(fc.XonXoffOut());
}

// Counts the apply steps that the settings objects trigger.
class TCountingPort : public TComPort {
public:
    int buffers = 0, lines = 0, timeouts = 0;
    void ApplyBufferSizes() override { ++buffers; }
    void ApplyLineSettings() override { ++lines; }
    void ApplyTimeoutSettings() override { ++timeouts; }
};

TEST(SettingsObjects, SettersApplyOnlyOnChange)
{
    TCountingPort port;
    const struct {
        int32_t set, held, applies;
    } sizes[] = {
        {4097, 4096, 1}, {4096, 4096, 0}, {-3, -3, 1}, {1, 0, 1}, {0, 0, 0}, {4097, 4096, 1}, {4097, 4096, 1},
    };
    for (auto& row : sizes) {
        const int before = port.buffers;
        port.Buffer()->SetInputSize(row.set);
        EXPECT_EQ(port.Buffer()->InputSize(), row.held) << row.set;
        EXPECT_EQ(port.buffers - before, row.applies) << row.set;
    }
    port.Parity()->SetBits(prNone);
    port.Timeouts()->SetReadInterval(-1);
    EXPECT_EQ(port.lines + port.timeouts, 0);
    port.FlowControl()->SetFlowControl(fcNone); // always applies
    port.SetParity(*port.Parity());             // copies always apply once
    port.SetTimeouts(*port.Timeouts());
    EXPECT_EQ(port.lines, 2);
    EXPECT_EQ(port.timeouts, 1);
}

TEST(SettingsObjects, AssignCopiesWithoutApplyingOrChangingOwner)
{
    TCountingPort port;
    TComTimeouts other;
    other.SetReadTotalConstant(77);
    other.SetWriteTotalMultiplier(0);
    port.Timeouts()->Assign(other);
    EXPECT_EQ(port.Timeouts()->ReadTotalConstant(), 77);
    EXPECT_EQ(port.Timeouts()->WriteTotalMultiplier(), 0);
    EXPECT_EQ(port.timeouts, 0);
    EXPECT_EQ(port.Timeouts()->ComPort(), &port);
}

TEST(ComPortErrors, ErrorFlagsMapToTheSet)
{
    const struct {
        uint32_t flags;
        bool check;
        TComErrors errors;
    } table[] = {
        {efFrame, false, 1 << ceFrame},
        {efRxParity, false, 0}, // parity errors only while checking parity
        {efRxParity, true, 1 << ceRxParity},
        {efOverrun | efBreak, false, (1 << ceOverrun) | (1 << ceBreak)},
        {efIOE | efMode | efRxOver | efTxFull, false, (1 << ceIO) | (1 << ceMode) | (1 << ceRxOver) | (1 << ceTxFull)},
        {0x7000, true, 0},
    };
    for (auto& row : table)
        EXPECT_EQ(ComErrorsFromFlags(row.flags, row.check), row.errors) << row.flags;
}

TEST(ComPortErrors, Messages)
{
    const struct {
        int code, sys;
        const char* text;
    } table[] = {
        {1, 2, "Unable to open com port (win error code: 2)"},
        {2, 110, "WriteFile function failed (win error code: 110)"},
        {4, -1, "Invalid Async parameter"},
        {14, -1, "Cannot set property while connected"},
        {23, 5, "Registry error (win error code: 5)"},
    };
    for (auto& row : table) {
        EComPort e(row.code, row.sys);
        EXPECT_EQ(e.message(), row.text);
        EXPECT_EQ(e.ErrorCode(), row.code);
        EXPECT_EQ(e.SystemError(), row.sys);
    }
}

TEST(DeviceNames, MapToPaths)
{
    const struct {
        const char* name;
        const char* path;
    } table[] = {
        {"/dev/ttyUSB0", "/dev/ttyUSB0"},
        {"ttyUSB0", "/dev/ttyUSB0"},
        {"COM1", "/dev/ttyS0"},
        {"com12", "/dev/ttyS11"},
        {"COM0", ""},
        {"", ""},
        {"COMX", "/dev/COMX"},
        {"COM99999999999", "/dev/COM99999999999"},
        // A name with a '/' is a path, relative to the current folder.
        {"pts/3", "pts/3"},
        {"./unit3", "./unit3"},
        {"../rig/unit3", "../rig/unit3"},
        // A bare name is /dev's, or /dev/NAME still when the current folder has none either.
        {"null", "/dev/null"},
        {"ttyNOSUCH7", "/dev/ttyNOSUCH7"},
    };
    for (auto& row : table)
        EXPECT_EQ(SerialDevicePath(row.name), row.path) << row.name;
}

TEST(UdevRules, TheInstalledCopyWhenThereIsOne)
{
    const std::string installed = ::testing::TempDir() + std::to_string(::getpid()) + "-60-moravent-serial.rules";
    std::remove(installed.c_str());
    EXPECT_EQ(UdevRulesPath(installed), "contrib/udev/60-moravent-serial.rules");
    std::ofstream(installed) << "# rules\n";
    EXPECT_EQ(UdevRulesPath(installed), installed);
    std::remove(installed.c_str());
    EXPECT_EQ(UdevRulesPath(::testing::TempDir()), "contrib/udev/60-moravent-serial.rules")
        << "a folder is no rules file";
}

TEST(BaudRates, StandardValues)
{
    TBriskoComPort port;
    const struct {
        TBaudRate rate;
        int32_t value;
    } table[] = {
        {br110, 110},       {br14400, 14400},   {br56000, 56000},   {br57600, 57600},
        {br115200, 115200}, {br128000, 128000}, {br256000, 256000},
    };
    for (auto& row : table) {
        port.SetBaudRate(row.rate);
        EXPECT_EQ(port.BaudRateValue(), row.value);
    }
    port.SetBaudRate(brCustom);
    port.SetCustomBaudRate(31250);
    EXPECT_EQ(port.BaudRateValue(), 31250);
}

} // namespace
