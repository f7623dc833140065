#include "registry/windows.h"

#include "inspect/disasm_library.h"
#include "registry/tool_menu_headers.inc"

namespace registry {

const std::vector<ui::MenuItem>& menuItems() {
    static const std::vector<ui::MenuItem> all = [] {
        using List = std::vector<ui::MenuItem> (*)();
        std::vector<ui::MenuItem> items;
        for (List list : std::initializer_list<List>{
#include "registry/tool_menu_lists.inc"
             }) {
            auto tool = list();
            items.insert(items.end(), tool.begin(), tool.end());
        }
        return items;
    }();
    return all;
}

ToolLibraries::ToolLibraries()
    : disassembler_(std::make_unique<disasm::DisasmLibrary>(disasm::DisasmLibrary::load())) {}

ToolLibraries::~ToolLibraries() = default;

bool ToolLibraries::disassemblerAvailable() const {
    return disassembler_->available();
}

} // namespace registry
