#pragma once
// The raw transfers' items in the main window: "&Save as", "&Load from file" and the direct copy
// that the Copy button starts.

#include "ui/tool_menu.h"

#include <vector>

namespace transfer {

std::vector<ui::MenuItem> menuItems();

} // namespace transfer
