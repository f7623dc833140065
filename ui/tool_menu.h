#pragma once
// What a tool gives the main window for its Selection-menu items, and what such an item runs
// against. The main window lays the items out and applies their rules; what a click does is the
// tool's.

#include "core/fileinfo.h"
#include "core/job.h"
#include "jobs/digest_set.h"

#include <QString>

#include <functional>
#include <optional>

class QWidget;

namespace platform {
class Backend;
}

// Known here by name only: the inspection tool loads it, and the main window hands it on.
namespace disasm {
class DisasmLibrary;
}

namespace ui {

// The main window as a menu item sees it when clicked.
class ToolHost {
public:
    virtual platform::Backend& backend() const = 0;
    virtual const TFileInfo& selection() const = 0;
    virtual const TFileInfo& copySource() const = 0;
    virtual const TFileInfo& copyTarget() const = 0;
    // The questions of an action, and its progress bar, status line and Stop.
    virtual Dialogs& dialogs() const = 0;
    virtual JobControl& jobControl() const = 0;
    // Owns the tool windows an item opens.
    virtual QWidget* parentWidget() const = 0;
    // The Extra menu's "Verify after writing" and "Compute digests while imaging".
    virtual bool verifyAfterWriting() const = 0;
    virtual bool digestsWhileImaging() const = 0;
    // Whether disassembly is offered, and the library loaded at start-up (null when none was).
    virtual bool disassemblerAvailable() const = 0;
    virtual const disasm::DisasmLibrary* disassembler() const = 0;

protected:
    ~ToolHost() = default;
};

// Where an item stands in the Selection menu. The sections follow each other in this order, each
// closed by a separator; Load and Overwrite lie in the "&Destructive actions" submenu. Within a
// section the items of every tool, and the main window's own, stand by their order number.
enum class MenuSection {
    View,      // viewers and tests of the selection
    Digests,   // checksums
    Save,      // copies the selection into a file
    Load,      // writes a file onto the selection
    Overwrite, // overwrites the selection in place
    Button,    // no menu entry: a button of the main window runs it
};

struct MenuItem {
    QString caption{};
    QString objectName{};
    MenuSection section = MenuSection::View;
    int order = 0;
    // Applied on every change of the selection; an empty rule leaves the item enabled.
    std::function<bool(const ToolHost&)> enabled{};
    // Applied once the window is built and on every change of the selection; an empty rule
    // leaves the item shown.
    std::function<bool(const ToolHost&)> visible{};
    std::function<void(ToolHost&)> run{};
};

// MD5, SHA-1 and SHA-256 of what a save reads, when the Extra menu asks for them.
std::optional<digest::Set> imagingDigests(const ToolHost& host);

} // namespace ui
