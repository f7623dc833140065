#include "containers/stream_adapters.h"

#include <filesystem>

namespace containers::detail {

bool sameObject(platform::Backend& backend, const std::string& a, const std::string& b) {
    const std::string ia = backend.objectIdentity(a);
    return !ia.empty() && ia == backend.objectIdentity(b);
}

std::string cannotOpenFile(const std::string& path, const std::string& systemText) {
    std::error_code ec;
    const auto full = std::filesystem::absolute(path, ec);
    return "Cannot open file \"" + (ec ? path : full.string()) + "\". " + systemText;
}

} // namespace containers::detail
