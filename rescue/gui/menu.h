#pragma once
// The rescue tool's item in the main window's Selection menu.

#include "ui/tool_menu.h"

#include <vector>

namespace rescue {

std::vector<ui::MenuItem> menuItems();

} // namespace rescue
