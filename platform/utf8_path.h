#pragma once
// Names are UTF-8 everywhere above the platform layer. std::filesystem reads a narrow string in
// the system's code page, which on Windows is not UTF-8: these two say which encoding is meant.
// On Linux they are the plain conversions.

#include <filesystem>
#include <string>

namespace platform {

inline std::filesystem::path pathFromUtf8(const std::string& name) {
    return std::filesystem::path(std::u8string(name.begin(), name.end()));
}

inline std::string utf8Name(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

} // namespace platform
