#pragma once
// Before a station touches a unit, every fixture's port is found and opened for a moment:
// a fixture that cannot be is told with its diagnosis at once, not as a unit's failure.
#include <string>
#include <vector>

struct TFixtureProbe {
    std::string Port;               // the port the selector names; the selector when none
    std::string Error;              // "" when the port opened
    std::vector<std::string> Lines; // what explains Error
    bool Ok() const { return Error.empty(); }
};

// Resolves selector and opens its port without configuring it or sending anything.
TFixtureProbe ProbeFixture(const std::string& selector);
