#pragma once
// Where a file that replaces another is written until it is complete: beside it, under a name
// nothing uses yet, so that no file of the user's is emptied or taken for ours. Plain C++, no Qt.

#include <filesystem>
#include <string>

namespace jobs {

// "<file>.partial", or "<file>.partial2", "<file>.partial3" ... when that name is taken.
inline std::string sideFileFor(const std::string& file) {
    std::string path = file + ".partial";
    std::error_code ec;
    for (int n = 2; std::filesystem::exists(std::filesystem::symlink_status(path, ec)) && n < 1000; ++n)
        path = file + ".partial" + std::to_string(n);
    return path;
}

} // namespace jobs
