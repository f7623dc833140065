#pragma once
// The progress window of "Save as zip" (TfrmSaveAsZip) and the openers of the image container
// commands for the main window.

#include "core/fileinfo.h"
#include "core/job.h"
#include "jobs/byte_observer.h"
#include "ui/tool_window.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace platform {
class Backend;
}

// "Save as zip": a small window that stays on top, centred on the desktop, with a bar and Stop.
// Stop asks its question; closing the window by its title bar stops without asking. The export
// that shows it owns it: closing only hides it.
class TfrmSaveAsZip : public ToolWindowBase<QWidget> {
    Q_OBJECT
public:
    explicit TfrmSaveAsZip(Dialogs& dialogs);

    QLabel* lblCaption;
    QProgressBar* pgbProgress;
    QPushButton* btnStop;
    bool StopFlag = false;

protected:
    void FormClose() override { StopFlag = true; }

private:
    void btnStopClick();
};

// "Save as zip (2GB max)": asks for the archive and exports the selection into it, with the
// progress window. The last chosen archive is offered again by the next export.
void SaveAsZip(platform::Backend& backend, const TFileInfo& selection, QWidget* owner,
               jobs::ByteObserver* digests = nullptr);
// The same, asking through `dialogs` (tests answer from a script).
void SaveAsZip(platform::Backend& backend, Dialogs& dialogs, const TFileInfo& selection,
               jobs::ByteObserver* digests = nullptr);
