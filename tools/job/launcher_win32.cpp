#include "job/launcher.h"

#include "job/job.h"

namespace job {

// A desktop entry is a Linux desktop's; Windows starts a program from a shortcut the user makes.
Launcher MakeLauncher(const Job&, const std::string& out)
{
    throw JobError("--launcher writes a Linux desktop entry; on Windows make a shortcut to " + out + " instead");
}

} // namespace job
