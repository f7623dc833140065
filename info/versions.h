#pragma once
// The versions the version window adds below its fixed labels: this build's, and those of the
// libraries that are really loaded in this process (not merely the ones it was built against).

#include <string>
#include <string_view>
#include <vector>

namespace info {

// "zlib 1.2.13", "OpenSSL 3.0.11", ...: each library found in the running process.
std::vector<std::string> loadedLibraryVersions();

// "Build 0.1.0, Qt 6.4.2", then a line "zlib 1.2.13, ...": the given versions and the loaded
// libraries.
std::string versionLine(std::string_view buildVersion, std::string_view qtVersion,
                        const std::vector<std::string>& libraries);

} // namespace info
