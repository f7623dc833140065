#include "inspect/gui/menu.h"

#include "inspect/disasm_library.h"
#include "inspect/gui/disassemble.h"
#include "inspect/gui/graphical.h"
#include "inspect/gui/hexview_window.h"

namespace inspect {

namespace {

// Each opens a window of its own on a copy of the selection.
void openHexView(ui::ToolHost& host) {
    OpenHexView(host.backend(), host.selection(), host.parentWidget(), &host.dialogs());
}

void openGraphical(ui::ToolHost& host) {
    OpenGraphical(host.backend(), host.selection(), host.parentWidget(), &host.dialogs());
}

// Offered only with the library; a request that comes without it is told so.
void openDisassembly(ui::ToolHost& host) {
    static const disasm::DisasmLibrary none = disasm::DisasmLibrary::none();
    const disasm::DisasmLibrary* library = host.disassembler();
    OpenDisAssemble(host.parentWidget(), host.backend(), host.dialogs(), host.selection(),
                    library ? *library : none);
}

} // namespace

std::vector<ui::MenuItem> menuItems() {
    using ui::MenuSection;
    return {
        {.caption = "He&x view",
         .objectName = "Hexview1",
         .section = MenuSection::View,
         .order = 10,
         .run = openHexView},
        {.caption = "Grap&hical view",
         .objectName = "Graphicalview1",
         .section = MenuSection::View,
         .order = 20,
         .run = openGraphical},
        {.caption = "Dis&assemble",
         .objectName = "Disassemble1",
         .section = MenuSection::View,
         .order = 30,
         .visible = [](const ui::ToolHost& host) { return host.disassemblerAvailable(); },
         .run = openDisassembly},
    };
}

} // namespace inspect
