#include "app/flash_cli/station_scan.h"

#include <algorithm>
#include <cstdio>

#include "app/flash_cli/station_operator.h"

namespace {

std::string Trimmed(std::string s)
{
    s.erase(0, s.find_first_not_of(" \t"));
    s.erase(s.find_last_not_of(" \t") + 1);
    return s;
}

} // namespace

bool ScanUnitSerials(const std::vector<std::string>& ports, std::vector<std::string>& serials)
{
    serials.assign(ports.size(), std::string());
    while (std::all_of(serials.begin(), serials.end(), [](const std::string& s) { return s.empty(); })) {
        for (size_t i = 0; i < ports.size(); ++i) {
            std::fprintf(stderr, "Scan the unit on %s (Enter: skip, q: quit): ", ports[i].c_str());
            std::fflush(stderr);
            const std::optional<std::string> line = ReadOperatorLine();
            if (!line || *line == "q" || *line == "Q") {
                std::fputs("\n", stderr);
                return false;
            }
            serials[i] = Trimmed(*line);
        }
    }
    return true;
}
