#include "containers/gui/menu.h"

#include "containers/cdi.h"
#include "containers/gui/save_as_zip_window.h"
#include "core/selection.h"

namespace containers {

namespace {

void saveAsZip(ui::ToolHost& host) {
    auto digests = ui::imagingDigests(host);
    ::SaveAsZip(host.backend(), host.selection(), host.parentWidget(), digests ? &*digests : nullptr);
}

void saveAsCompressed(ui::ToolHost& host) {
    auto digests = ui::imagingDigests(host);
    CdiOptions options;
    options.digests = digests ? &*digests : nullptr;
    SaveAsCompressed(host.backend(), host.dialogs(), host.jobControl(), host.selection(), options);
}

void loadFromCompressed(ui::ToolHost& host) {
    LoadFromCompressed(host.backend(), host.dialogs(), host.jobControl(), host.selection());
}

} // namespace

std::vector<ui::MenuItem> menuItems() {
    using ui::MenuSection;
    return {
        {.caption = "Save as zip (2GB max)",
         .objectName = "Saveaszip1",
         .section = MenuSection::Save,
         .order = 20,
         .enabled = [](const ui::ToolHost& host) { return selection::menuState(host.selection()).saveAsZip; },
         .run = saveAsZip},
        {.caption = "Save as compressed",
         .objectName = "Saveascompressed1",
         .section = MenuSection::Save,
         .order = 30,
         .run = saveAsCompressed},
        {.caption = "Load from compressed image",
         .objectName = "Loadfromcompressed1",
         .section = MenuSection::Load,
         .order = 30,
         .enabled = [](const ui::ToolHost& host) { return selection::menuState(host.selection()).loadItems; },
         .run = loadFromCompressed},
    };
}

} // namespace containers
