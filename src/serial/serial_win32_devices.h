#pragma once
// The devices behind Windows' COM ports, as SetupAPI tells them.
#include <string>
#include <vector>

struct TWin32Device {
    std::string PortName;     // COM5
    std::string InstanceId;   // FTDIBUS\VID_0403+PID_6001+A50285BIA\0000
    std::string FriendlyName; // USB Serial Port (COM5)
    std::string Manufacturer, Service, Location;
    int Vid = -1, Pid = -1;
    std::string Serial;
    int LatencyTimerMs = -1; // the FTDI driver's setting; -1 for other devices
};

// Every COM port device Windows has installed and present.
std::vector<TWin32Device> ListWin32Devices();

// The latency timer of the port's device (the FTDI driver's LatencyTimer), -1 when it has none.
int Win32LatencyTimerMs(const std::string& portName);
