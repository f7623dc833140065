#include "info/versions.h"

namespace info {

std::string versionLine(std::string_view buildVersion, std::string_view qtVersion,
                        const std::vector<std::string>& libraries) {
    std::string line = "Build " + std::string(buildVersion);
    if (!qtVersion.empty()) line += ", Qt " + std::string(qtVersion);
    for (size_t i = 0; i < libraries.size(); ++i)
        line += (i == 0 ? "\n" : ", ") + libraries[i];
    return line;
}

} // namespace info
