#include "unitsim/faults.h"

namespace unitsim {

ReplyFaults::ReplyFaults(const SimConfig& config, TraceLog& trace, std::function<void()> hangUp)
    : FConfig(config), FTrace(trace), FHangUp(std::move(hangUp))
{
}

bool ReplyFaults::Faulted(Reply r, int occurrence) const
{
    const ReplyFault& f = FConfig.fault(r);
    return f.kind != FaultKind::None && (f.at == 0 || f.at == occurrence);
}

std::string ReplyFaults::Spoil(Reply r, int occurrence, std::string reply,
                               const std::function<void(std::string&)>& wrong)
{
    if (!Faulted(r, occurrence))
        return reply;
    switch (FConfig.fault(r).kind) {
    case FaultKind::Missing: FTrace.Note("reply left out on purpose"); return {};
    case FaultKind::Short:
        FTrace.Note("reply cut short on purpose");
        if (!reply.empty())
            reply.pop_back();
        return reply;
    case FaultKind::Wrong:
        FTrace.Note("wrong reply on purpose");
        wrong(reply);
        return reply;
    case FaultKind::HangUp:
        FTrace.Note("hang-up in place of the reply");
        FHangUp();
        return {};
    case FaultKind::None: break;
    }
    return reply;
}

} // namespace unitsim
