#pragma once
// The image containers' items in the main window's Selection menu: save as zip, save as
// compressed image, and load from one.

#include "ui/tool_menu.h"

#include <vector>

namespace containers {

std::vector<ui::MenuItem> menuItems();

} // namespace containers
