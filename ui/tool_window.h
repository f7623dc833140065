#pragma once
// What the maintenance windows share: a job control whose clock a test can replace and that hands
// a tool's own progress updates to its window, and a window that outlives a close for as long as
// a job runs inside it (a job pumps events, so the close box can be clicked in the middle of it).

#include "core/fileinfo.h"
#include "ui/job_control.h"

#include <QDialog>

class QBoxLayout;
class QGroupBox;
class QLabel;

#include <functional>

class ToolJobControl : public QtJobControl {
public:
    using QtJobControl::QtJobControl;

    // Every update, after the bar has been served: chart points, time labels.
    std::function<void(const Progress&)> onProgress;
    // Tests run paced jobs on a fake clock.
    Clock* clockOverride = nullptr;

    void progress(const Progress& p) override {
        QtJobControl::progress(p);
        if (onProgress) onProgress(p);
    }
    Clock& clock() override { return clockOverride ? *clockOverride : QtJobControl::clock(); }
};

class TToolWindow : public QDialog {
    Q_OBJECT
public:
    explicit TToolWindow(QWidget* parent);

    // Opened from a menu: the window deletes itself once it is closed and no job runs in it.
    void setDeleteWhenClosed(bool on) { deleteWhenClosed_ = on; }
    // Jobs of this window running now (a job can start inside another's event pump).
    int runningJobs() const { return running_; }

    // The "Selection info" group: the selection's description, offset and size.
    QGroupBox* grbSelection = nullptr;
    QLabel* lblDevice = nullptr;
    QLabel* lblOffset = nullptr;
    QLabel* lblSize = nullptr;

protected:
    // Builds the "Selection info" group for `selection` at the end of `layout`.
    void addSelectionInfo(QBoxLayout* layout, const TFileInfo& selection);
    // Runs a job; the window stays until it returns, even when closed meanwhile.
    void runJob(const std::function<void()>& job);
    // Closing by the close box, Escape or a Close button: the window's own reaction (its stop
    // flag) comes first, then it hides.
    virtual void FormClose() {}
    void closeEvent(QCloseEvent* event) override;
    void reject() override { close(); }

private:
    void deleteIfDone();
    bool deleteWhenClosed_ = false;
    bool closed_ = false;
    int running_ = 0;
};
