#pragma once
// What one unit's run tells beyond the terminal: to its record, to a station worker's
// pipe, or (decoded from that pipe) to the station's supervisor.
#include <string>

#include "flash/h83664.h"
#include "flash/run.h"

class TUnitObserver {
public:
    virtual ~TUnitObserver() = default;
    // A new status text ("Erasing FLASH..."); the range for it follows.
    virtual void Status(const std::string& /*text*/) { }
    virtual void Range(int /*span*/) { }
    virtual void Position(int /*done*/) { }
    virtual void Phase(TRunPhase /*phase*/) { }
    // The reset prompt shown while the boot connect repeats; "" when it is hidden.
    virtual void Prompt(const std::string& /*text*/) { }
    // A line for the operator: the boot-method notice, a slow adapter, a log that failed.
    virtual void Notice(const std::string& /*text*/) { }
    // The connect method that reached the unit: 0 user, 1 boot.
    virtual void Method(int /*method*/) { }
    // The unit's identity as it reported it, also when it did not match the job.
    virtual void Identity(const TUnitIdentity& /*unit*/) { }
};

// "ok", "failed" or "cancelled": how a unit's run ended, as the report names it.
inline constexpr const char ResultOk[] = "ok";
inline constexpr const char ResultFailed[] = "failed";
inline constexpr const char ResultCancelled[] = "cancelled";
// A station's fixture whose port could not be opened sat the round out (--skip-missing).
inline constexpr const char ResultSkipped[] = "skipped";

// The last line of a success.
inline constexpr const char SuccessText[] = "Unit Successfully Programmed!";
// The last line of a success in mode: SuccessText whenever the unit was programmed.
std::string SuccessLine(TRunMode mode, bool programmed, const TUnitIdentity& unit);
