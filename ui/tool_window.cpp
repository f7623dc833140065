#include "ui/tool_window.h"

#include "ui/qt_dialogs.h"

#include <QBoxLayout>
#include <QCloseEvent>
#include <QFormLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>

template <class Window>
ToolWindowBase<Window>::ToolWindowBase(QWidget* parent, Qt::WindowFlags flags) : Window(parent, flags) {}

template <class Window> ToolWindowBase<Window>::~ToolWindowBase() = default;

template <class Window>
ToolJobControl& ToolWindowBase<Window>::makeJobControl(QProgressBar* bar, QPushButton* stop, bool* stopFlag) {
    job_ = std::make_unique<ToolJobControl>(bar, nullptr, stop, stopFlag);
    return *job_;
}

template <class Window> void ToolWindowBase<Window>::useDialogs(Dialogs* injected) {
    if (!injected) {
        ownDialogs_ = std::make_unique<QtDialogs>(this);
        injected = ownDialogs_.get();
    }
    dialogs_ = injected;
}

template <class Window> void ToolWindowBase<Window>::makeSelectionInfo(const TFileInfo& selection) {
    grbSelection = new QGroupBox("Selection info");
    const auto label = [](const QString& text, const char* name) {
        auto* l = new QLabel(text);
        l->setObjectName(name);
        l->setTextFormat(Qt::PlainText); // a description is never markup
        return l;
    };
    lblDevice = label(QString::fromStdString(selection.Description), "lblDevice");
    lblOffset = label(QString::number(selection.Offset), "lblOffset");
    lblSize = label(QString::number(selection.Size), "lblSize");
}

template <class Window>
void ToolWindowBase<Window>::addSelectionInfo(QBoxLayout* layout, const TFileInfo& selection) {
    makeSelectionInfo(selection);
    auto* form = new QFormLayout(grbSelection);
    form->addRow("Device", lblDevice);
    form->addRow("Offset", lblOffset);
    form->addRow("Length", lblSize);
    layout->addWidget(grbSelection);
}

template <class Window> void ToolWindowBase<Window>::centreOnScreen(const QSize& size) {
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        this->move(screen->availableGeometry().center() - QRect(QPoint(), size).center());
}

template <class Window> void ToolWindowBase<Window>::showFromMenu() {
    setDeleteWhenClosed(true);
    this->show();
    this->raise();
    this->activateWindow();
}

template <class Window> void ToolWindowBase<Window>::runJob(const std::function<void()>& job) {
    struct Running {
        ToolWindowBase& w;
        explicit Running(ToolWindowBase& w) : w(w) { ++w.running_; }
        ~Running() {
            --w.running_;
            w.deleteIfDone();
        }
    } running(*this);
    job();
}

template <class Window> void ToolWindowBase<Window>::closeEvent(QCloseEvent* event) {
    FormClose();
    closed_ = true;
    event->accept();
    deleteIfDone();
}

template <class Window> void ToolWindowBase<Window>::deleteIfDone() {
    if (!closed_ || running_ > 0) return;
    closedAndIdle();
    // Deleted from the event loop, after the handler that ran the last job has returned.
    if (deleteWhenClosed_) this->deleteLater();
}

template class ToolWindowBase<QWidget>;
template class ToolWindowBase<QMainWindow>;
template class ToolWindowBase<QDialog>;

TToolWindow::TToolWindow(QWidget* parent) : ToolWindowBase<QDialog>(parent) {
    setModal(false);
}
