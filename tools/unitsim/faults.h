#pragma once
// Replies spoiled on purpose, as the configuration asks: counts each kind of reply and
// turns the chosen occurrences wrong, short, missing or into a hang-up.
#include <functional>
#include <string>

#include "unitsim/trace.h"
#include "unitsim/unitsim.h"

namespace unitsim {

class ReplyFaults {
public:
    // hangUp ends the line when a reply is to be replaced by a hang-up.
    ReplyFaults(const SimConfig& config, TraceLog& trace, std::function<void()> hangUp);

    // The number of this occurrence of the reply, counted from 1.
    int Count(Reply r) { return ++FCounts[static_cast<int>(r)]; }
    bool Faulted(Reply r, int occurrence) const;
    // The reply as it goes out; wrong turns it into its wrong version.
    std::string Spoil(Reply r, int occurrence, std::string reply, const std::function<void(std::string&)>& wrong);

private:
    const SimConfig& FConfig;
    TraceLog& FTrace;
    std::function<void()> FHangUp;
    int FCounts[ReplyCount] = {};
};

} // namespace unitsim
