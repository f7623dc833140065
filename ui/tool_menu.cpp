#include "ui/tool_menu.h"

namespace ui {

std::optional<digest::Set> imagingDigests(const ToolHost& host) {
    if (!host.digestsWhileImaging()) return std::nullopt;
    using Kind = digest::Context::Kind;
    return std::optional<digest::Set>(std::in_place, std::vector{Kind::Md5, Kind::Sha1, Kind::Sha256});
}

} // namespace ui
