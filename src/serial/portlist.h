#pragma once
// The system's serial ports, by the names TCustomComPort::SetPort accepts.
#include <string>
#include <vector>

#include "serial/serial_platform.h"

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

// The same ports with what the system tells of each (driver, USB identity, link target),
// in the same order.
std::vector<TPlatformPort> ListSerialPortInfo(const std::string& sysClassTty = "/sys/class/tty",
                                              const std::string& devDir = "/dev");

// A short description for people: the adapter's product and maker, "PCI serial card
// (1415:c138)", "built-in serial port", "link to /dev/pts/3", or the driver's name.
std::string PortDescription(const TPlatformPort& port);

// A PCI card's ids as lspci shows them: "1415:c138".
std::string PciId(const TPlatformPort& port);

// The port name a --port selector stands for: "usb:SERIAL" is the adapter with that serial
// number, "usb-path:PATH" the adapter in that hub socket (1-1.4:1.0, or 1-1.4 for its first
// interface); anything else is a port name as it is. An unmatched or ambiguous selector
// raises Exception listing what is there.
std::string ResolvePortSelector(const std::string& selector, const std::vector<TPlatformPort>& ports);
