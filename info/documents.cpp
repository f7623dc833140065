#include "info/documents.h"

#include <filesystem>
#include <system_error>

namespace info {

std::vector<std::string> documentCandidates(const std::string& programFolder, const std::string& fileName) {
    namespace fs = std::filesystem;
    fs::path folder = fs::path(programFolder).lexically_normal();
    if (!folder.has_filename()) folder = folder.parent_path(); // "/usr/bin/" is "/usr/bin"
    return {(folder / fileName).string(),
            (folder.parent_path() / "share" / "doc" / "tarnwick" / fileName).lexically_normal().string()};
}

std::string documentPath(const std::string& programFolder, const std::string& fileName) {
    const auto candidates = documentCandidates(programFolder, fileName);
    for (const auto& c : candidates) {
        std::error_code ec;
        if (std::filesystem::is_regular_file(c, ec)) return c;
    }
    return candidates.front();
}

} // namespace info
