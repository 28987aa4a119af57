#pragma once
// The headless programmer's side of serial ports: the list it prints, the selectors it
// takes for --port, and the lines that explain a failure before its error line.
#include <exception>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

// --list-ports: a table (name, description, VID:PID, serial number) or, with json, an
// array of objects. Returns the exit status.
int ListPortsCommand(bool json);

// The port name --port stands for (usb:SERIAL and usb-path:PATH looked up among the
// system's ports); raises Exception listing the candidates when nothing or several match.
std::string ResolvePort(const std::string& selector);

// The USB adapter behind port for a unit's record: vid, pid (hex as --list-ports shows
// them), serial and usb_path; null for a port that is no USB adapter.
nlohmann::ordered_json PortUsbJson(const std::string& port);
