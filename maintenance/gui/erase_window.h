#pragma once
// The erase window: one selection, a fill method, and Erase behind the overwrite gate.

#include "core/fileinfo.h"
#include "maintenance/erase.h"
#include "ui/tool_window.h"

class QButtonGroup;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
namespace platform {
class Backend;
}

class TfrmWipeData : public TToolWindow {
    Q_OBJECT
public:
    // dialogs: where its questions and the gate go (Qt's unless a test answers them).
    TfrmWipeData(platform::Backend& backend, const TFileInfo& selection, Dialogs* dialogs = nullptr,
                 QWidget* parent = nullptr);
    ~TfrmWipeData() override;

    bool StopRequested = false;

    QGroupBox* rgrWipeChar = nullptr;
    QButtonGroup* rgrWipeCharItems = nullptr; // the items, by index
    QGroupBox* grbSelectedChar = nullptr;
    QLineEdit* edtChar = nullptr;
    QPushButton* btnErase = nullptr;
    QPushButton* btnStop = nullptr;
    QPushButton* btnClose = nullptr;
    QProgressBar* pgbProgress = nullptr;

    int itemIndex() const;

public slots:
    void rgrWipeCharClick(int item);
    void edtCharChange(const QString& text);
    void btnEraseClick();
    void btnStopClick() { StopRequested = true; }
    void btnCloseClick() { close(); }

protected:
    // edtCharKeyPress: typed characters other than hexadecimal digits are discarded.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    platform::Backend& backend_;
    const TFileInfo selection_;
};

// Opens a new erase window (not modal, centred, deleted once closed and idle) for a copy of the
// selection.
void OpenEraseWindow(platform::Backend& backend, const TFileInfo& selection, QWidget* owner);
