#include "transfer/gui/menu.h"

#include "core/selection.h"
#include "transfer/transfer.h"

namespace transfer {

namespace {

// What the Extra menu asks of the transfers that write.
Options writeOptions(const ui::ToolHost& host) {
    Options options;
    options.verify = host.verifyAfterWriting();
    return options;
}

void dump(ui::ToolHost& host) {
    auto digests = ui::imagingDigests(host);
    Options options;
    options.digests = digests ? &*digests : nullptr;
    dumpToFile(host.backend(), host.dialogs(), host.jobControl(), host.selection(), options);
}

void restore(ui::ToolHost& host) {
    restoreFromFile(host.backend(), host.dialogs(), host.jobControl(), host.selection(), writeOptions(host));
}

// Both endpoints are taken now; marking new ones during the copy affects only the next.
void copy(ui::ToolHost& host) {
    directCopy(host.backend(), host.dialogs(), host.jobControl(), host.copySource(), host.copyTarget(),
               writeOptions(host));
}

} // namespace

std::vector<ui::MenuItem> menuItems() {
    using ui::MenuSection;
    return {
        {.caption = "&Save as",
         .objectName = "Writetofile1",
         .section = MenuSection::Save,
         .order = 10,
         .run = dump},
        {.caption = "&Load from file",
         .objectName = "LoadFromFile1",
         .section = MenuSection::Load,
         .order = 20,
         .enabled = [](const ui::ToolHost& host) { return selection::menuState(host.selection()).loadItems; },
         .run = restore},
        {.caption = "Cop&y", .objectName = "Directcopy1", .section = MenuSection::Button, .run = copy},
    };
}

} // namespace transfer
