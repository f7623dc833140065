#pragma once
// The inspection tools' items in the main window's Selection menu: the hex viewer, the byte map
// and the disassembly.

#include "ui/tool_menu.h"

#include <vector>

namespace inspect {

std::vector<ui::MenuItem> menuItems();

} // namespace inspect
