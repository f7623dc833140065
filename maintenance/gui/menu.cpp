#include "maintenance/gui/menu.h"

#include "maintenance/checksum.h"
#include "maintenance/gui/checksum_window.h"
#include "maintenance/gui/erase_window.h"

namespace maintenance {

namespace {

// Each opens a window of its own on a copy of the selection.
template <checksum::ChecksumKind kind> void openChecksum(ui::ToolHost& host) {
    OpenChecksumWindow(host.backend(), host.selection(), kind, host.parentWidget());
}

void openErase(ui::ToolHost& host) {
    OpenEraseWindow(host.backend(), host.selection(), host.parentWidget());
}

} // namespace

std::vector<ui::MenuItem> menuItems() {
    using ui::MenuSection;
    return {
        {.caption = "Calculate MD5 sum",
         .objectName = "CalculateMD5sum1",
         .section = MenuSection::Digests,
         .order = 10,
         .run = openChecksum<checksum::MD5>},
        {.caption = "Calculate SHA1 sum",
         .objectName = "CalculateSHA1sum1",
         .section = MenuSection::Digests,
         .order = 20,
         .run = openChecksum<checksum::SHA1>},
        {.caption = "Calculate MD5 and SHA1",
         .objectName = "CalculatebothMD5andSHA11",
         .section = MenuSection::Digests,
         .order = 30,
         .run = openChecksum<checksum::Both>},
        {.caption = "Erase",
         .objectName = "Fillerase1",
         .section = MenuSection::Overwrite,
         .order = 10,
         .run = openErase},
    };
}

} // namespace maintenance
