#include "maintenance/gui/tool_window.h"

#include <QCloseEvent>

TToolWindow::TToolWindow(QWidget* parent) : QDialog(parent) {
    setModal(false);
}

void TToolWindow::runJob(const std::function<void()>& job) {
    struct Running {
        TToolWindow& w;
        explicit Running(TToolWindow& w) : w(w) { ++w.running_; }
        ~Running() {
            --w.running_;
            w.deleteIfDone();
        }
    } running(*this);
    job();
}

void TToolWindow::closeEvent(QCloseEvent* event) {
    FormClose();
    closed_ = true;
    event->accept();
    deleteIfDone();
}

void TToolWindow::deleteIfDone() {
    // Deleted from the event loop, after the handler that ran the last job has returned.
    if (closed_ && running_ == 0 && deleteWhenClosed_) deleteLater();
}
