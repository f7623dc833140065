#include "info/versions.h"

namespace info {

// Libraries are linked statically on Windows; the build line names Qt only.
std::vector<std::string> loadedLibraryVersions() {
    return {};
}

} // namespace info
