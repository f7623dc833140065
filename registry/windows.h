#pragma once
// The tools' menu items, in the order of the tool list: what the main window lays out in its
// Selection menu and runs from its buttons. And what the tools load once at start-up.

#include "ui/tool_menu.h"

#include <memory>
#include <vector>

namespace registry {

const std::vector<ui::MenuItem>& menuItems();

// Loaded once before any window exists and kept while the program runs: the optional
// disassembler library. The main window is handed a pointer into it, so it outlives the window.
class ToolLibraries {
public:
    ToolLibraries();
    ~ToolLibraries();
    ToolLibraries(const ToolLibraries&) = delete;
    ToolLibraries& operator=(const ToolLibraries&) = delete;

    bool disassemblerAvailable() const;
    const disasm::DisasmLibrary* disassembler() const { return disassembler_.get(); }

private:
    std::unique_ptr<disasm::DisasmLibrary> disassembler_;
};

} // namespace registry
