#pragma once
// What every tool window shares, whatever kind of window it is (a dialog, a plain window, a main
// window with a menu bar): a job control whose clock a test can replace and that hands a tool's
// own progress updates to its window, the dialogs its questions go through, the "Selection info"
// group, and a window that outlives a close for as long as a job runs inside it (a job pumps
// events, so the close box can be clicked in the middle of it).

#include "core/fileinfo.h"
#include "ui/job_control.h"

#include <QDialog>
#include <QMainWindow>

#include <functional>
#include <memory>

class QBoxLayout;
class QCloseEvent;
class QGroupBox;
class QLabel;
class QtDialogs;

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

// Window is QDialog, QWidget (a window of its own) or QMainWindow (one with a menu bar); the
// three are instantiated in tool_window.cpp.
template <class Window> class ToolWindowBase : public Window {
public:
    explicit ToolWindowBase(QWidget* parent, Qt::WindowFlags flags = {});
    ~ToolWindowBase() override;

    // The window deletes itself once it is closed and no job runs in it.
    void setDeleteWhenClosed(bool on) { deleteWhenClosed_ = on; }
    // Opened from a menu: deleted once closed and idle, shown in front with the focus.
    void showFromMenu();
    // Jobs of this window running now (a job can start inside another's event pump).
    int runningJobs() const { return running_; }
    // The window's one job control, made by makeJobControl.
    ToolJobControl& jobControl() { return *job_; }

    // The "Selection info" group: the selection's description, offset and size.
    QGroupBox* grbSelection = nullptr;
    QLabel* lblDevice = nullptr;
    QLabel* lblOffset = nullptr;
    QLabel* lblSize = nullptr;

protected:
    // bar and stop may be null; stopFlag is where the window keeps its stop request (the job
    // control's own when null).
    ToolJobControl& makeJobControl(QProgressBar* bar, QPushButton* stop, bool* stopFlag = nullptr);
    // Questions go to `injected` (a test's script, the main window's dialogs), or to Qt message
    // boxes over this window when it is null.
    void useDialogs(Dialogs* injected);
    Dialogs& dialogs() { return *dialogs_; }
    // The "Selection info" group and its labels for `selection`, for the window to lay out.
    void makeSelectionInfo(const TFileInfo& selection);
    // The same group, laid out as a form at the end of `layout`.
    void addSelectionInfo(QBoxLayout* layout, const TFileInfo& selection);
    // Places the window, `size` large, in the middle of the primary screen's free area.
    void centreOnScreen(const QSize& size);

    // Runs a job; the window stays until it returns, even when closed meanwhile.
    void runJob(const std::function<void()>& job);
    // Closing by the close box, Escape (in a dialog) or a Close button: the window's own reaction
    // (its stop flag) comes first, then it hides.
    virtual void FormClose() {}
    // Closed and no job runs in it any more: what it holds open can go, before the window does.
    virtual void closedAndIdle() {}
    void closeEvent(QCloseEvent* event) override;

private:
    void deleteIfDone();
    std::unique_ptr<ToolJobControl> job_;
    std::unique_ptr<QtDialogs> ownDialogs_;
    Dialogs* dialogs_ = nullptr;
    bool deleteWhenClosed_ = false;
    bool closed_ = false;
    int running_ = 0;
};

extern template class ToolWindowBase<QWidget>;
extern template class ToolWindowBase<QMainWindow>;
extern template class ToolWindowBase<QDialog>;

// A tool window that is a dialog: never modal, and Escape closes it as the close box does.
class TToolWindow : public ToolWindowBase<QDialog> {
    Q_OBJECT
public:
    explicit TToolWindow(QWidget* parent);

protected:
    void reject() override { close(); }
};
