#pragma once
// The overwrite gate as a window: the target, the notices, and the typed agreement.

#include "app/actionui.h"
#include "app/fileinfo.h"

#include <QDialog>

#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QTextEdit;

class TfrmConfirmation : public QDialog {
    Q_OBJECT
public:
    explicit TfrmConfirmation(const TFileInfo& target, QWidget* parent = nullptr);

    QLabel* lblWarning = nullptr;
    QLabel* lblDevice = nullptr;
    QLabel* lblOffset = nullptr;
    QLabel* lblSize = nullptr;
    QTabWidget* pgcLanguages = nullptr;
    QLineEdit* edtAgree = nullptr;
    QPushButton* btnOk = nullptr;
    QPushButton* btnCancel = nullptr;

public slots:
    void edtAgreeChange();

protected:
    // Enter and Escape close nothing: only the buttons and the close box do.
    void keyPressEvent(QKeyEvent* event) override;
};

// Runs the gate for a range about to be overwritten: the dialog, then the second question asked
// through `questions`. True only after the typed agreement and Yes. `run` shows the dialog and
// returns its result (exec() unless a test drives it).
bool ConfirmOverwrite(const TFileInfo& target, QWidget* owner, ActionUi& questions,
                      const std::function<int(TfrmConfirmation&)>& run = {});
