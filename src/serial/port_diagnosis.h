#pragma once
// Why a run failed on a port, in lines for a person, beside the failure's message.
#include <exception>
#include <string>
#include <vector>

// The failure's own details (Exception::Details) when it carries them; otherwise why the port
// could not be opened (who owns the device and the fix, which process holds it, the ports
// there are), that the line went dead or the adapter has gone, and that a modem manager may
// probe a USB adapter. Empty when there is nothing to add.
std::vector<std::string> ExplainFailure(const std::exception& failure, const std::string& port);
