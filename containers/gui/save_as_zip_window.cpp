#include "containers/gui/save_as_zip_window.h"

#include "containers/save_as_zip.h"
#include "ui/qt_dialogs.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

TfrmSaveAsZip::TfrmSaveAsZip(Dialogs& dialogs)
    : ToolWindowBase(nullptr, Qt::Window | Qt::WindowStaysOnTopHint),
      lblCaption(new QLabel("Saving as zip", this)), pgbProgress(new QProgressBar(this)),
      btnStop(new QPushButton("&Stop", this)) {
    setObjectName("frmSaveAsZip");
    useDialogs(&dialogs);
    makeJobControl(pgbProgress, btnStop, &StopFlag);
    setWindowTitle("Save as zip");
    lblCaption->setObjectName("lblCaption");
    pgbProgress->setObjectName("pgbProgress");
    pgbProgress->setRange(0, 100);
    pgbProgress->setValue(0);
    btnStop->setObjectName("btnStop");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lblCaption);
    layout->addWidget(pgbProgress);
    layout->addWidget(btnStop, 0, Qt::AlignHCenter);
    connect(btnStop, &QPushButton::clicked, this, &TfrmSaveAsZip::btnStopClick);
    resize(320, 110);
    centreOnScreen(size());
}

void TfrmSaveAsZip::btnStopClick() {
    if (!containers::ConfirmZipStop(dialogs())) return;
    StopFlag = true;
    hide();
}

namespace {

class ShownWindow final : public containers::ZipProgressWindow {
public:
    explicit ShownWindow(Dialogs& dialogs) : window_(std::make_unique<TfrmSaveAsZip>(dialogs)) {
        window_->show();
        window_->raise();
        window_->activateWindow();
    }
    JobControl& job() override { return window_->jobControl(); }

private:
    std::unique_ptr<TfrmSaveAsZip> window_;
};

// The save dialog keeps the last chosen name between exports, as the main window's dialog does.
std::string& lastArchive() {
    static std::string name;
    return name;
}

} // namespace

void SaveAsZip(platform::Backend& backend, Dialogs& dialogs, const TFileInfo& selection,
               jobs::ByteObserver* digests) {
    containers::SaveAsZipCommand(
        backend, dialogs, [&dialogs] { return std::make_unique<ShownWindow>(dialogs); }, selection,
        lastArchive(), digests);
}

void SaveAsZip(platform::Backend& backend, const TFileInfo& selection, QWidget* owner,
               jobs::ByteObserver* digests) {
    QtDialogs dialogs(owner);
    SaveAsZip(backend, dialogs, selection, digests);
}
