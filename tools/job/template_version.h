#pragma once
// The version a programmer's file carries in its version information (the Windows resource,
// or the same layout in a Linux program's own section), for showing which tool a job was
// stamped into.
#include <string>

namespace job {

// "major.minor.release.build" from the first version block in fileBytes, or "" when there is none.
std::string TemplateVersion(const std::string& fileBytes);

} // namespace job
