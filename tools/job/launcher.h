#pragma once
// A desktop launcher for a stamped tool: OUT.desktop naming OUT by its absolute path, and
// the job's icon as OUT.png beside it.
#include <cstdint>
#include <string>
#include <vector>

#include "job/job.h"

namespace job {

struct Launcher {
    std::string desktopPath, desktopText;
    std::string iconPath; // empty when the job carries no icon
    std::vector<uint8_t> png;
};

// Raises JobError for a path a desktop entry cannot name, or an icon that cannot be drawn.
Launcher MakeLauncher(const Job& job, const std::string& out);

} // namespace job
