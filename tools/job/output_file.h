#pragma once
// Writing what the job builder makes, the system's way: a new file appears whole or not at
// all, also when one of that name is being replaced or read meanwhile.
#include <string>

namespace job {

// The window tool beside the job builder, the template a build uses by default.
extern const char* const DefaultTemplateName;

// Writes bytes to a temporary file beside out, makes it durable, then puts it in place of out
// (executable: runnable by everyone who may read it). Raises Exception naming out and the reason.
void WriteAtomically(const std::string& out, const std::string& bytes, bool executable);

// Removes path if it is there; a failure is not reported (a leftover temporary file).
void RemoveFile(const std::string& path);

} // namespace job
