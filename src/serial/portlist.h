#pragma once
// The system's serial ports, by the names TCustomComPort::SetPort accepts.
#include <string>
#include <vector>

// Replaces strings with the sorted port names: every tty under sysClassTty with a device
// behind it (8250 placeholders whose type reads 0 skipped) and every symbolic link
// directly under devDir that points to a pseudo-terminal slave (devDir/pts/N), such as
// virtual ports made by socat or the unit simulator. Sorted case-insensitively, so
// ttyS10 comes before ttyS2. No ports gives an empty list; only a directory that exists
// but cannot be read raises EComPort code 23 with the errno as the system error.
void ListSerialPorts(std::vector<std::string>& strings, const std::string& sysClassTty = "/sys/class/tty",
                     const std::string& devDir = "/dev");

// The list order: case-insensitive, ties broken by byte order.
bool PortNameLess(const std::string& a, const std::string& b);
