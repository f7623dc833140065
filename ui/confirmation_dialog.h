#pragma once
// The overwrite gate as a window: the target, the notices, and the typed agreement.

#include "core/fileinfo.h"

#include <QDialog>

#include <functional>
#include <optional>
#include <string>

class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QTextEdit;

class TfrmConfirmation : public QDialog {
    Q_OBJECT
public:
    // disk: the gate's line naming the physical disk (gate::diskLine), shown below the range;
    // empty for a file, and then no line is shown.
    explicit TfrmConfirmation(const TFileInfo& target, QWidget* parent = nullptr,
                              const std::string& disk = {});

    QLabel* lblWarning = nullptr;
    QLabel* lblDevice = nullptr;
    QLabel* lblOffset = nullptr;
    QLabel* lblSize = nullptr;
    QLabel* lblDisk = nullptr;
    QTabWidget* pgcLanguages = nullptr;
    QLineEdit* edtAgree = nullptr;
    QPushButton* btnOk = nullptr;
    QPushButton* btnCancel = nullptr;

public slots:
    void edtAgreeChange();

protected:
    // Enter and Escape close nothing: only the buttons and the close box do.
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
};

// Shows the gate's window (a fresh one for every question) for a range about to be overwritten,
// with the line that names its disk: what was typed when it closed with OK, nothing otherwise.
// The rule and the question after it are the engine's (gate::ConfirmOverwrite). `run` shows the
// window and returns its result (exec() unless a test drives it).
std::optional<std::string> ShowConfirmation(const TFileInfo& target, const std::string& disk, QWidget* owner,
                                            const std::function<int(TfrmConfirmation&)>& run = {});
