// Windows asks for administrator rights through the program's manifest, not through pkexec:
// there is nothing to offer here.

#include "info/elevation.h"

namespace info {

ElevationFacts currentElevationFacts(bool declined) {
    ElevationFacts facts;
    facts.runningAsRoot = true;
    facts.declined = declined;
    return facts;
}

std::optional<int> runAndWait(const std::vector<std::string>&) {
    return std::nullopt;
}

} // namespace info
