#pragma once
// The Qt side of a running job, one for every window that runs jobs: its progress bar and status
// line, the event pump, and its own Stop. Engines see only JobControl.

#include "core/job.h"

#include <QString>

#include <chrono>
#include <functional>
#include <optional>

class QProgressBar;
class QPushButton;

class QtJobControl : public JobControl {
public:
    // bar, status and stop may be missing (nullptr / empty) in windows that have none of them.
    // stopFlag: where the window keeps its stop request (its own when null).
    QtJobControl(QProgressBar* bar, std::function<void(const QString&)> status, QPushButton* stop,
                 bool* stopFlag = nullptr);

    // Repainting for every small block would cost more than the copying; a person sees no
    // difference between that and a few updates a second. An update held back is shown later
    // (showHeld), so the bar and the status line never stop short of where the job ended.
    void progress(const Progress& progress) override;
    // Lets events run, at most every few milliseconds: often enough for a click on Stop.
    void pump() override;
    bool stopRequested() override;
    Clock& clock() override { return clock_; }
    void busy(bool on) override;
    void stoppable(bool on) override;

    // A confirmed Stop: the job ends after its current block; the Stop button goes.
    void requestStop();
    // Shows an update that was held back.
    void showHeld();
    // True while a job holds busy mode or offers Stop.
    bool acting() const { return busy_ || stoppable_; }

    // Hooks for the owning window: its busy mode (locking its buttons), the end of a job, and
    // after every pump (benchmarks and tests that act part-way through a job).
    std::function<void(bool)> onBusy;
    std::function<void()> onIdle;
    std::function<void()> afterPump;
    // While true, an earlier stop request outlasts a Stop offered again (the program is ending).
    bool keepStop = false;

private:
    void show(const Progress& p, std::chrono::steady_clock::time_point now);
    void startJob();
    void mayHaveEnded();

    QProgressBar* bar_;
    std::function<void(const QString&)> status_;
    QPushButton* stop_;
    SystemClock clock_;
    bool ownStop_ = false;
    bool& stopRequested_;
    int lastPercent_ = -1;
    std::chrono::steady_clock::time_point lastUpdate_{};
    std::chrono::steady_clock::time_point lastPump_{};
    std::optional<Progress> held_;
    bool busy_ = false;
    bool stoppable_ = false;
};
