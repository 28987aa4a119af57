#include "failure.h"

#include "exceptions.h"
#include "ports.h"

std::vector<std::string> FailureLines(const std::exception& failure, const std::string& port)
{
    if (const auto* ours = dynamic_cast<const Exception*>(&failure); ours && !ours->Details().empty())
        return ours->Details();
    return ExplainFailure(failure, port);
}
