#include "ui/application.h"

#include "ui/qt_dialogs.h"

namespace {
std::function<void(const std::string&)>& sink() {
    static std::function<void(const std::string&)> s;
    return s;
}
} // namespace

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName("Tarnwick");
}

void TApplication::setErrorSink(std::function<void(const std::string&)> s) {
    sink() = std::move(s);
}

void TApplication::reportError(const std::string& message) {
    if (sink()) {
        sink()(message);
        return;
    }
    // The same box as every other message: plain text, so a file name in it shows as named.
    QtDialogs(activeWindow()).error(message);
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        reportError(e.what());
    } catch (...) {
        reportError("Unexpected error");
    }
    return false;
}
