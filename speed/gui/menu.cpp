#include "speed/gui/menu.h"

#include "speed/gui/speed_window.h"

namespace speed {

std::vector<ui::MenuItem> menuItems() {
    return {
        {.caption = "Speed &test",
         .objectName = "Speedtest1",
         .section = ui::MenuSection::View,
         .order = 50,
         // A window of its own on a copy of the selection.
         .run =
             [](ui::ToolHost& host) {
                 OpenSpeedWindow(host.backend(), host.selection(), host.parentWidget());
             }},
    };
}

} // namespace speed
