#pragma once
// The narrow interface between the port component and the operating system. Every
// call returns 0 or a system error code (an errno value on POSIX); the component
// turns failures into EComPort. A backend for another system implements this.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "serial/line_settings.h"

struct TTimeoutSettings {
    // Millisecond values; -1 stands for the all-ones value.
    int32_t ReadInterval = -1;
    int32_t ReadTotalMultiplier = 0;
    int32_t ReadTotalConstant = 0;
    int32_t WriteTotalMultiplier = 100;
    int32_t WriteTotalConstant = 1000;
};

// Device event mask bits (the values EventsToMask produces).
enum : uint32_t {
    emRxChar = 0x0001,
    emRxFlag = 0x0002,
    emTxEmpty = 0x0004,
    emCTS = 0x0008,
    emDSR = 0x0010,
    emRLSD = 0x0020,
    emBreak = 0x0040,
    emErr = 0x0080,
    emRing = 0x0100,
    emRx80Full = 0x0400,
};
// Modem status bits.
enum : uint32_t { msCTS = 0x10, msDSR = 0x20, msRing = 0x40, msRLSD = 0x80 };
// Error flags.
enum : uint32_t {
    efRxOver = 0x0001,
    efOverrun = 0x0002,
    efRxParity = 0x0004,
    efFrame = 0x0008,
    efBreak = 0x0010,
    efTxFull = 0x0100,
    efIOE = 0x0400,
    efMode = 0x8000,
};

// Waits for device events on behalf of the event thread; Stop may be called from any
// thread and ends a wait in progress or the next one.
class TSerialEventWait {
public:
    virtual ~TSerialEventWait() = default;
    // Returns true with the device events that occurred, or false once stopped (a
    // stop pending together with device events counts as stopped).
    virtual bool Wait(uint32_t& events) = 0;
    virtual void Stop() = 0;
    // Narrows the events waited for to those of mask within the ones given at creation.
    // With an empty mask, Wait returns from time to time with no events, so the caller
    // can widen it again. Called on the waiting thread, between waits.
    virtual void SetMask(uint32_t mask) = 0;
};

// Faults the port component finds itself, and the system's code for each (an errno value on
// POSIX, a GetLastError value on Windows), so that every "(win error code: N)" carries a
// number of the system it runs on.
enum class TPortFault { InvalidArgument, TimedOut };
int PortFaultCode(TPortFault fault);

class TSerialDevice {
public:
    virtual ~TSerialDevice() = default;
    virtual int Open(const std::string& portName) = 0;
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;
    virtual int ApplyLineSettings(const TLineSettings& settings) = 0;
    virtual int ApplyTimeouts(const TTimeoutSettings& timeouts) = 0;
    virtual int ApplyBufferSizes(int32_t inputSize, int32_t outputSize) = 0;
    // Blocking transfers bounded by the time-outs; a time-out is a short count.
    virtual int Read(void* buffer, int32_t count, int32_t& done) = 0;
    virtual int Write(const void* buffer, int32_t count, int32_t& done) = 0;
    virtual int Purge(bool input, bool output) = 0;
    virtual int AbortPending() = 0;
    // Waits until queued output has left the host, bounded by the write time-out.
    virtual int Drain() = 0;
    virtual int QueuedInput(int32_t& count) = 0;
    virtual int ModemStatus(uint32_t& status) = 0;
    virtual int ErrorFlags(uint32_t& flags) = 0;
    // Drives the DTR and RTS outputs (a device without modem lines accepts it and does nothing).
    virtual int SetLines(bool dtr, bool rts) = 0;
    virtual std::unique_ptr<TSerialEventWait> CreateEventWait(uint32_t mask) = 0;
};

// The device a new port gets: the system's own backend unless a factory is set.
std::unique_ptr<TSerialDevice> CreateSerialDevice();
// The system's own backend (one per platform).
std::unique_ptr<TSerialDevice> CreatePlatformSerialDevice();

// Replaces the device every new port gets (tests watch the calls a port makes); an empty
// function restores the system's own backend.
void SetSerialDeviceFactory(std::function<std::unique_ptr<TSerialDevice>()> factory);

// Device path of a port name: a name with a '/' is a path as it is (relative to the current
// folder), "COMn" is /dev/ttyS<n-1>, any other name is /dev/NAME, or NAME in the current
// folder when /dev has no such entry and the folder has. Empty when the name cannot name a
// device. (On Windows: \\.\NAME.)
std::string SerialDevicePath(const std::string& portName);

// The name the system's port list shows for a port name: "COM1" is ttyS0 on Linux, itself
// on Windows. Anything else comes back as it is.
std::string ListedPortName(const std::string& portName);

// One serial port the system knows, with what the system tells of the hardware behind it.
// Texts are empty and numbers -1 where unknown.
struct TPlatformPort {
    std::string Name;       // the name TCustomComPort::SetPort accepts
    std::string Path;       // the device node, or the link for a virtual port
    std::string Driver;     // the kernel driver (ftdi_sio, cdc_acm, serial8250...)
    std::string LinkTarget; // a virtual port: the pseudo-terminal its link points to
    // USB adapters
    int Vid = -1;
    int Pid = -1;
    std::string Manufacturer, Product, Serial;
    std::string UsbPath; // the interface's bus-port chain, the same for the same socket of a hub (1-1.4:1.0)
    // The bus of the hardware behind the port, as the system names it: usb, pci, pnp, platform.
    std::string Bus;
    // A PCI serial card's vendor and device ids.
    int PciVendor = -1;
    int PciDevice = -1;
};

// Appends the system's serial ports to ports, in no particular order: on Linux every tty
// under sysClassTty with a device behind it (8250 placeholders whose type reads 0 left
// out) and every symbolic link directly under devDir to a pseudo-terminal slave
// (devDir/pts/N). A missing directory holds no ports; a directory that cannot be read
// returns its error.
int ListPlatformPorts(std::vector<TPlatformPort>& ports, const std::string& sysClassTty, const std::string& devDir);

// The latency timer of a USB adapter that has one (FTDI), in milliseconds; -1 when the
// port has none or it cannot be read.
int LatencyTimerMs(const std::string& portName, const std::string& sysClassTty = "/sys/class/tty");

// Lines that explain why opening portName failed with systemError, for a person: who owns
// the device and the fix for a permission problem, which process holds a busy port, the
// ports there are when it does not exist, a device that is not a serial port. Empty when
// there is nothing to add.
std::vector<std::string> DiagnoseOpenFailure(const std::string& portName, int systemError,
                                             const std::vector<TPlatformPort>& ports);

// The lines for a port that does not exist: the ports there are, or that there are none.
// The same on every system; the backends' DiagnoseOpenFailure use it.
std::vector<std::string> MissingPortLines(const std::string& portName, const std::vector<TPlatformPort>& ports);

// Lines that explain a failure on the open line of portName (systemError 0 when the
// failure carried none): the port has gone, or the line went dead. Empty when neither.
std::vector<std::string> DiagnoseLineFailure(const std::string& portName, int systemError);

// Where the udev rules for USB adapters are, for a hint: the installed copy when that file
// exists (the package puts it there), else their place in the source.
inline constexpr char InstalledUdevRules[] = "/usr/share/doc/moravent-flash-programmer/udev/60-moravent-serial.rules";
std::string UdevRulesPath(const std::string& installed = InstalledUdevRules);

// How a person sets an adapter's latency timer to 1 ms on this system ("the udev rule in
// ... sets it to 1 ms").
std::string LatencyTimerFix();

// True when a modem manager runs that may probe serial ports as they appear.
bool ModemManagerRunning();
