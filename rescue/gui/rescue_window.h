#pragma once
// The rescue window: image and map file names, the run's choices, Start and Stop, the counters
// and a live map of the selection, and at the end the summary with the bad ranges.

#include "core/fileinfo.h"
#include "rescue/rescue.h"
#include "ui/tool_window.h"

#include <optional>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class TRescueMap;
namespace platform {
class Backend;
}

class TfrmRescue : public TToolWindow {
    Q_OBJECT
public:
    // dialogs: where its questions and file choices go (Qt's unless a test answers them).
    TfrmRescue(platform::Backend& backend, const TFileInfo& selection, Dialogs* dialogs = nullptr,
               QWidget* parent = nullptr);
    ~TfrmRescue() override;

    bool StopRequested = false;

    QGroupBox* grbFiles = nullptr;
    QLineEdit* edtImage = nullptr;
    QPushButton* btnImage = nullptr;
    QLineEdit* edtMap = nullptr;
    QPushButton* btnMap = nullptr;

    QGroupBox* grbOptions = nullptr;
    QLineEdit* edtFill = nullptr;
    QSpinBox* sedRetries = nullptr;
    QCheckBox* chkReverse = nullptr;
    QCheckBox* chkSplit = nullptr;
    QCheckBox* chkScrape = nullptr;
    // The bytes a split read takes: the device's physical sector (item 0), or a size chosen for a
    // drive that reports it wrong.
    QComboBox* cboSectorSize = nullptr;

    QGroupBox* grbStatus = nullptr;
    QLabel* lblRescued = nullptr;
    QLabel* lblBadBytes = nullptr;
    QLabel* lblBadAreas = nullptr;
    QLabel* lblPhase = nullptr;
    QLabel* lblRate = nullptr;
    QLabel* lblSinceGood = nullptr;

    QGroupBox* grbMap = nullptr;
    TRescueMap* imgMap = nullptr;
    QLabel* lblScale = nullptr;

    QGroupBox* grbResult = nullptr;
    QLabel* lblSummary = nullptr;
    QPlainTextEdit* txtBadRanges = nullptr;

    QPushButton* btnStart = nullptr;
    QPushButton* btnStop = nullptr;
    QPushButton* btnClose = nullptr;

    // The last run's result, once one has ended.
    const std::optional<rescue::Result>& result() const { return result_; }

public slots:
    void btnImageClick();
    void btnMapClick();
    void btnStartClick();
    void btnStopClick() { StopRequested = true; }
    void btnCloseClick() { close(); }

protected:
    // Closing during a run stops it; the engine writes the map on the way out.
    void FormClose() override { StopRequested = true; }

private:
    // A name chosen in a save dialog without its overwrite question, or nothing.
    std::optional<QString> chooseName(const char* filter, const char* extension, const QString& current);
    void imageEdited(const QString& text);
    void running(bool on);
    void take(const Progress& p);
    void showStatus(const rescue::Status& s);
    void showScale();
    void showResult(const rescue::Result& r);

    platform::Backend& backend_;
    const TFileInfo selection_;
    // The map name the image's name proposes; the map edit follows the image edit while it
    // still shows this.
    QString proposedMap_;
    std::optional<rescue::Result> result_;
    // Where the run's rate is measured from, and when the counters were last redrawn.
    int64_t startMs_ = 0;
    int64_t startRescued_ = -1;
    int64_t lastShownMs_ = 0;
};

// Opens a new rescue window (not modal, centred, deleted once closed and idle) for a copy of the
// selection.
void OpenRescueWindow(platform::Backend& backend, const TFileInfo& selection, QWidget* owner);
