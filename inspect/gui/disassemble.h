#pragma once
// The disassembly window: the selection's bytes as x86 instructions, with a jump to any address,
// jumps followed by a double click, and the listing copied to the clipboard. The rules are the
// engine's (inspect/disassembler.h); this class binds them to controls.

#include "core/fileinfo.h"
#include "core/job.h"
#include "inspect/disassembler.h"
#include "ui/tool_window.h"

#include <memory>
#include <vector>

class QGroupBox;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTreeWidget;

namespace platform {
class Backend;
class RawStream;
} // namespace platform

class TfrmDisAssemble : public ToolWindowBase<QWidget> {
    Q_OBJECT
public:
    // Holds the open stream, positioned where the first listing starts, until the window closes.
    // Messages go to `dialogs` (Qt message boxes of the window's own when null). With a parent the
    // window is still a window of its own, and goes with its parent at the latest; closed, it
    // deletes itself.
    TfrmDisAssemble(std::unique_ptr<platform::RawStream> stream, const disasm::DisasmLibrary& library,
                    Dialogs* dialogs = nullptr, QWidget* parent = nullptr);
    ~TfrmDisAssemble() override;

    QGroupBox* grbJump = nullptr;
    QLineEdit* edtAddr = nullptr;
    QPushButton* btnGoAddr = nullptr;
    QGroupBox* grbMax = nullptr;
    QSpinBox* sedMax = nullptr;
    QPushButton* btnCopyClipboard = nullptr;
    QTreeWidget* lvwDisassemble = nullptr;

    bool fileOpen() const { return stream_ != nullptr; }
    bool listing() const { return runningJobs() > 0; }
    const std::vector<disasm::Row>& rows() const { return rows_; }

public slots:
    void MakeListing();
    void btnGoAddrClick();
    void lvwDisassembleSelectItem();
    void lvwDisassembleDblClick();
    void btnCopyClipboardClick();

protected:
    void showEvent(QShowEvent* event) override;
    // A listing that runs stops at its next pump.
    void FormClose() override;
    // Only now, with no listing on the stack, is the stream free to go.
    void closedAndIdle() override { stream_.reset(); }

private:
    void buildLayout();

    std::unique_ptr<platform::RawStream> stream_;
    const disasm::DisasmLibrary& library_;
    std::vector<disasm::Row> rows_;
    bool listedOnce_ = false;
};

// The "Dis&assemble" command: opens the selection's file or device at its offset, with the
// messages of disasm::openForListing, then shows a new window captioned "Disassemble of " +
// DefaultName, which makes its first listing as it shows. Null when nothing was opened. The
// window belongs to `owner` and deletes itself when closed.
TfrmDisAssemble* OpenDisAssemble(QWidget* owner, platform::Backend& backend, Dialogs& dialogs,
                                 const TFileInfo& selection, const disasm::DisasmLibrary& library);
