#include "ui/tool_window.h"

#include <QBoxLayout>
#include <QCloseEvent>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>

TToolWindow::TToolWindow(QWidget* parent) : QDialog(parent) {
    setModal(false);
}

void TToolWindow::addSelectionInfo(QBoxLayout* layout, const TFileInfo& selection) {
    grbSelection = new QGroupBox("Selection info");
    auto* form = new QFormLayout(grbSelection);
    const auto label = [](const QString& text, const char* name) {
        auto* l = new QLabel(text);
        l->setObjectName(name);
        l->setTextFormat(Qt::PlainText); // a description is never markup
        return l;
    };
    lblDevice = label(QString::fromStdString(selection.Description), "lblDevice");
    lblOffset = label(QString::number(selection.Offset), "lblOffset");
    lblSize = label(QString::number(selection.Size), "lblSize");
    form->addRow("Device", lblDevice);
    form->addRow("Offset", lblOffset);
    form->addRow("Length", lblSize);
    layout->addWidget(grbSelection);
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
