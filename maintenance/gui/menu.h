#pragma once
// The maintenance tools' items in the main window's Selection menu: the three checksums and the
// erase.

#include "ui/tool_menu.h"

#include <vector>

namespace maintenance {

std::vector<ui::MenuItem> menuItems();

} // namespace maintenance
