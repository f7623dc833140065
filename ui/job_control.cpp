#include "ui/job_control.h"

#include "platform/platform.h"

#include <QCoreApplication>
#include <QProgressBar>
#include <QPushButton>

QtJobControl::QtJobControl(QProgressBar* bar, std::function<void(const QString&)> status, QPushButton* stop,
                           bool* stopFlag)
    : bar_(bar), status_(std::move(status)), stop_(stop), stopRequested_(stopFlag ? *stopFlag : ownStop_) {}

void QtJobControl::progress(const Progress& p) {
    const auto now = std::chrono::steady_clock::now();
    if (lastPercent_ >= 0 && now - lastUpdate_ < std::chrono::milliseconds(100) && p.bytes < p.total) {
        held_ = p;
        return;
    }
    show(p, now);
}

void QtJobControl::pump() {
    const auto now = std::chrono::steady_clock::now();
    if (now - lastPump_ >= std::chrono::milliseconds(5)) {
        lastPump_ = now;
        QCoreApplication::processEvents();
    }
    if (afterPump) afterPump();
}

bool QtJobControl::stopRequested() {
    return stopRequested_ || platform::interruptRequested();
}

void QtJobControl::busy(bool on) {
    busy_ = on;
    if (on) {
        startJob();
        if (onBusy) onBusy(true);
    } else {
        showHeld();
        if (onBusy) onBusy(false);
        if (stop_) stop_->hide();
        mayHaveEnded();
    }
}

void QtJobControl::stoppable(bool on) {
    stoppable_ = on;
    if (on) {
        startJob();
        if (!keepStop) stopRequested_ = false;
    } else {
        showHeld();
    }
    if (stop_) stop_->setVisible(on && !(keepStop && stopRequested_));
    if (!on) mayHaveEnded();
}

void QtJobControl::requestStop() {
    stopRequested_ = true;
    if (stop_) stop_->hide();
}

void QtJobControl::showHeld() {
    if (!held_) return;
    const Progress p = *held_; // show() lets go of the held update
    show(p, std::chrono::steady_clock::now());
}

void QtJobControl::show(const Progress& p, std::chrono::steady_clock::time_point now) {
    held_.reset();
    lastPercent_ = p.percent;
    lastUpdate_ = now;
    if (bar_) bar_->setValue(p.percent);
    if (status_ && !p.status.empty()) status_(QString::fromStdString(p.status));
}

void QtJobControl::startJob() {
    held_.reset();
    lastPercent_ = -1;
}

void QtJobControl::mayHaveEnded() {
    if (!acting() && onIdle) onIdle();
}
