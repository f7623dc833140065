#include "rescue/gui/menu.h"

#include "rescue/gui/rescue_window.h"

namespace rescue {

std::vector<ui::MenuItem> menuItems() {
    return {
        // A copy into a file like "Save as", so it takes the same rule: a readable selection,
        // which is what enables the Selection menu at all.
        {.caption = "Rescue dump…",
         .objectName = "Rescuedump1",
         .section = ui::MenuSection::Save,
         .order = 40,
         .run =
             [](ui::ToolHost& host) {
                 OpenRescueWindow(host.backend(), host.selection(), host.parentWidget());
             }},
    };
}

} // namespace rescue
