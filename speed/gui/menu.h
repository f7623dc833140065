#pragma once
// The speed tool's item in the main window's Selection menu.

#include "ui/tool_menu.h"

#include <vector>

namespace speed {

std::vector<ui::MenuItem> menuItems();

} // namespace speed
