#pragma once
// The checksum window: one selection, one kind of digest, computed when the button is pressed.

#include "core/fileinfo.h"
#include "maintenance/checksum.h"
#include "ui/tool_window.h"

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
namespace platform {
class Backend;
}

class TfrmChecksum : public TToolWindow {
    Q_OBJECT
public:
    // dialogs: where its questions go (a Qt message box unless a test answers them).
    TfrmChecksum(platform::Backend& backend, const TFileInfo& selection, checksum::ChecksumKind kind,
                 Dialogs* dialogs = nullptr, QWidget* parent = nullptr);
    ~TfrmChecksum() override;

    bool StopRequested = false;

    QLabel* lblChecksum = nullptr;
    QLabel* lblChecksum2 = nullptr;
    QLineEdit* edtChecksum = nullptr;
    QLineEdit* edtChecksum2 = nullptr;
    QPushButton* btnCalculate = nullptr;
    QPushButton* btnClose = nullptr;
    QLabel* lblTime1 = nullptr;
    QLabel* lblTime2 = nullptr;
    QProgressBar* pgbProgress = nullptr;

public slots:
    void btnCalculateClick();
    void btnCloseClick();

protected:
    void FormClose() override { StopRequested = true; }
    // edtChecksumEnter: an edit that takes the focus selects all its text, ready to be copied.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    platform::Backend& backend_;
    const TFileInfo selection_;
    const checksum::ChecksumKind kind_;
};

// Opens a new checksum window (not modal, on top, deleted once closed) for a copy of the
// selection; kind is checksum::ChecksumKind (0 MD5, 1 SHA-1, 2 both).
void OpenChecksumWindow(platform::Backend& backend, const TFileInfo& selection, int kind, QWidget* owner);
