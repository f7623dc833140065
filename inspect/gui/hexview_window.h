#pragma once
// The hex viewer and editor window: binds its controls to hexview::Viewer, which holds the rules.

#include "core/fileinfo.h"
#include "core/job.h"
#include "inspect/hexview.h"
#include "ui/tool_window.h"

#include <chrono>

class QAction;
class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class HexGrid;
class HexPageModel;

namespace platform {
class Backend;
}

// A main window for its menu bar and status line; its lifetime, close order, job control and
// "Selection info" group are the tool windows' own.
class TfrmHexView : public ToolWindowBase<QMainWindow>, private hexview::Display {
    Q_OBJECT
public:
    // dialogs: what questions and the overwrite gate go through; Qt's own when null.
    TfrmHexView(platform::Backend& backend, const TFileInfo& selection, QWidget* owner = nullptr,
                Dialogs* dialogs = nullptr);
    ~TfrmHexView() override;

    const hexview::Viewer& viewer() const { return viewer_; }
    HexPageModel* model() const { return model_; }

    // The byte distance a navigation button carries.
    static constexpr const char* kDistance = "distance";

    QLabel* lblInfo = nullptr;
    QLabel* lblRead = nullptr;
    QPushButton* btnStart = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* btnPrev = nullptr;
    QPushButton* Button2 = nullptr;
    QPushButton* btnRefresh = nullptr;
    QPushButton* Button3 = nullptr;
    QPushButton* btnNext = nullptr;
    QPushButton* Button4 = nullptr;
    QPushButton* btnEnd = nullptr;
    QLineEdit* edtAddress = nullptr;
    QPushButton* btnGo = nullptr;
    QGroupBox* rgrFilter = nullptr;
    QButtonGroup* rgrFilterItems = nullptr; // ids in hexview::Filter order
    QLineEdit* edtAscii = nullptr;
    QLineEdit* edtHex = nullptr;
    QCheckBox* chbCaseSensitive = nullptr;
    QPushButton* btnSearch = nullptr;
    QPushButton* btnStop = nullptr;
    HexGrid* sgdHexview = nullptr;
    QAction* Readonly1 = nullptr;
    QAction* Readandwrite1 = nullptr;

public slots:
    void btnStartClick();
    void btnBackClick();    // the backward buttons; the distance is the pressed button's
    void btnForwardClick(); // the forward buttons
    void btnEndClick();
    void btnRefreshClick();
    void btnGoClick();
    void rgrFilterClick();
    void edtHexChange();
    void btnSearchClick();
    void btnStopClick();
    void Readonly1Click();
    void Readandwrite1Click();
    void sgdHexviewSelectCell(const QModelIndex& current);
    // A cell editor's text changed.
    void sgdHexviewEdited(int row, int column, const QString& text);

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    // A refresh that runs stops at its next block.
    void FormClose() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildLayout();
    QPushButton* navigationButton(const QString& caption, const char* name, int64_t distance, bool forward);
    // Runs a refresh; keepPlace leaves the grid scrolled where it is (after a write, or "^").
    void refresh(hexview::Viewer::Kind kind, bool keepPlace);

    // hexview::Display
    void cleared() override;
    void blockAdded(int block) override;
    void info(const std::string& text) override;
    void readCount(const std::string& text) override;
    void address(const std::string& text) override;
    void status(const std::string& text) override;
    void showReadCount();

    platform::Backend& backend_;
    hexview::Viewer viewer_;
    HexPageModel* model_ = nullptr;
    bool shown_ = false;
    bool keepPlace_ = false;
    std::string readText_;
    std::chrono::steady_clock::time_point readShown_{};
};

// Opens a new, non-modal hex viewer on a copy of the selection; the window is deleted when it
// closes (and with its owner).
TfrmHexView* OpenHexView(platform::Backend& backend, const TFileInfo& selection, QWidget* owner,
                         Dialogs* dialogs = nullptr);
